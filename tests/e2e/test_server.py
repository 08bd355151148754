#!/usr/bin/env python3
"""The scripted server, seen from a plain TLS socket: the engine tests are
only as good as what it puts on the wire (a "cut" that is no cut, or a wrong
Content-Length sent as the right one, would let them pass for nothing).
Runs on the host alone, no Wine."""
import json
import os
import socket
import ssl
import subprocess
import sys
import time
import unittest

import harness


def fetch(srv, path, timeout=10):
    """Raw GET: (status line, [(name, value)], body bytes, seconds)."""
    ctx = ssl.create_default_context(cafile=os.path.join(harness.config().pki, "ca.pem"))
    start = time.monotonic()
    with socket.create_connection(("127.0.0.1", srv.port), timeout=timeout) as raw:
        with ctx.wrap_socket(raw, server_hostname="localhost") as s:
            s.sendall(("GET %s HTTP/1.1\r\nHost: localhost\r\nUser-Agent: probe/1\r\n"
                       "Cookie: a=b\r\n\r\n" % path).encode())
            data = b""
            while True:
                try:
                    got = s.recv(65536)
                except (ssl.SSLError, ConnectionResetError):
                    break
                if not got:
                    break
                data += got
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = [tuple(l.split(": ", 1)) for l in lines[1:] if l]
    return lines[0], headers, body, time.monotonic() - start


def value(headers, name):
    return [v for k, v in headers if k.lower() == name.lower()]


class ServerOnTheWire(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = harness.start_server(max_stall=1.0)

    @classmethod
    def tearDownClass(cls):
        cls.srv.stop()

    def test_length_header_variants(self):
        for rt, expected in [
            ({"body_size": 1000}, ["1000"]),
            ({"body_size": 1000, "content_length": None}, []),
            ({"body_size": 10, "content_length": "12ab"}, ["12ab"]),
        ]:
            with self.subTest(route=rt):
                self.srv.route("/len", **rt)
                _, headers, body, _ = fetch(self.srv, "/len")
                self.assertEqual(value(headers, "Content-Length"), expected)
                self.assertEqual(body, harness.pattern_bytes(rt["body_size"]))

    def test_status_line_and_headers_as_scripted(self):
        self.srv.route("/raw-status", status_line="HTTP/1.1 2147483648 Huge",
                       headers=[["Set-Cookie", "x=1"], ["Content-Disposition", "a; filename=b"]],
                       body="z")
        status, headers, _, _ = fetch(self.srv, "/raw-status")
        self.assertEqual(status, "HTTP/1.1 2147483648 Huge")
        self.assertEqual(value(headers, "Set-Cookie"), ["x=1"])
        self.assertEqual(value(headers, "Content-Disposition"), ["a; filename=b"])
        self.srv.route("/redirect", redirect="/elsewhere")
        status, headers, _, _ = fetch(self.srv, "/redirect")
        self.assertEqual(status, "HTTP/1.1 302 Found")
        self.assertEqual(value(headers, "Location"), ["/elsewhere"])

    def test_cut_closes_after_exactly_k_bytes(self):
        self.srv.route("/cut", body_size=100000, cut_after=50000)
        _, headers, body, _ = fetch(self.srv, "/cut")
        self.assertEqual(value(headers, "Content-Length"), ["100000"])
        self.assertEqual(body, harness.pattern_bytes(50000))
        self.assertEqual(self.srv.requests("/cut")[-1]["outcome"], "cut")

    def test_chunked_framing(self):
        for omit_last, tail in [(False, b"0\r\n\r\n"), (True, b"")]:
            with self.subTest(omit_last=omit_last):
                self.srv.route("/chunked", body_size=10, chunked=True, chunk=4,
                               chunked_omit_last=omit_last)
                _, headers, body, _ = fetch(self.srv, "/chunked")
                self.assertEqual(value(headers, "Transfer-Encoding"), ["chunked"])
                p = harness.pattern_bytes(10)
                self.assertEqual(body, b"4\r\n" + p[:4] + b"\r\n4\r\n" + p[4:8] + b"\r\n2\r\n"
                                 + p[8:] + b"\r\n" + tail)

    def test_pacing_and_bounded_stall(self):
        self.srv.route("/paced", body_size=400, chunk=100, delay=0.1)
        *_, took = fetch(self.srv, "/paced")
        self.assertGreaterEqual(took, 0.3)
        self.srv.route("/stall", body="late", stall=3600)  # bounded by max_stall=1
        _, _, body, took = fetch(self.srv, "/stall")
        self.assertEqual(body, b"late")
        self.assertLess(took, 5)

    def test_raw_reply_and_silent_close(self):
        self.srv.route("/junk", raw="not http at all\r\n")
        self.assertEqual(fetch(self.srv, "/junk")[0], "not http at all")
        self.srv.route("/silent", raw="")
        self.assertEqual(fetch(self.srv, "/silent")[0], "")

    def test_requests_are_logged(self):
        self.srv.clear()
        fetch(self.srv, "/nowhere?serial=a&year=2024")
        (entry,) = self.srv.requests()
        self.assertEqual((entry["path"], entry["query"]), ("/nowhere", "serial=a&year=2024"))
        self.assertEqual(harness.header(entry, "user-agent"), "probe/1")
        self.assertEqual(harness.header(entry, "Cookie"), "a=b")
        self.assertEqual(self.srv.connections(), 1)

    def test_standalone_process_serves_routes_and_ends_by_itself(self):
        cfg = harness.config()
        routes = os.path.join(cfg.work, "standalone-routes.json")
        os.makedirs(cfg.work, exist_ok=True)
        with open(routes, "w") as f:
            json.dump({"/hello": {"body": "hi"}}, f)
        port = harness.free_port()
        proc = subprocess.Popen(
            [sys.executable, os.path.join(harness.HERE, "server.py"), "--port", str(port),
             "--cert", os.path.join(cfg.pki, "server.pem"),
             "--key", os.path.join(cfg.pki, "server.key"), "--routes", routes, "--lifetime", "2"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            self.assertEqual(proc.stdout.readline().decode().strip(), "listening %d" % port)
            probe = type("P", (), {"port": port})
            self.assertEqual(fetch(probe, "/hello")[2], b"hi")
            self.assertEqual(proc.wait(10), 0)
        finally:
            if proc.poll() is None:
                proc.kill()
            proc.stdout.close()


if __name__ == "__main__":
    harness.main()

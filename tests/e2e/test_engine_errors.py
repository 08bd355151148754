#!/usr/bin/env python3
"""How the download engine fails: the status check, refused redirects, short
bodies, connection and certificate failures. Each must raise with the text the
user will read, and never report "Completed"."""
import os

import harness


class EngineErrors(harness.ServerCase):

    def assert_failed(self, run):
        self.assertFalse(run.ok, run)
        self.assertIsNotNone(run.error, run)
        self.assertNotIn("Completed", run.statuses)

    def test_status_other_than_200_names_reason_and_code(self):
        cases = [
            ({"status": 404, "body": "missing"}, "Not Found (404)"),
            ({"status_line": "HTTP/1.1 404 ", "body": "x"}, " (404)"),
            ({"status": 500, "body": "oops"}, "Internal Server Error (500)"),
            ({"status_line": "HTTP/1.1 418 Teapot Here", "body": "x"}, "Teapot Here (418)"),
            ({"status": 206, "body": "part"}, "Partial Content (206)"),
            ({"status": 204, "content_length": None}, "No Content (204)"),
        ]
        for i, (rt, message) in enumerate(cases):
            with self.subTest(message):
                path = "/status-%d" % i
                self.srv.route(path, **rt)
                out = os.path.join(self.tmp.name, "status-%d.bin" % i)
                run = harness.run_engine(self.srv.url(path), out=out)
                self.assert_failed(run)
                self.assertEqual(run.error[0], "Exception")
                self.assertEqual(run.message, message)
                # The status is checked before any byte of the body is read.
                self.assertEqual(run.progress, [])
                self.assertEqual(os.path.getsize(out), 0)

    def test_status_number_beyond_32_bits_is_never_negative(self):
        # Wine saturates the number at 2147483647; Windows hands over the top
        # bit, which the range check must catch.
        self.srv.route("/huge-status", status_line="HTTP/1.1 2147483648 Huge", body="x")
        run = harness.run_engine(self.srv.url("/huge-status"))
        self.assert_failed(run)
        self.assertIn(run.message, ["Huge (2147483647)", "Range check error"])

    def test_redirect_to_http_is_refused(self):
        plain = harness.start_server(plain=True)
        try:
            plain.route("/insecure", body_size=5000)
            self.srv.route("/to-http", redirect=plain.url("/insecure"))
            out = os.path.join(self.tmp.name, "to-http.bin")
            run = harness.run_engine(self.srv.url("/to-http"), out=out)
            self.assert_failed(run)
            self.assertEqual(run.message, "Insecure redirect to " + plain.url("/insecure"))
            self.assertEqual(run.progress, [])
            self.assertEqual(os.path.getsize(out), 0)
        finally:
            plain.stop()

    def test_body_cut_short_is_an_error(self):
        cases = [
            # (route, message, bytes that reach the stream)
            ({"body_size": 100000, "cut_after": 50000},
             "Download incomplete: 50000 of 100000 bytes received", 50000),
            ({"body_size": 100000, "cut_after": 0},
             "Download incomplete: 0 of 100000 bytes received", 0),
            ({"body": "", "content_length": 10},
             "Download incomplete: 0 of 10 bytes received", 0),
        ]
        for i, (rt, message, kept) in enumerate(cases):
            with self.subTest(message):
                path = "/cut-%d" % i
                self.srv.route(path, **rt)
                out = os.path.join(self.tmp.name, "cut-%d.bin" % i)
                run = harness.run_engine(self.srv.url(path), out=out)
                self.assert_failed(run)
                self.assertEqual(run.message, message)
                # What did arrive stays in the stream.
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), harness.pattern_bytes(kept))

    def test_silence_mid_body_is_a_time_out_not_an_end(self):
        # Wine's client ends a read held for 40 s only when the server closes,
        # and then as if the body had ended; without a length only the time
        # tells the two apart.
        self.addCleanup(setattr, self.srv, "max_stall", self.srv.max_stall)
        self.srv.max_stall = 40
        self.srv.route("/held", body_size=100000, content_length=None, hold_after=50000)
        run = harness.run_engine(self.srv.url("/held"), timeout=120)
        self.assert_failed(run)
        self.assertEqual(run.error[:2], ("EOSError", 12002))

    def test_connection_refused_gives_client_text(self):
        port = harness.free_port()  # nobody listens there
        run = harness.run_engine("https://localhost:%d/installer.php" % port)
        self.assert_failed(run)
        self.assertEqual(run.error[:2], ("EOSError", 12029))
        self.assertEqual(run.message, "The attempt to connect to the server failed")
        self.assertNotIn("Downloading...", run.statuses)

    def test_handshake_failures(self):
        # Wine has no text for 12045/12057, nor for a server with only TLS 1.3
        # (its client, as Windows 10's, lacks it): the system-error form then
        # carries the client's code, not the failed look-up's. A wrong host
        # name (12038) has a client text.
        for name, server, host in [
            ("untrusted CA, leaf only", {"trusted": False}, "localhost"),
            ("untrusted CA, with its root", {"trusted": False, "chain": True}, "localhost"),
            ("name not in certificate", {}, "127.0.0.1"),
            ("TLS 1.3 only", {"tls13_only": True}, "localhost"),
        ]:
            with self.subTest(name):
                srv = harness.start_server(**server)
                try:
                    srv.route("/installer.php", body_size=100)
                    run = harness.run_engine("https://%s:%d/installer.php" % (host, srv.port))
                    if run.ok and server.get("tls13_only"):
                        continue  # a client with TLS 1.3 (Windows 11)
                    self.assert_failed(run)
                    self.assertEqual(run.error[0], "EOSError")
                    # The client did reach the server, and sent nothing over
                    # the connection it did not trust.
                    self.assertGreaterEqual(srv.connections(), 1)
                    self.assertEqual(srv.requests(), [], "no request may pass a failed check")
                    code = run.error[1]
                    self.assertTrue(12000 <= code < 13000, "not the client's code: %r" % (run.error,))
                    if host == "localhost":
                        if run.message.startswith("System Error"):
                            self.assertEqual(run.message, "System Error.  Code: %d.\r\n" % code)
                    else:
                        self.assertEqual(code, 12038)
                        self.assertFalse(run.message.startswith("System Error"), run.message)
                        self.assertTrue(run.message)
                finally:
                    srv.stop()

    def test_server_closing_without_answer_is_an_error(self):
        self.srv.route("/silent", raw="")
        out = os.path.join(self.tmp.name, "silent.bin")
        run = harness.run_engine(self.srv.url("/silent"), out=out)
        self.assert_failed(run)
        self.assertEqual(os.path.getsize(out), 0)


if __name__ == "__main__":
    harness.main()

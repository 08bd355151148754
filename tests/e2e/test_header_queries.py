#!/usr/bin/env python3
"""QueryInfoString, QueryInfoNumber and QueryContentLength on responses from
the real server, read through WinInet as the engine reads them."""
import unittest

import harness

STATUS_CODE, STATUS_TEXT, CONTENT_LENGTH, CONTENT_DISPOSITION = 19, 20, 5, 47


def parse(lines):
    """enginecli --query lines -> list of tuples, texts unescaped."""
    out = []
    for line in lines:
        kind, _, rest = line.partition(" ")
        if kind == "string":
            level, ok, length, *text = rest.split(" ", 3)
            out.append(("string", int(level), ok == "1", int(length),
                        harness.unescape(text[0] if text else "")))
        elif kind == "number":
            level, result, *more = rest.split(" ", 2)
            if result == "raised":
                out.append(("number", int(level), "raised", harness.unescape(more[0])))
            else:
                out.append(("number", int(level), result == "1", int(more[0])))
        elif kind == "contentlength":
            ok, value = rest.split()
            out.append(("contentlength", ok == "1", int(value)))
        else:
            out.append((kind, rest))
    return out


class HeaderQueries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.srv = harness.start_server()

    @classmethod
    def tearDownClass(cls):
        cls.srv.stop()

    def query(self, path, *queries):
        return parse(harness.run_queries(self.srv.url(path), *queries))

    def test_status_line(self):
        cases = [
            ({"status": 404, "body": "x"}, 404, "Not Found"),
            ({"status": 200, "body": "x"}, 200, "OK"),
            ({"status_line": "HTTP/1.1 503 Busy Right Now", "body": "x"}, 503, "Busy Right Now"),
            ({"status_line": "HTTP/1.1 404 ", "body": "x"}, 404, ""),
        ]
        for i, (rt, code, reason) in enumerate(cases):
            with self.subTest(code=code, reason=reason):
                self.srv.route("/status-%d" % i, **rt)
                number, text = self.query("/status-%d" % i, "19:n", "20:s")
                self.assertEqual(number, ("number", STATUS_CODE, True, code))
                self.assertEqual(text, ("string", STATUS_TEXT, True, len(reason), reason))

    def test_status_number_with_top_bit(self):
        # Wine saturates at 2147483647 before the check can see it; on Windows
        # the check raises. A negative or wrapped status is wrong on both.
        self.srv.route("/huge", status_line="HTTP/1.1 2147483648 Huge", body="x")
        (result,) = self.query("/huge", "19:n")
        self.assertIn(result, [("number", STATUS_CODE, True, 2147483647),
                               ("number", STATUS_CODE, "raised", "Range check error")])

    def test_header_values_come_back_exactly(self):
        # 62 characters fit the first buffer with their terminating zero; 63 and
        # up take the second query, which must not keep the zero or lose a byte.
        # (Wine cuts a header line at 4095 bytes, so the longest stays below.)
        for length in [1, 61, 62, 63, 64, 65, 300, 4000]:
            with self.subTest(length=length):
                value = "".join(chr(ord("a") + (i % 26)) for i in range(length - 1)) + "Z"
                path = "/header-%d" % length
                self.srv.route(path, body="x", headers=[["Content-Disposition", value]])
                (result,) = self.query(path, "47:s")
                self.assertEqual(result, ("string", CONTENT_DISPOSITION, True, length, value))

    def test_missing_header_is_false_and_empty(self):
        self.srv.route("/plain", body="x")
        (result,) = self.query("/plain", "47:s")
        self.assertEqual(result, ("string", CONTENT_DISPOSITION, False, 0, ""))

    def test_content_length(self):
        cases = [
            # (header as sent, None = absent; expected ok; expected value)
            ("1048576", True, 1048576),
            (None, False, 0),
            ("12ab", False, 12),
            ("0", True, 0),
            ("5000000000", True, 5000000000),
            ("0x10", True, 16),
        ]
        for header, ok, value in cases:
            with self.subTest(header=header):
                path = "/length-%s" % header
                # Only the headers matter: the body is not read.
                self.srv.route(path, body="", content_length=header)
                (result,) = self.query(path, "cl")
                self.assertEqual(result, ("contentlength", ok, value))

    def test_queries_read_the_final_response_after_redirect(self):
        self.srv.route("/there", status_line="HTTP/1.1 200 Arrived", body_size=1000,
                       headers=[["Content-Disposition", "final"]])
        self.srv.route("/here", redirect="/there", headers=[["Content-Disposition", "first"]])
        results = self.query("/here", "19:n", "20:s", "47:s", "cl")
        self.assertEqual(results, [
            ("number", STATUS_CODE, True, 200),
            ("string", STATUS_TEXT, True, 7, "Arrived"),
            ("string", CONTENT_DISPOSITION, True, 5, "final"),
            ("contentlength", True, 1000),
        ])


if __name__ == "__main__":
    harness.main()

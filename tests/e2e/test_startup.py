#!/usr/bin/env python3
"""Start-up failures of the program: builds whose string table or version
resource is incomplete show the entry's "Error" box before any dialog, and the
process still exits with 0 once the box is closed; builds whose main block
fails in a way not of the program's own kind reach the last resort."""
import re
import unittest

import harness

DIALOG_CAPTIONS = ["Quillet for 2024 Downloader", "Quillet Downloader"]


class StartupFailures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.require_display()

    def check_error_box_only(self, variant):
        with harness.Driver() as d:
            pid = d.start(harness.config().exe(variant))
            box = d.find("Error", 20000)
            self.assertIsNotNone(box, "no Error box; windows: %r" % d.cmd("windows"))
            # While the box is up, no progress dialog exists at all.
            for caption in DIALOG_CAPTIONS:
                self.assertIsNone(d.find(caption, 0), caption)
            mine = [b for b in d.boxes() if b["pid"] == pid]
            self.assertEqual([b["caption"] for b in mine], ["Error"], mine)
            text = d.answer("Error", "", 1, 5000)
            self.assertTrue(text.startswith("System Error.  Code: ")
                            or text == "A call to an OS function failed", repr(text))
            self.assertEqual(d.wait(15000), 0)
            for caption in DIALOG_CAPTIONS:
                self.assertIsNone(d.find(caption, 0), caption)
            return text

    def test_missing_or_empty_configuration(self):
        for variant in ["qd_no_serial", "qd_empty_serial", "qd_no_version"]:
            with self.subTest(variant):
                text = self.check_error_box_only(variant)
                if text.startswith("System Error.  Code: "):
                    # "System Error.  Code: %d.\r\n%s": a number, then the system text.
                    code, _, rest = text[len("System Error.  Code: "):].partition(".\r\n")
                    self.assertTrue(code.isdigit() and int(code) > 0, repr(text))
                    self.assertFalse(rest.endswith((".", " ", "\r", "\n")), repr(text))

    def test_foreign_errors_reach_the_last_resort(self):
        # The variants' main blocks throw a std::runtime_error, write through
        # a null pointer or read past a string's end: "Application Error",
        # then exit code 1.
        cases = [
            ("qd_foreign_error",
             r"Exception St13runtime_error in module qd_foreign_error\.exe at 00000000\.\r\n"
             r"An error of a foreign type\.\r\n"),
            ("qd_processor_fault",
             r"Exception EAccessViolation in module qd_processor_fault\.exe at ([0-9A-F]{8,16})\.\r\n"
             r"Access violation at address \1 in module 'qd_processor_fault\.exe'\. "
             r"Write of address 00000000\.\r\n"),
            ("qd_runtime_misuse",
             r"Exception 13RuntimeMisuse in module qd_runtime_misuse\.exe at 00000000\.\r\n"
             r"basic_string::at: __n \(which is 5\) >= this->size\(\) \(which is 2\)\.\r\n"),
        ]
        for variant, pattern in cases:
            with self.subTest(variant), harness.Driver() as d:
                d.start(harness.config().exe(variant))
                text = d.answer("Application Error", "", 1, 20000)
                self.assertIsNotNone(re.fullmatch(pattern, text), repr(text))
                self.assertEqual(d.wait(15000), 1)


if __name__ == "__main__":
    harness.main()

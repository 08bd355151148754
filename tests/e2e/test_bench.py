#!/usr/bin/env python3
"""The benchmark's own bookkeeping (scripts/bench), where a fault would go
unnoticed: the request flags its reference loop takes from the engine's
source, and the run it writes into docs/performance.md."""
import os
import sys
import tempfile
import unittest

import harness

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(harness.HERE)), "scripts"))
from bench import config, report  # noqa: E402


class Bench(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def write(self, name, text):
        path = os.path.join(self.tmp.name, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def test_flags_are_the_named_ones_and_unknown_names_stop_the_run(self):
        source = self.write("engine.cpp", "const DWORD OpenUrlFlags = INTERNET_FLAG_NO_COOKIES |  // not NO_AUTH\n"
                                          "    INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_CACHE_WRITE;  // 0x4080200\n")
        self.assertEqual(config.shipped_open_url_flags(source), 0x04080200)
        source = self.write("odd.cpp", "const DWORD OpenUrlFlags = INTERNET_FLAG_NO_UI | QD_OWN_FLAG;\n")
        with self.assertRaises(SystemExit):
            config.shipped_open_url_flags(source)

    def test_a_run_replaces_only_the_last_run(self):
        doc = self.write("performance.md", "# Intro\n%s\nold run\n%s\n## After\ntext\n" % (report.BEGIN, report.END))
        for table in ("first | Z:\\1 \\g<0>", "second | 100 %"):  # backslashes stay as they are
            report.update_docs(table, doc)
        with open(doc) as f:
            text = f.read()
        self.assertTrue(text.startswith("# Intro\n") and text.endswith("\n## After\ntext\n"), text)
        self.assertEqual((text.count(report.BEGIN), text.count(report.END)), (1, 1))
        self.assertIn("second | 100 %", text)
        self.assertNotIn("old run", text)
        self.assertNotIn("first", text)

    def test_a_page_without_markers_is_left_alone(self):
        doc = self.write("performance.md", "# Prose only\n")
        with self.assertRaises(SystemExit):
            report.update_docs("table", doc)
        with open(doc) as f:
            self.assertEqual(f.read(), "# Prose only\n")


if __name__ == "__main__":
    harness.main()

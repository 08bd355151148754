#!/usr/bin/env python3
"""The benchmark's own bookkeeping (scripts/bench), where a fault would go
unnoticed: the request flags its reference loop takes from the engine's
source, the steps it reads in counter ticks, the start-up figure it judges,
and the run it writes into docs/performance.md."""
import os
import sys
import tempfile
import time
import types
import unittest

import harness

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(harness.HERE)), "scripts"))
from bench import config, procs, report  # noqa: E402


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

    def test_steps_in_ticks_land_on_the_monotonic_clock_and_unreached_ones_are_none(self):
        raw = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        now = time.monotonic()
        # 10 MHz (Wine's counter) and 3 MHz; 0 is a step the run never reached.
        for freq in (1e7, 3e6):
            got = procs.steps({"freq": freq, "entry": (raw - 0.25) * freq, "worker": 0.0}, ["entry", "worker", "gone"])
            self.assertAlmostEqual(got["entry"], now - 0.25, delta=0.005)
            self.assertEqual((got["worker"], got["gone"]), (None, None))

    def test_startup_is_judged_against_the_dialog_loop_by_the_server_arrival(self):
        def run(server_ms, request_ms, notices=None):
            r = types.SimpleNamespace(start=100.0, request_at=100.0 + server_ms / 1000, steps={}, notices=notices or {})
            for name in ("entry", "claimed", "dialog_call", "initdialog", "worker", "client_loaded", "opened",
                         "request", "answer"):
                r.steps[name] = 100.0 + request_ms / 1000
            return r
        # The worker waits 5 ms in its callback before the arrival, 40 ms after it.
        blocked = {"n10": 100.1, "n10_done": 100.105, "n31": 100.4, "n31_done": 100.44}
        whole = {"program": [run(300, 100, blocked), run(330, 120, blocked), run(310, 110, blocked)],
                 "dialog": [run(295, 90), run(290, 95), run(400, 99)],
                 "bare": [run(200, 40), run(210, 45), run(220, 50)]}
        figures = {}
        text = "\n".join(report.startup(whole, figures))
        # Medians 310 and 295 ms, not the server arrival of a single round nor the call of the request.
        self.assertAlmostEqual(figures["startup"], 15, places=6)
        self.assertIn("program - dialog-started loop +15 ms (target <= 20 ms: met", text)
        self.assertIn("the rounds' own differences: median +5, -90 to +40 ms", text)
        self.assertIn("a median 5.0 ms in its status callback", text)
        self.assertIn("| **the request at the server** | 310.0 (300-330) | 295.0 (290-400) | 210.0 (200-220) |", text)

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

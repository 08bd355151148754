#!/usr/bin/env python3
"""A download that succeeds, watched from the screen: the caption, the status
line, the detail line and the bar while it runs, then the installer run from
the temporary folder, waited for, and removed afterwards."""
import os
import re
import time

import wincase
from wincase import CHECKBOX, DETAIL, DIALOG, STATUS, harness

SIZE = 300000                 # the served installer, padded: 293 KB
SIZE_TEXT = " 293 KB"
FINAL_DETAIL = SIZE_TEXT + " of " + SIZE_TEXT
AMOUNT = r" ?\d+(\.\d+)? (bytes|KB)"


def kilobytes(text):
    """The leading amount of a detail text, in KB."""
    m = re.match(r"^ ?(\d+(?:\.\d+)?) (bytes|KB)", text)
    assert m, "no amount in %r" % text
    return float(m.group(1)) / (1024.0 if m.group(2) == "bytes" else 1.0)


class Download(wincase.Case):

    def poll_bar_until_installer(self, timeout):
        """Reads the bar until the installer has started (the dialog stops
        answering then); returns the positions read, in order."""
        seen = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and not self.installer_runs():
            p = self.pos()
            if p is not None and (not seen or seen[-1] != p):
                seen.append(p)
            time.sleep(0.02)
        self.assertTrue(self.installer_runs(), "the installer did not start within %ss" % timeout)
        return seen

    def test_success_runs_installer_from_temp_waits_and_deletes_it(self):
        self.serve(body=wincase.padded(self.payload, SIZE), chunk=16384, delay=0.1)
        dlg = self.launch(env={"QD_TEST_SLEEP_MS": 3000})
        status = self.watch(STATUS)
        detail = self.watch(DETAIL)
        self.assertEqual(self.driver.caption(dlg), DIALOG)
        self.assertEqual(self.driver.text(dlg, CHECKBOX), "Save the downloaded Installer for later use")
        self.assertEqual(self.driver.cmd("checked", dlg, CHECKBOX), "0")

        bar = self.note("bar", self.poll_bar_until_installer(30))
        self.assertEqual(bar[-1], 100, "bar positions read: %r" % bar)
        self.assertEqual(bar, sorted(bar), "the bar went back: %r" % bar)

        # The installer runs from its own folder in the temporary one, and the downloader
        # waits for it: still running, its file still there, until it exits.
        runs = self.installer_runs()
        self.assertEqual(len(runs), 1)
        self.assert_run_path(runs[0]["path"])
        while True:
            ended = self.installer_runs()[0]["exit"] is not None
            alive = self.running()
            if ended:
                break
            self.assertTrue(alive, "the downloader ended while the installer still ran")
            self.assertTrue(os.path.exists(self.temp_file), "the installer file went while it ran")
            time.sleep(0.1)
        self.wait_exit()
        self.assertFalse(os.path.exists(self.temp_file), "the temporary installer was left behind")

        seen = self.note("status", wincase.collapse(status.result(30)))
        self.assertTrue(wincase.order_ok(seen), "status texts out of order: %r" % seen)
        self.assertIn("Downloading...", seen)
        self.assertEqual(seen[-1], "Completed", "status texts: %r" % seen)

        texts = self.note("detail", [t for t in wincase.collapse(detail.result(30)) if t])
        self.assertEqual(texts[-1], FINAL_DETAIL, "detail texts: %r" % texts)

        gets = self.downloads()
        self.assertEqual(len(gets), 1, "requests: %r" % gets)
        self.assertEqual(gets[0]["method"], "GET")
        self.assertEqual(gets[0]["target"], wincase.PATH_QUERY)
        self.assertEqual(harness.header(gets[0], "User-Agent"), wincase.AGENT)

    def test_throttled_download_shows_rate_and_time_remaining(self):
        # About 54 KB/s for 7 s: at the end of the second second there are
        # several seconds left.
        size = 400000
        self.serve(body=wincase.padded(self.payload, size), chunk=8192, delay=0.15)
        dlg = self.launch()
        detail = self.watch(DETAIL)
        started = time.monotonic()
        # Two clicks on the check box: no copy is offered afterwards.
        self.driver.cmd("click", dlg, CHECKBOX)
        self.driver.cmd("click", dlg, CHECKBOX)
        bar = self.note("bar", self.poll_bar_until_installer(25))
        took = time.monotonic() - started
        self.wait_exit()
        self.assertFalse(os.path.exists(self.temp_file))

        self.assertEqual(bar[-1], 100)
        self.assertEqual(bar, sorted(bar), "the bar went back: %r" % bar)
        self.assertTrue(any(0 < p < 100 for p in bar), "no position between 0 and 100: %r" % bar)

        texts = self.note("detail", [t for t in wincase.collapse(detail.result(30)) if t])
        total = " 391 KB"
        self.assertEqual(texts[-1], total + " of " + total)
        # The first text (end of the first second) has measured no rate yet.
        self.assertRegex(texts[0], "^%s of %s$" % (AMOUNT, re.escape(total)))
        rated = [re.match(r"^(%s) of %s \((\d+(\.\d+)?) KB/s\)   (\d+) seconds remaining$"
                          % (AMOUNT, re.escape(total)), t) for t in texts]
        rated = [m for m in rated if m]
        self.assertTrue(rated, "no text with rate and seconds remaining: %r" % texts)
        for m in rated:
            rate = float(m.group(4))
            left = int(m.group(6))
            self.assertTrue(20 <= rate <= 160, "rate %s KB/s for a 54 KB/s server: %r" % (rate, texts))
            remaining = (size / 1024.0 - kilobytes(m.group(1))) / rate
            self.assertTrue(4 <= left and remaining - 1 <= left <= remaining + 2.5,
                            "%d seconds remaining for %.1f KB at %.1f KB/s: %r"
                            % (left, size / 1024.0 - kilobytes(m.group(1)), rate, texts))
        # Texts change about once a second, not once per block.
        self.assertLessEqual(len(texts), took + 3, "detail texts: %r" % texts)
        amounts = [kilobytes(t) for t in texts]
        self.assertEqual(amounts, sorted(amounts), "the amount went back: %r" % texts)

        self.assertEqual(len(self.installer_runs()), 1)

    def test_no_length_leaves_the_bar_while_the_amount_grows(self):
        self.serve(body=wincase.padded(self.payload, SIZE), content_length=None,
                   chunk=8192, delay=0.1)
        self.launch()
        detail = self.watch(DETAIL)
        bar = self.note("bar", self.poll_bar_until_installer(30))
        self.wait_exit()
        self.assertEqual(bar, [0], "bar positions read: %r" % bar)
        texts = self.note("detail", [t for t in wincase.collapse(detail.result(30)) if t])
        self.assertGreaterEqual(len(texts), 2, "detail texts: %r" % texts)
        amounts = [kilobytes(t) for t in texts]
        self.assertEqual(amounts, sorted(set(amounts)), "the amount did not grow: %r" % texts)
        self.assertEqual(harness.header(self.downloads()[0], "User-Agent"), wincase.AGENT)
        self.assertEqual(self.installer_runs()[0]["exit"], 0)
        self.assertFalse(os.path.exists(self.temp_file))


if __name__ == "__main__":
    wincase.main()

#!/usr/bin/env python3
"""Cancelling: Esc or closing the window asks "Cancel Download?"; No leaves
the download running, Yes aborts it and the program ends without a word; a
download that ends while the question is open waits for the answer."""
import os
import time

import wincase
from wincase import IDNO, IDYES, STATUS

CANCEL = "Cancel Download?"


class Cancel(wincase.Case):

    def test_esc_then_no_lets_the_download_finish(self):
        self.serve_installer(chunk=4096, delay=0.1)  # about 5.5 s
        dlg = self.launch()
        status = self.watch(STATUS)
        self.wait_sent(16384)
        self.driver.cmd("esc", dlg)
        box = self.driver.find(wincase.BOX, wincase.BOX_MS)
        self.assertIsNotNone(box, "Esc asked nothing")
        self.assertTrue(self.in_progress(), "the question came too late to test anything")
        self.answer_exact(CANCEL, IDNO)
        runs = self.wait_installer(30, ended=True)
        self.wait_exit()
        self.assertEqual(len(runs), 1)
        self.assertEqual(self.downloads()[0]["outcome"], "complete")
        self.assertEqual(self.downloads()[0]["sent"], len(self.payload))
        self.assertFalse(os.path.exists(self.temp_file))
        seen = self.note("status", wincase.collapse(status.result(30)))
        self.assertNotIn("Aborting...", seen)
        self.assertEqual(seen[-1], "Completed")

    def test_close_then_yes_aborts_without_a_box(self):
        # One block at once, the next 4 s later: the abort comes while the
        # worker waits for that block, so "Aborting..." stands on screen until
        # it arrives (Wine ends a blocked read only then; Windows cancels it).
        body = wincase.padded(self.payload, 400000)
        self.serve(body=body, chunk=4096, delay=4.0)
        dlg = self.launch()
        status = self.watch(STATUS)
        self.wait_sent(4096)
        time.sleep(0.2)
        self.driver.cmd("close", dlg)
        self.answer_exact(CANCEL, IDYES)
        # The program ends by itself: no box waits for an answer.
        self.wait_exit(20000)
        seen = self.note("status", wincase.collapse(status.result(30)))
        self.assertIn("Aborting...", seen)
        self.assertLess(seen.index("Downloading..."), seen.index("Aborting..."), seen)
        self.assertEqual(self.installer_runs(), [], "the installer ran after an abort")
        # The partial file stays, and holds exactly what had arrived.
        self.assertTrue(os.path.exists(self.temp_file), "the partial file was removed")
        with open(self.temp_file, "rb") as f:
            partial = f.read()
        self.note("partial size", len(partial))
        self.assertTrue(0 < len(partial) < len(body), "partial file of %d bytes" % len(partial))
        self.assertTrue(partial == body[:len(partial)], "the partial file is not a prefix of the body")
        entry = self.wait_download_end(15)
        self.assertNotEqual(entry["outcome"], "complete", "the server sent everything: %r" % entry)
        self.assertLess(entry["sent"], len(body))

    def ask_then_let_download_end(self):
        """Asks "Cancel Download?" while the body has not started, and keeps
        the question open until the download and the worker's pause after it
        are over."""
        self.serve_installer(stall=1.5, chunk=65536)
        dlg = self.launch(env={"QD_TEST_SLEEP_MS": 500})
        self.driver.cmd("esc", dlg)
        box = self.driver.find(wincase.BOX, wincase.BOX_MS)
        self.assertIsNotNone(box, "Esc asked nothing")
        self.assertTrue(self.in_progress(), "the download ended before the question came")
        entry = self.wait_download_end(20)
        self.assertEqual(entry["outcome"], "complete")
        # The worker still gets its texts through while the question is open.
        self.assertTrue(self.wait_status("Completed", 10), self.driver.text(dlg, STATUS))
        # Well past the worker's end (it pauses 0.5 s after the last block):
        # nothing has happened, the question is the only box.
        time.sleep(1.5)
        self.assertEqual([b["text"] for b in self.program_boxes()], [CANCEL])
        self.assertEqual(self.installer_runs(), [], "the installer ran while the question was open")
        self.assertTrue(self.running())
        self.assertEqual(os.path.getsize(self.temp_file), len(self.payload))

    def test_download_ending_during_question_then_no_completes(self):
        self.ask_then_let_download_end()
        self.answer_exact(CANCEL, IDNO)
        runs = self.wait_installer(20, ended=True)
        self.wait_exit()
        self.assertEqual(len(runs), 1)
        self.assertFalse(os.path.exists(self.temp_file))

    def test_download_ending_during_question_then_yes_ends_silently(self):
        self.ask_then_let_download_end()
        self.answer_exact(CANCEL, IDYES)
        self.wait_exit(20000)
        self.assertEqual(self.installer_runs(), [], "the installer ran after Yes")
        # The complete installer stays in the temporary folder.
        with open(self.temp_file, "rb") as f:
            self.assertTrue(f.read() == self.payload)


if __name__ == "__main__":
    wincase.main()

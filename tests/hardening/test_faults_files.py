#!/usr/bin/env python3
"""Files that cannot be written or removed, end to end through the program:
the disk filling up while the body is written, a Save As location
that cannot be written: each ends with the error and the browser offer,
exit code 0, and loses nothing that was saved. And the installer's file still
held by what a good install left running, which is no failure.

The full disk is a file-size limit (RLIMIT_FSIZE) on the driver and so on the
program it starts, with SIGXFSZ ignored: Wine writes in the program's own
process, where a write beyond the limit fails (Wine reports error 31), as one
on a full disk fails with 112. No privileges are needed.
"""
import os
import resource
import time

import wincase
from wincase import CHECKBOX, IDNO, IDYES, OS_ERROR, SAVE_AS, harness

LIMIT = 1 << 20


class FileFaults(wincase.Case):
    def test_disk_full_while_the_body_is_written(self):
        body = wincase.padded(self.payload, 3 * LIMIT)
        self.serve(body=body)
        self.launch(limits={resource.RLIMIT_FSIZE: LIMIT})
        text = self.answer_failure(browser=IDNO)
        self.assertTrue(text.startswith("Download Failed: "), repr(text))
        # The stream's own text; a system text would stand in its place.
        self.assertEqual(text, "Download Failed: Stream write error")
        self.wait_exit()
        self.assertEqual(self.installer_runs(), [])
        # What was written before the disk was full stays, as it arrived.
        self.assertEqual(wincase.read(self.temp_file), body[:LIMIT])

    def test_save_as_location_that_cannot_be_written(self):
        # The copy's place is taken by a file another program holds open
        # with no sharing: the copy fails, the earlier file is kept.
        self.serve(body=self.payload, chunk=16384, delay=0.1)
        saved = os.path.join(self.work, "saved", "Quillet 2024.exe")
        os.makedirs(os.path.dirname(saved))
        with open(saved, "wb") as f:
            f.write(b"an earlier copy")
        self.hold_file(saved, 60000)
        dlg = self.launch()
        self.driver.cmd("click", dlg, CHECKBOX)
        self.assertIsNotNone(self.driver.find(SAVE_AS, 30000), "no Save As dialog")
        self.driver.raw("saveas", harness.winpath(saved), 2000, SAVE_AS,
                                          timeout=40, allow_err=True)
        # The dialog asks before it replaces a file; it stays up meanwhile.
        box = self.answer_system_box("already exists", IDYES)
        print("\nthe dialog asked: %r" % box["text"])
        text = self.answer_failure(browser=IDNO)
        self.assertRegex(text, OS_ERROR)
        self.assertTrue(text.startswith("System Error.  Code: 32.\r\n"), repr(text))
        self.wait_exit()
        self.assertEqual(self.installer_runs(), [], "the installer ran although the copy failed")
        self.assertEqual(wincase.read(self.temp_file), self.payload, "the download was not kept")
        self.assertEqual(wincase.read(saved), b"an earlier copy")

    def test_installer_still_held_after_a_good_run(self):
        # The installer exits with 0 at once, leaving a child that holds its
        # file: no failure is shown, the dialog goes, and the program removes
        # the file once it is free, giving up its claim on the year meanwhile.
        self.serve(body=self.payload)
        self.launch(env={"QD_TEST_HOLD_MS": 8000})
        runs = self.wait_installer(30, ended=True)
        started = time.monotonic()
        self.assertEqual((runs[0]["hold"], runs[0]["exit"]), ("held", 0))
        self.assertTrue(wincase.poll(lambda: not self.dialog_shown(), 10), "the dialog stayed")
        self.assertTrue(self.running(), "ended before the file was free")
        again, pid = self.start_again(env={"QD_TEST_HOLD_MS": ""})
        self.assertEqual(again.wait(40000), 0)
        self.assertEqual(len(self.downloads()), 2, "a new start did not download anew")
        self.wait_exit(20000)
        print("\nheld 8 s after a good run: ended %.1f s after the installer" % (time.monotonic() - started))
        self.assertEqual(self.program_boxes(), [])
        self.assertEqual(os.listdir(self.temp), [], "left in the temporary folder")

if __name__ == "__main__":
    wincase.main()

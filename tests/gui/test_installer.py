#!/usr/bin/env python3
"""The installer's side of a completed download: a non-zero exit code is
reported, and a file that cannot be started gives the system's error and the
offer to download in the browser."""
import os

import wincase
from wincase import IDNO, IDOK


class Installer(wincase.Case):

    def test_exit_code_3_is_reported_and_the_file_removed(self):
        self.serve_installer()
        self.launch(env={"QD_TEST_EXIT_CODE": 3})
        text = self.answer(IDOK)
        # The box comes once the installer has ended.
        runs = self.installer_runs()
        self.assertEqual(len(runs), 1)
        self.assertEqual(runs[0]["exit"], 3, "box before the installer ended: %r" % runs)
        self.assertEqual(text, "ERROR - RETURN = 3")
        self.wait_exit()
        self.assertFalse(os.path.exists(self.temp_file), "the temporary installer was left behind")

    def test_file_that_cannot_run_gives_the_system_error(self):
        body = b"This is not a program.\r\n" * 400
        self.serve(body=body)
        self.launch()
        # The shell shows a box of its own first (Windows does too, without
        # SEE_MASK_FLAG_NO_UI): it is answered, whatever it says.
        text, _ = self.answer_program_box()
        self.assertRegex(text, wincase.OS_ERROR)
        self.answer_exact(wincase.BROWSER_QUESTION, IDNO)
        self.wait_exit()
        self.assertEqual(self.installer_runs(), [])
        # The file stays where it was downloaded, unchanged.
        with open(self.temp_file, "rb") as f:
            self.assertTrue(f.read() == body)


if __name__ == "__main__":
    wincase.main()

#!/usr/bin/env python3
"""Users whose names the ANSI code page cannot spell: the temporary folder and
the folder of the saved copy are named outside code page 1252, and the
download, the installer run, the clean-up and the copy must work there.

The temporary folder is moved per process (TEMP and TMP in the program's
environment, which is where GetTempPath looks first), so the shared prefix is
left as it is. QD_GUI_PROGRAM names another variant to run instead, e.g.
qd_legacy_code_page, which must fail here."""
import os

import wincase
from wincase import CHECKBOX, IDNO, SAVE_AS, harness

FOREIGN = "Łukasz Иван 张伟"


class UserNames(wincase.Case):

    def setUp(self):
        super().setUp()
        self.exe = wincase.exe(os.environ.get("QD_GUI_PROGRAM", "qd_slot%d" % wincase.SLOT))

    def test_installer_downloads_runs_and_goes_from_such_a_temporary_folder(self):
        self.temp = os.path.join(self.temp, FOREIGN)
        self.temp_win += "\\" + FOREIGN
        os.makedirs(self.temp)
        self.serve_installer()
        self.launch()
        runs = self.wait_installer(30, ended=True)
        self.wait_exit()
        self.assertEqual(len(runs), 1)
        self.assert_run_path(runs[0]["path"])
        self.assertEqual(os.listdir(self.temp), [], "left in the temporary folder")
        self.assertFalse(os.path.exists(self.temp_file), "the temporary installer was left behind")

    def test_copy_saved_into_such_a_folder_is_identical(self):
        self.serve_installer(chunk=16384, delay=0.1)  # time to tick the box
        dlg = self.launch()
        self.driver.cmd("click", dlg, CHECKBOX)
        self.assertIsNotNone(self.driver.find(SAVE_AS, 30000), "no Save As dialog")
        folder = os.path.join(self.work, FOREIGN)
        os.makedirs(folder)
        target = os.path.join(folder, "Quillet 2024.exe")
        self.driver.cmd("saveas", harness.winpath(self.work) + "\\" + FOREIGN + "\\Quillet 2024.exe",
                        15000, SAVE_AS, timeout=30)
        self.answer_exact("Continue with Installation?", IDNO)
        self.wait_exit()
        with open(target, "rb") as f:
            self.assertTrue(f.read() == self.payload, "the copy differs from what was served")


if __name__ == "__main__":
    wincase.main()

#!/usr/bin/env python3
"""Keeping a copy of the installer: the check box ticked while the download
runs, the Save As dialog afterwards, the question whether to go on with the
installation, and giving up saving."""
import os

import wincase
from wincase import CHECKBOX, IDCANCEL, IDNO, IDYES, SAVE_AS, harness

CONTINUE = "Continue with Installation?"
SURE = "Are you sure you don't want to save the Installer?"


class Copy(wincase.Case):

    def start_ticked(self):
        """A download of about 1.5 s with the box ticked while it runs; returns
        the Save As dialog once it is up."""
        self.serve_installer(chunk=16384, delay=0.1)
        dlg = self.launch()
        self.driver.cmd("click", dlg, CHECKBOX)
        save_as = self.driver.find(SAVE_AS, 30000)
        self.assertIsNotNone(save_as, "no Save As dialog %r" % SAVE_AS)
        # It comes only once the download is over.
        self.assertEqual(self.downloads()[-1]["outcome"], "complete")
        self.assertEqual(self.installer_runs(), [])
        return save_as

    def save(self, unix_path):
        status, rest, _ = self.driver.raw("saveas", harness.winpath(unix_path), 15000, SAVE_AS,
                                          timeout=30, allow_err=True)
        self.assertEqual(status, "ok", "saving as %s: %s" % (unix_path, rest))

    def saved(self, path):
        with open(path, "rb") as f:
            return f.read()

    def test_copy_then_no_keeps_the_copy_and_does_not_install(self):
        save_as = self.start_ticked()
        self.assertEqual(self.driver.text(save_as, 1148), wincase.INSTALLER, "suggested name")
        folder = os.path.join(self.work, "saved copies")
        os.makedirs(folder)
        copy = os.path.join(folder, "Quillet 2024.exe")
        self.save(copy)
        self.answer_exact(CONTINUE, IDNO)
        self.wait_exit()
        self.assertTrue(self.saved(copy) == self.payload, "the copy differs from what was served")
        self.assertEqual(self.installer_runs(), [], "the installer ran after No")
        self.assertFalse(os.path.exists(self.temp_file), "the temporary installer was left behind")

    def test_copy_then_yes_installs_from_the_temporary_file(self):
        self.start_ticked()
        # Without an extension: the dialog adds ".exe".
        copy = os.path.join(self.work, "installer-copy")
        self.save(copy)
        self.answer_exact(CONTINUE, IDYES)
        runs = self.wait_installer(20, ended=True)
        self.wait_exit()
        self.assertEqual(len(runs), 1)
        self.assert_run_path(runs[0]["path"])
        self.assertTrue(self.saved(copy + ".exe") == self.payload, "the copy differs")
        self.assertFalse(os.path.exists(copy))
        self.assertFalse(os.path.exists(self.temp_file))

    def test_giving_up_saving_installs_without_asking(self):
        save_as = self.start_ticked()
        self.driver.cmd("close", save_as)
        self.answer_exact(SURE, IDYES)
        # No further question: the installer runs and the program ends.
        self.wait_installer(20, ended=True)
        self.wait_exit()
        self.assertEqual(len(self.installer_runs()), 1)
        self.assertFalse(os.path.exists(self.temp_file))
        self.assertEqual(os.listdir(self.temp), [])

    def test_not_giving_up_shows_save_as_again(self):
        save_as = self.start_ticked()
        self.driver.cmd("command", save_as, IDCANCEL)  # the Cancel button
        self.answer_exact(SURE, IDNO)
        again = self.driver.find(SAVE_AS, wincase.BOX_MS)
        self.assertIsNotNone(again, "Save As did not come back after No")
        self.assertEqual(self.installer_runs(), [])
        self.driver.cmd("close", again)
        self.answer_exact(SURE, IDNO)
        copy = os.path.join(self.work, "third-time.exe")
        self.save(copy)
        self.answer_exact(CONTINUE, IDYES)
        self.wait_installer(20, ended=True)
        self.wait_exit()
        self.assertTrue(self.saved(copy) == self.payload)
        self.assertEqual(len(self.installer_runs()), 1)
        self.assertFalse(os.path.exists(self.temp_file))


if __name__ == "__main__":
    wincase.main()

#!/usr/bin/env python3
"""The installer's side of a completed download. It runs from a folder of the
run's own, which nothing else shares; the dialog keeps answering while it
runs; what installers commonly do (broadcast a setting, restart themselves,
move themselves, ask for a restart) is never a failure; any other non-zero
exit code is reported; a file that cannot be started gives the system's error
and the offer to download in the browser. Each row ends with nothing left in
the temporary folder: what the installer unpacked goes with it, and a file
still held after a failed install is removed later, without a box."""
import os
import sys
import time

import wincase
from wincase import IDNO, IDOK

# Rows: what the stand-in does (tests/e2e/tools/fakeinstaller.cpp), its exit
# code, the box the user must see (None: none), and the longest the program
# may take from the installer's start to its own end.
BEHAVIOURS = [
    ("broadcast", {"QD_TEST_DO": "broadcast"}, None, 10),
    ("hung-check", {"QD_TEST_DO": "hung"}, None, 15),
    ("log-off query", {"QD_TEST_DO": "endsession"}, None, 10),
    ("close-request", {"QD_TEST_DO": "close", "QD_TEST_SLEEP_MS": 3000}, None, 12),
    ("restart", {"QD_TEST_DO": "restart"}, None, 15),
    ("move", {"QD_TEST_DO": "move"}, None, 10),
    ("exit-3010", {"QD_TEST_EXIT_CODE": 3010}, None, 10),
    ("exit-1641", {"QD_TEST_EXIT_CODE": 1641}, None, 10),
    ("unpack", {"QD_TEST_DO": "unpack"}, None, 10),
    ("exit-3", {"QD_TEST_EXIT_CODE": 3}, "ERROR - RETURN = 3", 10),
    ("exit-3, held", {"QD_TEST_EXIT_CODE": 3, "QD_TEST_HOLD_MS": 6000}, "ERROR - RETURN = 3", 15),
]


class Installer(wincase.Case):

    def test_behaviours(self):
        for i, (name, env, box, most) in enumerate(BEHAVIOURS):
            if i:  # a fresh case for each row
                self.tearDown()
                self.setUp()
            with self.subTest(name):
                self.one_behaviour(name, dict(env), box, most)

    def one_behaviour(self, name, env, box, most):
        moved = os.path.join(self.work, "moved.exe")
        if name == "move":
            env["QD_TEST_MOVE_TO"] = wincase.harness.winpath(moved)
        self.serve_installer()
        self.launch(env=env)
        runs = self.wait_installer(30)
        started = time.monotonic()
        if box:
            self.assertEqual(self.answer(IDOK), box)
            self.assertIsNotNone(self.installer_runs()[0]["exit"], "box before the installer ended")
        self.wait_exit(most * 1000 + 5000)
        took = time.monotonic() - started
        runs = self.installer_runs()
        print("\n%-13s box %r, exit 0, left %r, %.1f s from the installer's start" %
              (name, box, os.listdir(self.temp), took), file=sys.stderr)
        self.assertLess(took, most)
        self.assertEqual(os.listdir(self.temp), [], "left in the temporary folder")
        self.assertEqual(self.browser_opened(), [])
        if name == "broadcast":
            self.assertEqual(runs[0]["broadcast"], "answered")
        if name == "hung-check":
            self.assertEqual(runs[0]["hung"], "0", "the system found the dialog hung")
        if name == "log-off query":
            self.assertEqual(runs[0]["endsession"], "1", "a log-off was not let through")
        if name == "close-request":
            # Asked nothing: the download is over; the dialog stayed meanwhile.
            self.assertEqual(runs[0]["close"], "posted")
        if name == "restart":
            self.assertEqual([r["exit"] for r in runs], [0, 0], runs)
            self.assertEqual(runs[0]["restart"], "started")
            self.assertGreater(runs[1]["exit_tick"] - runs[0]["exit_tick"], 3000, "the copy ran no time")
        if name == "move":
            self.assertEqual(runs[0]["move"], "moved")
            self.assertTrue(os.path.exists(moved))
        if name == "unpack":
            self.assertEqual(runs[0]["unpack"], "made")
        # Every row: its folder held the installer alone, and was where it started.
        self.assertEqual(runs[0]["dir"], wincase.INSTALLER)
        self.assertEqual(runs[0]["cwd"].rstrip("\\").lower(), runs[0]["path"].rpartition("\\")[0].lower())

    def test_own_folder_beside_what_the_temporary_folder_holds(self):
        # A planted DLL, a file of the installer's name held open (an earlier
        # installer still running from it), an earlier run's leftover folder
        # with a part unpacked beside, another whose installer still runs (its
        # file held), and a folder of another name that only looks like one.
        planted = os.path.join(self.temp, "version.dll")
        with open(planted, "wb") as f:
            f.write(b"MZ planted")
        held = os.path.join(self.temp, wincase.INSTALLER)
        self.hold_file(held, 60000)
        leftover = os.path.join(self.temp, "Quillet_%s_%s" % (wincase.YEAR, "0123456789abcdef" * 2))
        running = os.path.join(self.temp, "Quillet_%s_%s" % (wincase.YEAR, "fedcba9876543210" * 2))
        other = os.path.join(self.temp, "Quillet_%s_kept" % wincase.YEAR)
        for folder in (leftover, running, other):
            os.makedirs(os.path.join(folder, "parts"))
            for name in (wincase.INSTALLER, "setup.log", os.path.join("parts", "part.dll")):
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(b"partial")
        self.hold_file(os.path.join(running, wincase.INSTALLER), 60000)
        self.serve_installer()
        self.launch(env={"QD_TEST_SLEEP_MS": 2000})
        self.wait_installer(30)
        # Wine keeps a folder's access as Unix permissions: none for others
        # (a folder made with the parent's rights is 755 here).
        own = [f for f in self.run_folders() if f != os.path.basename(running)]
        self.assertEqual(len(own), 1, own)
        mode = os.stat(os.path.join(self.temp, own[0])).st_mode & 0o777
        self.assertEqual(mode & 0o007, 0, "the run's folder is open to others: %o" % mode)
        runs = self.wait_installer(30, ended=True)
        self.wait_exit()
        self.assertEqual(self.program_boxes(), [])
        self.assertEqual(runs[0]["dir"], wincase.INSTALLER)
        self.assertFalse(os.path.exists(leftover), "an earlier run's folder was left")
        self.assertEqual(sorted(os.listdir(self.temp)), sorted([os.path.basename(other), os.path.basename(running),
                                                                "version.dll", wincase.INSTALLER]))
        self.assertEqual(sorted(os.listdir(running)), sorted(["parts", "setup.log", wincase.INSTALLER]))
        self.assertEqual(os.listdir(os.path.join(running, "parts")), ["part.dll"])
        print("\nthe run's folder as the installer read it: %s" % runs[0]["sd"], file=sys.stderr)
        self.check_security(runs[0]["sd"], runs[0]["elevated"] == "1")

    def check_security(self, sddl, elevated):
        """Owned by the user, who is let in, and no one but SYSTEM and the
        Administrators besides, labelled high when elevated. (Windows reads it
        back protected and labelled, as made; Wine gives a descriptor made of
        the Unix permissions, without either even when elevated, and this
        checks what both keep.)"""
        rest, _, label = sddl.partition("S:")
        if label or not elevated:
            self.assertEqual(label, "(ML;OICI;NW;;;HI)" if elevated else "", sddl)
        owner, _, dacl = rest.partition("D:")
        user = owner[2:]
        self.assertRegex(user, r"^S-1-5-21-")
        trustees = {ace.split(";")[-1] for ace in dacl.lstrip("PAI").strip("()").split(")(")}
        self.assertIn(user, trustees, sddl)
        self.assertLessEqual(trustees, {user, "SY", "BA"}, sddl)

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

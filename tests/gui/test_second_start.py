#!/usr/bin/env python3
"""The program started again while it downloads: a start for the same year
downloads nothing and shows nothing of its own, brings the running one's
window (or the box it shows) to the foreground and exits with 0; while the
running one waits for its installer it leaves the screen alone. A start for
another year is a download of its own."""
import os

import wincase
from wincase import IDNO, harness

CANCEL = "Cancel Download?"


class SecondStart(wincase.Case):

    def serve_slowly(self):
        # About 15 s: room for two more starts and a question.
        self.serve(body=wincase.padded(self.payload, 600000), chunk=4096, delay=0.1)

    def other_window_in_front(self):
        """Puts a window of another program (Wine's about box) in front;
        returns it."""
        d = harness.Driver(lifetime=90)
        self.others.append(d)
        shown = wincase.show_winver(d, 10)
        self.assertTrue(shown, "winver showed no window")
        self.assertEqual(int(d.cmd("foreground", shown)), shown, "could not put winver in front")
        return shown

    def start_same_year(self):
        """Starts the program again; asserts it ends by itself with 0 while
        the first still downloads; returns the foreground window then."""
        d, pid = self.start_again()
        self.assertEqual(d.wait(20000), 0, "exit code of the second start")
        self.assertTrue(self.in_progress(), "the first download ended before the second start did")
        # Wine moves the foreground to the first one's queue at once, but
        # that thread names its active window only when it next reads its
        # messages: until then the foreground reads 0.
        return wincase.poll(lambda: int(self.driver.cmd("foreground")), 5)

    def test_same_year_shows_the_running_dialog_or_its_question(self):
        self.serve_slowly()
        dlg = self.launch()
        self.wait_sent(8192)
        self.other_window_in_front()
        self.assertEqual(self.start_same_year(), dlg, "the first one's dialog is not in front")

        self.driver.cmd("esc", dlg)
        box = self.driver.find(wincase.BOX, wincase.BOX_MS)
        self.assertIsNotNone(box, "Esc asked nothing")
        self.other_window_in_front()
        self.assertEqual(self.start_same_year(), box, "the question is not in front")
        self.answer_exact(CANCEL, IDNO)

        runs = self.wait_installer(40, ended=True)
        self.wait_exit()
        self.assertEqual(len(self.downloads()), 1, "requests: %r" % self.downloads())
        self.assertEqual(len(runs), 1)
        self.assertFalse(os.path.exists(self.temp_file))

    def test_same_year_leaves_the_installer_alone(self):
        self.serve_installer()
        self.launch(env={"QD_TEST_SLEEP_MS": 6000})
        self.wait_installer(30)
        front = self.other_window_in_front()
        d, _ = self.start_again()
        self.assertEqual(d.wait(20000), 0, "exit code of the second start")
        self.assertIsNone(self.installer_runs()[0]["exit"], "the installer ended before the second start")
        self.assertEqual(int(self.driver.cmd("foreground")), front)
        self.wait_installer(20, ended=True)
        self.wait_exit()
        self.assertEqual(len(self.downloads()), 1)
        self.assertEqual(len(self.installer_runs()), 1)

    def test_another_year_downloads_its_own(self):
        self.assertEqual(wincase.SLOT, 0, "qd_year2025 talks to slot 0's port")
        self.serve_slowly()
        self.launch()
        self.wait_sent(8192)
        d, _ = self.start_again(wincase.exe("qd_year2025"))
        self.assertIsNotNone(d.find("Quillet for 2025 Downloader", wincase.DIALOG_MS), "no dialog for 2025")
        self.assertEqual(d.wait(60000), 0, "exit code of the 2025 program")
        self.wait_exit(40000)
        self.assertEqual(sorted(e["target"] for e in self.downloads()),
                         [wincase.PATH_QUERY, wincase.PATH_QUERY.replace(wincase.YEAR, "2025")])
        ran = sorted(os.path.basename(r["path"].replace("\\", "/")) for r in self.installer_runs())
        self.assertEqual(ran, [wincase.INSTALLER, "Quillet_2025_Setup.exe"])
        self.assertEqual(os.listdir(self.temp), [])


if __name__ == "__main__":
    wincase.main()

#!/usr/bin/env python3
"""The download's progress on the taskbar button, as the program tells the
shell's taskbar list (ITaskbarList3): nothing until the shell says the button
exists ("TaskbarButtonCreated", which Wine never sends, so the test posts it
as Explorer would); then indeterminate until a percentage is known, normal
with the bar's percentage, paused while "Cancel Download?" is open, error
while a failure is shown, no progress once the download is complete. The
prefix's taskbar list is the recorder of tools/taskbarrecorder.cpp."""
import os
import time

import wincase
from wincase import IDNO, harness

BUTTON_CREATED = "TaskbarButtonCreated"


class Taskbar(wincase.Case):

    def start(self, **route):
        """Serves the installer after a pause (so the shell's message comes
        before any percentage), starts the program and tells it that its
        button exists."""
        self.taskbar_log = os.path.join(self.work, "taskbar.txt")
        self.serve(stall=1.5, **route)
        dlg = self.launch(env={"QD_TASKBAR_RECORD": harness.winpath(self.taskbar_log)})
        self.driver.cmd("post", dlg, BUTTON_CREATED)
        return dlg

    def calls(self):
        """The calls recorded so far, each on the dialog's button, as
        "HrInit", "state <name>" or "value <n>" (of 100). Nothing is
        collapsed: the program repeats a call only when the shell asks."""
        try:
            with open(self.taskbar_log, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        out = []
        for line in lines:
            fields = line.split("\t")
            if fields[0] != "HrInit":
                self.assertEqual(int(fields[1]), self.dlg, "a call for another window: %r" % line)
                if fields[0] == "value":
                    self.assertEqual(fields[3], "100", line)
                fields = fields[:1] + fields[2:3]
            out.append(" ".join(fields))
        return self.note("taskbar", out)

    def states(self, calls):
        return [c.split()[1] for c in calls if c.startswith("state ")]

    def assert_values_rise_to_100(self, calls):
        values = [int(c.split()[1]) for c in calls if c.startswith("value ")]
        self.assertEqual(values, sorted(values), "the value went back: %r" % calls)
        self.assertEqual(values[-1], 100, calls)
        self.assertTrue(any(0 < v < 100 for v in values), "no value between 0 and 100: %r" % calls)
        # The value is there before the button turns normal.
        self.assertLess(calls.index("value %d" % values[0]), calls.index("state normal"), calls)

    def test_known_length_shows_the_percentage_then_nothing(self):
        self.start(body=wincase.padded(self.payload, 400000), chunk=16384, delay=0.1)
        self.wait_installer(30, ended=True)
        self.wait_exit()
        calls = self.calls()
        self.assertEqual(calls[:2], ["HrInit", "state indeterminate"])
        self.assertEqual(self.states(calls), ["indeterminate", "normal", "noprogress"])
        self.assertEqual(calls[-1], "state noprogress")
        self.assert_values_rise_to_100(calls)

    def test_no_length_stays_indeterminate_and_a_new_button_is_shown_again(self):
        self.start(body=self.payload, content_length=None, chunk=16384, delay=0.05)
        # Explorer restarted: the same interface shows the state again.
        self.driver.cmd("post", self.dlg, BUTTON_CREATED)
        self.wait_installer(30, ended=True)
        self.wait_exit()
        self.assertEqual(self.calls(), ["HrInit", "state indeterminate", "state indeterminate",
                                        "state noprogress"])

    def test_question_pauses_and_no_goes_back(self):
        dlg = self.start(body=wincase.padded(self.payload, 400000), chunk=4096, delay=0.05)
        self.wait_sent(40000)
        deadline = time.monotonic() + 10
        while "state normal" not in self.calls() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.driver.cmd("esc", dlg)
        self.assertIsNotNone(self.driver.find(wincase.BOX, wincase.BOX_MS), "Esc asked nothing")
        self.assertEqual(self.states(self.calls()), ["indeterminate", "normal", "paused"])
        self.answer_exact("Cancel Download?", IDNO)
        self.wait_installer(30, ended=True)
        self.wait_exit()
        calls = self.calls()
        self.assertEqual(self.states(calls), ["indeterminate", "normal", "paused", "normal", "noprogress"])
        self.assert_values_rise_to_100(calls)

    def test_failure_shows_error_while_its_boxes_are_open(self):
        body = wincase.padded(self.payload, 400000)
        self.start(body=body, chunk=8192, delay=0.05, cut_after=100000)
        text = self.note("error box", self.driver.answer(wincase.BOX, "Download Failed: ", 1, wincase.BOX_MS))
        self.assertIn("incomplete", text)
        self.assertEqual(self.calls()[-1], "state error")
        self.answer_exact(wincase.BROWSER_QUESTION, IDNO)
        self.wait_exit()
        calls = self.calls()
        self.assertEqual(self.states(calls), ["indeterminate", "normal", "error"])
        values = [int(c.split()[1]) for c in calls if c.startswith("value ")]
        self.assertTrue(values and values == sorted(values) and values[-1] < 100, calls)


if __name__ == "__main__":
    wincase.main()

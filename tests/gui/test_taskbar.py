#!/usr/bin/env python3
"""The download's progress on the taskbar button, as the program tells the
prefix's taskbar list (the recorder of tools/taskbarrecorder.cpp): nothing
until the shell says the button exists ("TaskbarButtonCreated", which Wine
never sends, so the test posts it as Explorer would); then indeterminate
until a percentage is known, normal with the bar's percentage, paused while
"Cancel Download?" is open, error while a failure is shown, no progress once
the download is complete."""
import os

import wincase
from wincase import IDNO, harness

STATES = {"0": "noprogress", "1": "indeterminate", "2": "normal", "4": "error", "8": "paused"}


class Taskbar(wincase.Case):

    def start(self, **route):
        """Serves the installer after a pause, so that the shell's message
        comes before any percentage; starts the program and posts it."""
        self.log = os.path.join(self.work, "taskbar.txt")
        self.serve(stall=1.5, **route)
        dlg = self.launch(env={"QD_TASKBAR_RECORD": harness.winpath(self.log)})
        self.driver.cmd("post", dlg, "TaskbarButtonCreated")
        return dlg

    def calls(self):
        """The calls so far, as "HrInit", "state <name>" or "value <n>" (of
        100), every one for the dialog. Nothing collapsed: the program repeats
        a call only when the shell asks."""
        out = []
        if not os.path.exists(self.log):
            return out
        with open(self.log, encoding="utf-8") as f:
            for fields in (line.split("\t") for line in f.read().splitlines()):
                if fields[0] != "HrInit":
                    self.assertEqual(int(fields[1]), self.dlg, fields)
                    self.assertEqual(fields[3:], ["100"] if fields[0] == "value" else [], fields)
                    fields = [fields[0], STATES.get(fields[2], fields[2]) if fields[0] == "state" else fields[2]]
                out.append(" ".join(fields))
        return self.note("taskbar", out)

    def states(self, calls):
        return [c.split()[1] for c in calls if c.startswith("state ")]

    def assert_values_rise_to_100(self, calls):
        values = [int(c.split()[1]) for c in calls if c.startswith("value ")]
        self.assertEqual(values, sorted(values), calls)
        self.assertEqual(values[-1], 100, calls)
        self.assertTrue(any(0 < v < 100 for v in values), calls)
        # The button has its value before it turns normal.
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
        # As after Explorer restarted: the same interface, the state again.
        self.driver.cmd("post", self.dlg, "TaskbarButtonCreated")
        self.wait_installer(30, ended=True)
        self.wait_exit()
        self.assertEqual(self.calls(), ["HrInit", "state indeterminate", "state indeterminate", "state noprogress"])

    def test_question_pauses_and_no_goes_back(self):
        dlg = self.start(body=wincase.padded(self.payload, 400000), chunk=4096, delay=0.05)
        wincase.poll(lambda: "state normal" in self.calls(), 20)
        self.driver.cmd("esc", dlg)
        self.assertIsNotNone(self.driver.find(wincase.BOX, wincase.BOX_MS), "Esc asked nothing")
        self.assertEqual(self.states(self.calls()), ["indeterminate", "normal", "paused"])
        self.answer_exact("Cancel Download?", IDNO)
        self.wait_installer(30, ended=True)
        self.wait_exit()
        calls = self.calls()
        self.assertEqual(self.states(calls), ["indeterminate", "normal", "paused", "normal", "noprogress"])
        self.assert_values_rise_to_100(calls)

    def test_waits_pause_and_the_failure_shows_error_while_its_boxes_are_open(self):
        self.start(body=wincase.padded(self.payload, 400000), chunk=8192, delay=0.05, cut_after=100000,
                   headers=[["ETag", '"v1"']], ranges=True)
        self.assertIn("incomplete", self.driver.answer(wincase.BOX, "Download Failed: ", 1, 40000))
        self.assertEqual(self.calls()[-1], "state error")
        self.answer_exact(wincase.BROWSER_QUESTION, IDNO)
        self.wait_exit()
        calls = self.calls()
        # Paused through each of the four waits between attempts.
        self.assertEqual(self.states(calls), ["indeterminate", "normal"] + ["paused", "normal"] * 4 + ["error"])
        values = [int(c.split()[1]) for c in calls if c.startswith("value ")]
        self.assertTrue(values and values == sorted(values) and values[-1] < 100, calls)


if __name__ == "__main__":
    wincase.main()

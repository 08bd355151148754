#!/usr/bin/env python3
"""The test bed's own Windows-side pieces, on real windows: the GUI driver
against a demo program, the fake installer, and the browser recorder that the
prefix fixture installed. Other tests rely on all three."""
import os
import shutil
import tempfile
import time
import unittest

import harness

DEMO = "Driver Demo"


class DriverOnDemo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        harness.require_display()
        cls.cfg = harness.config()
        os.makedirs(cls.cfg.work, exist_ok=True)
        cls.tmp = tempfile.TemporaryDirectory(dir=cls.cfg.work)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.record = os.path.join(self.tmp.name, self.id().rsplit(".", 1)[1] + ".txt")
        self.driver = harness.Driver(env={"QD_TEST_RECORD": harness.winpath(self.record)})
        self.addCleanup(self.driver.close)

    def test_message_box_buttons(self):
        for mode, button, code in [("box", 6, 6), ("box", 7, 7), ("ok", 1, 1)]:
            with self.subTest(mode=mode, button=button):
                d = self.driver
                # guidemo turns the two characters \n into a line break.
                d.start(self.cfg.exe("guidemo"), r'%s "Demo Box" "Line one\nLine two"' % mode)
                self.assertEqual(d.answer("Demo Box", "Line one", button, 10000),
                                 "Line one\nLine two")
                self.assertEqual(d.wait(10000), code)

    def test_answer_leaves_a_box_whose_text_differs(self):
        d = self.driver
        d.start(self.cfg.exe("guidemo"), 'box "Demo Box" "Something else"')
        status, rest, _ = d.raw("answer", "Demo Box", "Cancel Download?", 6, 10000,
                                timeout=20, allow_err=True)
        self.assertEqual((status, rest), ("err", "mismatch Something else"))
        boxes = [b for b in d.boxes() if b["caption"] == "Demo Box"]
        self.assertEqual([b["text"] for b in boxes], ["Something else"])
        self.assertIsNone(d.wait(300), "the box must still be up")
        d.answer("Demo Box", "", 7, 5000)
        self.assertEqual(d.wait(10000), 7)

    def test_dialog_controls(self):
        d = self.driver
        d.start(self.cfg.exe("guidemo"), "dialog")
        wnd = d.find(DEMO, 10000)
        self.assertIsNotNone(wnd)
        self.assertEqual(d.caption(wnd), DEMO)
        self.assertEqual(d.cmd("range", wnd, 101), "0 100")
        # The demo steps every 200 ms: status text and bar move together.
        texts, gone = d.watch(wnd, 102, 900)
        self.assertFalse(gone)
        steps = [int(t.split()[1]) for t in texts if t.startswith("Step ")]
        self.assertGreaterEqual(len(steps), 3, texts)
        self.assertEqual(steps, sorted(steps))
        self.assertGreaterEqual(d.pos(wnd, 101), steps[-1] % 101)
        self.assertEqual(d.cmd("checked", wnd, 104), "0")
        d.cmd("click", wnd, 104)
        deadline = time.monotonic() + 5
        while d.cmd("checked", wnd, 104) != "1" and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(d.text(wnd, 103), "checked")

        # Escape asks first; No keeps the dialog, Yes ends it.
        d.cmd("esc", wnd)
        d.answer(DEMO, "Cancel Download?", 7, 10000)
        self.assertIsNone(d.wait(300))
        d.cmd("close", wnd)
        d.answer(DEMO, "Cancel Download?", 6, 10000)
        self.assertEqual(d.wait(10000), 101)
        self.assertEqual(d.raw("gone", wnd, 1000)[0], "ok")

    def test_cancel_command_reaches_the_dialog(self):
        d = self.driver
        d.start(self.cfg.exe("guidemo"), "dialog")
        wnd = d.find(DEMO, 10000)
        d.cmd("cancel", wnd)
        d.answer(DEMO, "Cancel Download?", 6, 10000)
        self.assertEqual(d.wait(10000), 100)

    def test_find_times_out_on_a_missing_window(self):
        start = time.monotonic()
        self.assertIsNone(self.driver.find("No Such Window Here", 300))
        self.assertLess(time.monotonic() - start, 5)

    def test_save_as(self):
        d = self.driver
        target = os.path.join(self.tmp.name, "saved copy.exe")
        d.start(self.cfg.exe("guidemo"), "saveas")
        d.cmd("saveas", harness.winpath(target), 15000, timeout=25)
        self.assertEqual(d.wait(10000), 0)
        with open(self.record) as f:
            self.assertEqual(f.read(), harness.winpath(target))

    def test_fake_installer_records_and_exits_with_given_code(self):
        d = self.driver
        for code, sleep_ms in [(0, 0), (7, 800)]:
            with self.subTest(code=code):
                if os.path.exists(self.record):
                    os.remove(self.record)
                d.cmd("setenv", "QD_TEST_EXIT_CODE", code)
                d.cmd("setenv", "QD_TEST_SLEEP_MS", sleep_ms)
                start = time.monotonic()
                d.start(self.cfg.exe("fakeinstaller"), "--flag")
                self.assertEqual(d.wait(15000), code)
                self.assertGreaterEqual(time.monotonic() - start, sleep_ms / 1000)
                with open(self.record) as f:
                    lines = [l.split("\t") for l in f.read().splitlines()]
                self.assertEqual([l[0] for l in lines], ["ran", "dir", "sd", "elevated", "exit"])
                self.assertEqual(lines[0][1].lower(), harness.winpath(self.cfg.exe("fakeinstaller")).lower())
                self.assertIn("--flag", lines[0][2])
                self.assertEqual(lines[4][1], str(code))
                self.assertGreaterEqual(int(lines[4][2]) - int(lines[0][4]), sleep_ms - 50)

    def test_fake_installer_keeps_paths_outside_the_ansi_code_page(self):
        # Started from the host: the driver's command line is ANSI.
        folder = os.path.join(self.tmp.name, "Ωμέγα 日本")
        os.makedirs(folder)
        setup = os.path.join(folder, "setup ü.exe")
        shutil.copy(self.cfg.exe("fakeinstaller"), setup)
        record = os.path.join(folder, "record ü.txt")
        r = harness.run_wine(setup, ["ä"], 30, env={"QD_TEST_RECORD": harness.winpath(record)})
        self.assertEqual(r.rc, 0, r)
        with open(record, encoding="utf-8") as f:
            ran = f.read().splitlines()[0].split("\t")
        self.assertEqual(ran[:2], ["ran", harness.winpath(setup)])
        self.assertTrue(ran[2].endswith(" ä"), ran)
        held = os.path.join(folder, "held ü.bin")
        r = harness.run_wine(setup, ["--hold", harness.winpath(held), 0], 30)
        self.assertEqual((r.rc, r.lines), (0, ["held", "released"]), r)
        self.assertTrue(os.path.exists(held))


class BrowserRecorder(unittest.TestCase):
    def test_shell_open_of_an_address_reaches_the_recorder(self):
        cfg = harness.config()
        os.makedirs(cfg.work, exist_ok=True)
        with tempfile.TemporaryDirectory(dir=cfg.work) as tmp:
            log = os.path.join(tmp, "browser.log")
            address = "https://localhost:47310/installer.php?serial=quill&year=2024"
            r = harness.run_wine(cfg.exe("guidemo"), ["browse", address], 30,
                                 env={"QD_BROWSER_LOG": log})
            self.assertGreater(r.rc, 32, r)  # ShellExecuteA's success
            deadline = time.monotonic() + 10
            while not os.path.exists(log) and time.monotonic() < deadline:
                time.sleep(0.1)
            with open(log) as f:
                self.assertEqual(f.read().splitlines(), [address])


if __name__ == "__main__":
    harness.main()

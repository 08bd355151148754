#!/usr/bin/env python3
"""The program in the user's language, as the user's locale chooses it:
German, Japanese and Arabic (mirrored, right to left). A download shows the
language's caption, status, check box and detail line (its own word order,
units and plural forms); a cancelled download asks the language's question;
a failure's two boxes speak it. Every text must arrive exactly as its
language file has it, no character turned into a question mark, on the
shipped program and on the variant without the UTF-8 code page (the Windows
that ignore that setting)."""
import re
import time

import wincase
from wincase import BAR, CHECKBOX, DETAIL, IDNO, IDOK, IDYES, STATUS, formatted, pattern

LANGUAGES = ["de", "ja", "ar"]
PROGRAMS = ["qd_slot0", "qd_legacy_code_page"]
WS_EX_LAYOUTRTL = 0x400000


class Languages(wincase.Case):

    def each(self, run):
        for code in LANGUAGES:
            texts = wincase.language(code)
            for program in PROGRAMS:
                with self.subTest(language=code, program=program):
                    try:
                        run(code, texts, program)
                    finally:
                        self.end_run()
                        if self.server:
                            self.server.stop()

    def start(self, code, texts, program):
        return self.launch(wincase.exe(program), driver_env={"LC_ALL": wincase.locale(code)},
                           caption=formatted(texts["IDS_CAPTION"], wincase.YEAR))

    def box(self, texts, button, expected):
        got = self.answer(button, caption=texts["IDS_BOX_CAPTION"])
        self.assertEqual(got, expected)

    def styles(self, hwnd, ctrl="-"):
        style, exstyle, left, right = self.driver.cmd("styles", hwnd, ctrl).split()
        return int(style, 16), int(exstyle, 16), int(left), int(right)

    def test_download_then_cancel_in_the_language(self):
        def run(code, texts, program):
            self.serve(body=wincase.padded(self.payload, 600000), chunk=16384, delay=0.2)
            dlg = self.start(code, texts, program)
            self.assertEqual(self.driver.text(dlg, CHECKBOX), texts["IDS_SAVE_COPY"])
            times = [texts["IDS_FEW_SECONDS"]] + [pattern(t).replace("(.+?)", r"\d+")
                                                  for k, t in texts.items() if k[:-2] in
                                                  ("IDS_SECONDS", "IDS_MINUTE_SECONDS", "IDS_MINUTES")]
            line = pattern(texts["IDS_AMOUNT_OF_RATE_TIME"], last="|".join(times))
            deadline, detail = time.monotonic() + 10, ""
            while time.monotonic() < deadline and not re.fullmatch(line, detail):
                time.sleep(0.1)
                detail = self.driver.text(dlg, DETAIL)
            self.note("detail line", detail)
            self.assertRegex(detail, "^(%s)$" % line)
            self.assertNotIn("?", detail)
            self.assertEqual(self.driver.text(dlg, STATUS), texts["IDS_DOWNLOADING"])
            if texts["IDS_READING_ORDER"] == "rtl":
                _, exstyle, left, right = self.styles(dlg)
                self.assertTrue(exstyle & WS_EX_LAYOUTRTL, "the dialog is not mirrored")
                for ctrl in (BAR, CHECKBOX):
                    _, exstyle, c_left, c_right = self.styles(dlg, ctrl)
                    self.assertTrue(exstyle & WS_EX_LAYOUTRTL, "control %d is not mirrored" % ctrl)
                # The template sets the check box 11 units from the left edge
                # and 9 from the right: mirrored, the wider gap is at the right.
                _, _, c_left, c_right = self.styles(dlg, CHECKBOX)
                self.assertGreater(right - c_right, c_left - left)
            self.driver.cmd("esc", dlg)
            if texts["IDS_READING_ORDER"] == "rtl":
                # Mirrored like the dialog, so its text starts at the right.
                # (Wine draws MB_RIGHT's alignment the same either way.)
                box = self.wait_box(texts["IDS_BOX_CAPTION"])
                for ctrl in ("-", 0xFFFF):
                    self.assertTrue(self.styles(box, ctrl)[1] & WS_EX_LAYOUTRTL, "the question is not mirrored")
            self.box(texts, IDYES, texts["IDS_ASK_CANCEL"])
            self.wait_exit()
        self.each(run)

    def test_failure_boxes_in_the_language(self):
        def run(code, texts, program):
            self.serve(status=404, body="no such installer\n")
            self.start(code, texts, program)
            self.box(texts, IDOK, formatted(texts["IDS_FAILED_WITH"], "Not Found (404)"))
            self.box(texts, IDNO, texts["IDS_ASK_BROWSER"])
            self.wait_exit()
        self.each(run)

    def wait_box(self, caption, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for b in self.driver.boxes():
                if b["caption"] == caption:
                    return b["hwnd"]
            time.sleep(0.05)
        self.fail("no box %r" % caption)


if __name__ == "__main__":
    wincase.main()

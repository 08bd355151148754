#!/usr/bin/env python3
"""The program in the user's language, as the user's locale chooses it:
German, Japanese, Arabic (mirrored, right to left), Greek and Thai; and each
regional variant of tests/e2e/locales.txt in its language's file. A download shows the
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

LANGUAGES = ["de", "ja", "ar", "el", "th"]
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

    def edges(self, hwnd, ctrl="-"):
        """The window's left and right edges on the screen."""
        return [int(n) for n in self.driver.cmd("styles", hwnd, ctrl).split()[2:]]

    def assert_mirrored(self, hwnd, *ctrls):
        for ctrl in ctrls:
            exstyle = int(self.driver.cmd("styles", hwnd, ctrl).split()[1], 16)
            self.assertTrue(exstyle & WS_EX_LAYOUTRTL, "window %s, control %s is not mirrored" % (hwnd, ctrl))

    def test_download_then_cancel_in_the_language(self):
        def run(code, texts, program):
            self.serve(body=wincase.padded(self.payload, 600000), chunk=16384, delay=0.2)
            dlg = self.launch(wincase.exe(program), lang=code)
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
                self.assert_mirrored(dlg, "-", BAR, CHECKBOX)
                # The template sets the check box 11 units from the left edge
                # and 9 from the right: mirrored, the wider gap is at the right.
                (left, right), (c_left, c_right) = self.edges(dlg), self.edges(dlg, CHECKBOX)
                self.assertGreater(right - c_right, c_left - left)
            self.driver.cmd("esc", dlg)
            if texts["IDS_READING_ORDER"] == "rtl":
                # Mirrored like the dialog, so its text starts at the right.
                # (Wine draws MB_RIGHT's alignment the same either way.)
                self.assert_mirrored(self.driver.find(texts["IDS_BOX_CAPTION"], wincase.BOX_MS), "-", 0xFFFF)
            self.answer_exact(texts["IDS_ASK_CANCEL"], IDYES, caption=texts["IDS_BOX_CAPTION"])
            self.wait_exit()
        self.each(run)

    def test_regional_variants_get_their_language(self):
        self.serve_installer(chunk=4096, delay=0.5)
        for tag, code in sorted(wincase.VARIANTS.items()):
            with self.subTest(variant=tag):
                try:
                    dlg = self.launch(lang=tag)  # found by the caption of `code`
                    self.assertEqual(self.driver.text(dlg, CHECKBOX), wincase.language(code)["IDS_SAVE_COPY"])
                finally:
                    self.end_run()
        self.server.stop()

    def test_failure_boxes_in_the_language(self):
        def run(code, texts, program):
            self.serve(status=404, body="no such installer\n")
            self.launch(wincase.exe(program), lang=code)
            caption = texts["IDS_BOX_CAPTION"]
            self.answer_exact(formatted(texts["IDS_FAILED_WITH"], "Not Found (404)"), IDOK, caption=caption)
            self.answer_exact(texts["IDS_ASK_BROWSER"], IDNO, caption=caption)
            self.wait_exit()
        self.each(run)


if __name__ == "__main__":
    wincase.main()

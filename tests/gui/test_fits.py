#!/usr/bin/env python3
"""What the user reads fits, in every language of the program, on a screen of
96 and of 144 DPI: each control's text, and the widest detail line a download
of up to 1 TB can show, measured in the control's own font, is no wider than
the control. Each language runs under its own locale, as its users run it. (The manifest's
per-monitor awareness, which keeps Windows from stretching the dialog, makes
no difference under Wine, which reports every window as per-monitor aware.)

The screen's DPI is the prefix's LogPixels, which every Wine program started
meanwhile reads: ctest runs this script alone (RUN_SERIAL), and it puts the
value back."""
import os

import wincase
from wincase import CHECKBOX, DETAIL, STATUS, harness

DESKTOP = r"HKCU\Control Panel\Desktop"


def log_pixels(value=None):
    """Sets LogPixels, or removes it when `value` is None; returns the value
    it had (None when there was none)."""
    query = harness.run_wine("reg", ["query", DESKTOP, "/v", "LogPixels"], 60)
    words = query.out.split() if query.rc == 0 else []
    old = int(words[words.index("REG_DWORD") + 1], 16) if "REG_DWORD" in words else None
    args = (["add", DESKTOP, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(value), "/f"]
            if value is not None else ["delete", DESKTOP, "/v", "LogPixels", "/f"])
    if value is not None or old is not None:
        result = harness.run_wine("reg", args, 60)
        assert result.rc == 0, result
    return old


STATUS_TEXTS = ["IDS_INITIALIZING", "IDS_PREPARING", "IDS_CONNECTING", "IDS_REQUESTING",
                "IDS_DOWNLOADING", "IDS_FINISHING", "IDS_COMPLETED", "IDS_ABORTING", "IDS_WAITING"]


class Fits(wincase.Case):

    def setUp(self):
        super().setUp()
        self.addCleanup(log_pixels, log_pixels())
        self.detail_lines = {}
        for code in wincase.languages():
            # The program's own formatting, in the language's words and the
            # locale's decimal separator.
            lines = harness.run_wine(wincase.exe("detaillines"), [], 60, env={"LC_ALL": wincase.locale(code)}).lines
            self.detail_lines[code] = os.path.join(self.work, "detail-lines-%s.txt" % code)
            with open(self.detail_lines[code], "w", encoding="latin-1") as f:  # the UTF-8 bytes as read
                f.write("\n".join(sorted(set(lines))) + "\n")

    def fits(self, dlg, ctrl, dpi, *text):
        width, room, seen_dpi = map(int, self.driver.cmd("extent", dlg, ctrl, *text).split())
        self.note("%d dpi, control %d, %r" % (dpi, ctrl, text), (width, room))
        self.assertEqual(seen_dpi, dpi)
        self.assertLessEqual(width, room, "%r in control %d at %d dpi" % (text, ctrl, dpi))

    def test_every_text_fits_at_96_and_144_dpi(self):
        for dpi in (96, 144):
            log_pixels(dpi)
            self.serve_installer(chunk=4096, delay=0.5)  # each dialog stays up meanwhile
            try:
                for code in wincase.languages():
                    with self.subTest(dpi=dpi, language=code):
                        try:
                            self.check_dialog(dpi, code)
                        finally:
                            self.end_run()
            finally:
                self.server.stop()

    def check_dialog(self, dpi, code):
        texts = wincase.language(code)
        dlg = self.launch(lang=code)
        for name in STATUS_TEXTS:
            self.fits(dlg, STATUS, dpi, texts[name])
        for name in [n for n in texts if n.startswith("IDS_RETRY_IN+")]:  # the longest wait has two digits
            self.fits(dlg, STATUS, dpi, wincase.formatted(texts[name], 30))
        self.assertEqual(self.driver.text(dlg, CHECKBOX), texts["IDS_SAVE_COPY"])
        self.fits(dlg, CHECKBOX, dpi)
        width, room, _, line = self.driver.cmd(
            "widest", dlg, DETAIL, harness.winpath(self.detail_lines[code])).split(" ", 3)
        self.note("%s, %d dpi, widest detail line %r" % (code, dpi, harness.unescape(line)), (int(width), int(room)))
        self.assertLessEqual(int(width), int(room), line)


if __name__ == "__main__":
    wincase.main()

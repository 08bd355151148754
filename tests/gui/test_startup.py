#!/usr/bin/env python3
"""Start-up values that only the whole program shows: the user agent comes
from the program's own file version (the failures of an incomplete string
table or version resource are tested in tests/e2e/test_startup.py)."""
import wincase
from wincase import IDNO, IDOK, harness


class Startup(wincase.Case):

    def test_user_agent_follows_the_file_version(self):
        # qd_version10 is built with file version 10.2.3.4 for slot 0's port.
        self.assertEqual(wincase.SLOT, 0, "qd_version10 talks to slot 0's port")
        self.serve(status=404, body="")
        self.launch(wincase.exe("qd_version10"))
        self.assertEqual(self.answer(IDOK), "Download Failed: Not Found (404)")
        self.answer_exact(wincase.BROWSER_QUESTION, IDNO)
        self.wait_exit()
        gets = self.downloads()
        self.assertEqual(len(gets), 1)
        self.assertEqual(harness.header(gets[0], "User-Agent"), "TovInstaller/10.2")
        self.assertEqual(gets[0]["target"], wincase.PATH_QUERY)


if __name__ == "__main__":
    wincase.main()

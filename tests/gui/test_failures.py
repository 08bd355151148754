#!/usr/bin/env python3
"""Downloads that fail: the reason in "Download Failed: %s", then the offer
to download in the browser, which opens exactly the download address on Yes
and nothing on No. The program exits with 0 every time."""
import os
import re
import socket
import time

import wincase
from wincase import IDNO, IDYES

FAILED = "Download Failed: "


class Failures(wincase.Case):

    def url(self):
        return "https://localhost:%d%s" % (self.port, wincase.PATH_QUERY)

    def fail_with(self, browser=IDNO):
        """Answers the error box and the browser offer; returns the error text."""
        text = self.answer_failure(browser=browser)
        self.wait_exit()
        self.assertEqual(self.installer_runs(), [], "an installer ran after a failure")
        return text

    def client_text(self, text):
        """The part after "Download Failed: ", which must be a real message."""
        self.assertTrue(text.startswith(FAILED), repr(text))
        reason = text[len(FAILED):]
        self.assertTrue(reason.strip(), "no reason given: %r" % text)
        self.assertFalse(reason.endswith((".", " ", "\r", "\n")), "untrimmed: %r" % text)
        return reason

    def test_not_found_then_yes_opens_the_download_address(self):
        self.serve(status=404, body="no such installer\n")
        self.launch()
        self.assertEqual(self.fail_with(IDYES), FAILED + "Not Found (404)")
        self.assertEqual(self.wait_browser(10), [self.url()])
        # The failure leaves the (empty) temporary file where it was.
        self.assertEqual(os.path.getsize(self.temp_file), 0)

    def test_not_found_then_no_opens_nothing(self):
        self.serve(status=404, body="no such installer\n")
        self.launch()
        self.assertEqual(self.fail_with(IDNO), FAILED + "Not Found (404)")
        time.sleep(1.5)  # the browser would have been started well before now
        self.assertEqual(self.browser_opened(), [])

    def test_empty_body_could_not_be_found(self):
        self.serve(body="")
        self.launch()
        self.assertEqual(self.fail_with(), FAILED + "Could not be found on server")
        self.assertEqual(os.path.getsize(self.temp_file), 0)

    def test_connection_refused_gives_the_client_text(self):
        with socket.socket() as s:
            refused = s.connect_ex(("127.0.0.1", self.port)) != 0
        self.assertTrue(refused, "something listens on port %d" % self.port)
        self.launch()
        reason = self.client_text(self.fail_with())
        # The client has its own text for this, on Wine and on Windows.
        self.assertFalse(reason.startswith(("System Error", "A call to an OS function failed")), reason)

    def test_untrusted_certificate_is_refused(self):
        self.serve(trusted=False, body=self.payload)
        self.launch()
        text = self.fail_with()
        # Windows has a text for an untrusted chain; Wine's client has none,
        # so the system-error form stands there with the client's own code.
        if not re.fullmatch(FAILED + r"System Error\.  Code: 12\d\d\d\.\r\n", text):
            self.client_text(text)
        # Wine's client may finish the handshake before it checks the chain;
        # either way no request goes over the connection.
        self.assertEqual(self.downloads(), [], "a request went over the untrusted connection")

    def test_temporary_folder_that_cannot_be_written(self):
        # It does not exist: the run's own folder cannot be made in it.
        self.serve(body=self.payload)
        self.temp_win += "\\missing"
        self.launch(env={"TEMP": self.temp_win, "TMP": self.temp_win})
        text = self.fail_with(IDYES)
        prefix = '%sCannot create file "%s\\' % (FAILED, self.temp_win)
        self.assertTrue(text.lower().startswith(prefix.lower()), repr(text))
        self.assertRegex(text[len(prefix):], r'(?i)^%s"\. \S' % wincase.RUN_FOLDER.pattern)
        self.assertEqual(self.downloads(), [], "downloaded although the file could not be made")
        self.assertEqual(self.wait_browser(10), [self.url()])


if __name__ == "__main__":
    wincase.main()

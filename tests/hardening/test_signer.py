#!/usr/bin/env python3
"""The opt-in signer check (variant qd_signed_slot0, signer QD_TEST_SIGNER).

The installer stand-in is signed with osslsigncode by code-signing leaves
issued here under the test CA the prefix trusts (tests/e2e/pki: ca.pem and
ca.key). A file signed by the expected signer is run; an unsigned one, one
signed by another subject, one altered after signing, and a signed one whose
end the connection cut off (no Content-Length, so the client reports a normal
end) are refused: the file is deleted, never run, and the user reads
"Download Failed: The downloaded installer is not signed by <signer>" with the
browser offer.

Wine's WinVerifyTrust accepts (0) a self-signed certificate with the
expected name, where Windows gives CERT_E_UNTRUSTEDROOT 0x800B0109; a leaf
without the code-signing usage (Windows: CERT_E_WRONG_USAGE 0x800B0110); and
a leaf issued by a certificate that is no CA, which Wine's Authenticode chain
policy passes as well. The program builds the signer's chain itself and
refuses all three; tools/trustprobe shows the platform's answer beside the
program's verdict, file by file.
"""
import os
import struct
import tempfile

import signing
import wincase
from signing import SERVER_ONLY
from wincase import IDNO

SIZE = 300000            # the served installer, padded
CUT = 200000             # where the connection ends in the truncation case

TRUST_E_NOSIGNATURE = 0x800B0100
TRUST_E_BAD_DIGEST = 0x80096010


def first_section_offset(data):
    """File offset of the first section's raw data (the code)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    return struct.unpack_from("<I", data, pe + 24 + optional + 20)[0]


class SignerCheck(wincase.Case):
    SIGNER = wincase.config().signer
    REFUSED = "Download Failed: The downloaded installer is not signed by " + SIGNER

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(wincase.config().work, exist_ok=True)
        cls._dir = tempfile.TemporaryDirectory(prefix="signing-", dir=wincase.config().work)
        pki = cls.pki = signing.Pki(cls._dir.name)
        unsigned = pki.path("unsigned.exe")
        with open(unsigned, "wb") as f:
            f.write(wincase.padded(wincase.installer_bytes(), SIZE))
        files = {"unsigned": unsigned}
        files["good"] = pki.sign(pki.leaf("good", cls.SIGNER), unsigned, pki.path("good.exe"))
        files["other"] = pki.sign(pki.leaf("other", "Another Publisher"), unsigned, pki.path("other.exe"))
        data = bytearray(wincase.read(files["good"]))
        data[first_section_offset(data) + 0x100] ^= 0x01
        files["altered"] = pki.path("altered.exe")
        with open(files["altered"], "wb") as f:
            f.write(data)
        files["self_signed"] = pki.sign(pki.self_signed("self", cls.SIGNER), unsigned, pki.path("self.exe"))
        files["not_for_code"] = pki.sign(pki.leaf("server", cls.SIGNER, SERVER_ONLY), unsigned,
                                         pki.path("not-for-code.exe"))
        # "good" has CA:FALSE, so it may not issue certificates.
        files["not_from_a_ca"] = pki.sign(pki.leaf("under-leaf", cls.SIGNER, issuer="good"), unsigned,
                                          pki.path("not-from-a-ca.exe"))
        cls.files = files

    @classmethod
    def tearDownClass(cls):
        cls._dir.cleanup()

    # -- what the platform says ---------------------------------------------------

    _probe = None

    def probe(self):
        """What trustprobe says of every file: {name: {wvt, signer, chain, verdict}}."""
        cls = type(self)
        if cls._probe is None:
            cls._probe = signing.trust_probe(self.SIGNER, self.files)
        return cls._probe

    def test_platform_tells_apart_missing_and_broken_signatures(self):
        p = self.probe()
        self.assertEqual((p["good"]["wvt"], p["good"]["signer"], p["good"]["verdict"]),
                         (0, self.SIGNER, "accepted"))
        self.assertEqual((p["unsigned"]["wvt"], p["unsigned"]["verdict"]), (TRUST_E_NOSIGNATURE, "refused"))
        self.assertEqual((p["altered"]["wvt"], p["altered"]["verdict"]), (TRUST_E_BAD_DIGEST, "refused"))
        # A valid signature of someone else: only the name tells it apart.
        self.assertEqual((p["other"]["wvt"], p["other"]["signer"], p["other"]["verdict"]),
                         (0, "Another Publisher", "refused"))

    def test_signer_chain_must_be_trusted_for_code_signing(self):
        # Each with the expected name and a signature the trust provider
        # accepts under Wine.
        p = self.probe()
        for name in ("self_signed", "not_for_code", "not_from_a_ca"):
            with self.subTest(name):
                self.assertEqual((p[name]["signer"], p[name]["verdict"]), (self.SIGNER, "refused"))

    # -- what the user sees -------------------------------------------------------

    def download(self, name, **route):
        self.assertEqual(wincase.SLOT, 0, "qd_signed_slot0 talks to slot 0's port")
        self.serve(body=wincase.read(self.files[name]), **route)
        self.launch(wincase.exe("qd_signed_slot0"))

    def assert_refused(self):
        text = self.answer_failure(browser=IDNO)
        self.assertEqual(text, self.REFUSED)
        self.wait_exit()
        self.assertEqual(self.installer_runs(), [], "a refused installer ran")
        self.assertFalse(os.path.exists(self.temp_file), "the refused file was left in the temporary folder")
        self.assertEqual(self.browser_opened(), [])

    def test_signed_by_the_expected_signer_is_run(self):
        self.download("good")
        self.wait_exit(30000)
        runs = self.installer_runs()
        self.assertEqual(len(runs), 1, runs)
        self.assert_run_path(runs[0]["path"])
        self.assertEqual(runs[0]["exit"], 0)
        self.assertEqual(self.program_boxes(), [])
        self.assertFalse(os.path.exists(self.temp_file))

    def test_unsigned_is_refused(self):
        self.download("unsigned")
        self.assert_refused()

    def test_signed_by_another_subject_is_refused(self):
        self.download("other")
        self.assert_refused()

    def test_self_signed_is_refused(self):
        self.download("self_signed")
        self.assert_refused()

    def test_signed_by_a_leaf_not_for_code_signing_is_refused(self):
        self.download("not_for_code")
        self.assert_refused()

    def test_altered_after_signing_is_refused(self):
        self.download("altered")
        self.assert_refused()

    def test_cut_off_without_length_is_refused(self):
        # The client reports the early close as a normal end (no length to
        # compare with); only the signature shows the file is not whole.
        self.download("good", content_length=None, cut_after=CUT)
        self.assert_refused()
        self.assertEqual(self.downloads()[0]["outcome"], "cut")


if __name__ == "__main__":
    wincase.main()

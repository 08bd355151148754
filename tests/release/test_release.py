#!/usr/bin/env python3
"""scripts/release.sh, as a release engineer uses it.

A release of two pairs signed with a code-signing leaf of the test CA and
time-stamped by a time-stamp server of the test CA, for this slot's server:
both stubs verify (osslsigncode, and WinVerifyTrust with
the program's own check in the prefix that trusts the test CA), the sums
match, and the first stub downloads and runs the installer end to end. Then
an unsigned release of the same pairs with the build's own host, in the same
build folders: its first stub is byte for byte this tree's QuilletDownloader
(this tree has the default per-build values, as scripts/test.sh configures
it), so release.sh adds nothing and leaves no value of the signed run behind.
Bad input and a run that fails part-way write nothing.
"""
import hashlib
import os
import shutil
import stat
import subprocess
import tempfile
import time

import harness
import signing
import wincase

PAIRS = ["2024:quill", "2025:quill-b"]
STUBS = ["QuilletDownloader-2024-quill.exe", "QuilletDownloader-2025-quill-b.exe"]
PUBLISHER = "Quillet Release Test Publisher"
SCRIPT = os.path.join(harness.config().source, "scripts", "release.sh")


def release(args, env=None, timeout=400):
    started = time.monotonic()
    r = subprocess.run(["bash", SCRIPT] + args, capture_output=True, text=True, env=env, timeout=timeout)
    print("release.sh %s: exit %d in %.1f s" % (" ".join(args), r.returncode, time.monotonic() - started))
    return r


class Release(wincase.Case):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cfg = harness.config()
        os.makedirs(cfg.work, exist_ok=True)
        cls._dir = tempfile.TemporaryDirectory(prefix="release-", dir=cfg.work)
        cls.root = cls._dir.name
        pki = cls.pki = signing.Pki(cls.root)
        pki.leaf("publisher", PUBLISHER)
        cls.p12, cls.password = pki.pkcs12("publisher", "a pass phrase")
        cls.builds = os.path.join(cls.root, "builds")
        cls.signed = os.path.join(cls.root, "signed")
        cls.unsigned = os.path.join(cls.root, "unsigned")
        cls.signing = ["--pkcs12", cls.p12, "--password-file", cls.password, "--ca-file", pki.ca_pem]
        host = "localhost:%d" % cfg.ports[wincase.SLOT]
        cls.tsa = signing.TimeStampServer(pki)
        try:
            cls.signed_run = release(["--out", cls.signed, "--build-dir", cls.builds, "--host", host,
                                      "--timestamp", cls.tsa.url] + cls.signing + PAIRS)
        finally:
            cls.tsa.stop()
        cls.unsigned_run = release(["--out", cls.unsigned, "--build-dir", cls.builds] + PAIRS)

    @classmethod
    def tearDownClass(cls):
        cls._dir.cleanup()

    def output(self, folder, run):
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        return [os.path.join(folder, name) for name in STUBS]

    def test_signed_stubs_verify(self):
        stubs = self.output(self.signed, self.signed_run)
        for stub in stubs:
            said = signing.run([harness.config().osslsigncode, "verify", "-CAfile", self.pki.ca_pem,
                                "-TSA-CAfile", self.pki.ca_pem, "-in", stub])
            self.assertIn("Timestamp Server Signature verification: ok", said)
        probe = signing.trust_probe(PUBLISHER, dict(zip(STUBS, stubs)))
        for name in STUBS:
            self.assertEqual((probe[name]["wvt"], probe[name]["signer"], probe[name]["verdict"]),
                             (0, PUBLISHER, "accepted"), name)

    def test_sums_match_the_stubs(self):
        for folder, run in ((self.signed, self.signed_run), (self.unsigned, self.unsigned_run)):
            stubs = self.output(folder, run)
            with open(os.path.join(folder, "SHA256SUMS")) as f:
                sums = f.read()
            expected = "".join("%s  %s\n" % (hashlib.sha256(wincase.read(s)).hexdigest(), os.path.basename(s))
                               for s in stubs)
            self.assertEqual(sums, expected, folder)
            self.assertEqual(sorted(os.listdir(folder)), sorted(STUBS + ["BUILDINFO", "SHA256SUMS"]))

    def test_unsigned_release_is_the_plain_build(self):
        stubs = self.output(self.unsigned, self.unsigned_run)
        self.assertIn("UNSIGNED", self.unsigned_run.stdout)
        with open(harness.config().exe("QuilletDownloader"), "rb") as f:
            plain = f.read()
        if wincase.read(stubs[0]) != plain:
            self.fail("the unsigned stub %s is not this tree's QuilletDownloader" % STUBS[0])

    def test_signed_stub_downloads_and_runs_the_installer(self):
        # Signing must leave the resources and the manifest as they were.
        stubs = self.output(self.signed, self.signed_run)
        if harness.config().win64:
            self.skipTest("the stub is 32-bit code, and this Wine side runs 64-bit code only")
        self.serve_installer()
        self.launch(stubs[0])
        self.wait_exit(30000)
        self.assertEqual([e["target"] for e in self.downloads()], [wincase.PATH_QUERY])
        runs = self.installer_runs()
        self.assertEqual([r["exit"] for r in runs], [0])
        self.assert_run_path(runs[0]["path"])
        self.assertEqual(self.program_boxes(), [])

    def test_bad_input_writes_nothing(self):
        wrong = os.path.join(self.root, "wrong.password")
        with open(wrong, "w") as f:
            f.write("not the pass phrase\n")
        cases = [
            ("empty serial", ["2024:"], "serial of '2024:' is empty"),
            ("year of two digits", ["24:quill"], "'24' of '24:quill' is not four digits"),
            ("language without a file", ["--languages", "en,xx", "2024:quill"], "resources/lang/xx.rc"),
            ("no password file", ["--pkcs12", self.p12, "2024:quill"], "needs --password-file"),
            ("password file missing", ["--pkcs12", self.p12, "--password-file", wrong + ".missing", "2024:quill"],
             "password file"),
            ("wrong password", ["--pkcs12", self.p12, "--password-file", wrong, "2024:quill"], "wrong password"),
            ("time-stamp server unreachable",
             self.signing + ["--timestamp", "http://127.0.0.1:%d/" % harness.free_port(), "2024:quill"],
             "cannot be reached"),
        ]
        for name, args, message in cases:
            with self.subTest(name):
                out = os.path.join(self.work, "out")
                r = release(["--out", out] + args)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn(message, r.stderr)
                self.assertEqual((r.stdout, os.listdir(self.work)), ("", []))

    def test_failure_part_way_leaves_no_output(self):
        # osslsigncode that fails for the second stub.
        tools = os.path.join(self.work, "tools")
        os.makedirs(tools)
        fake = os.path.join(tools, "osslsigncode")
        with open(fake, "w") as f:
            f.write('#!/bin/sh\nif [ "$1" = sign ]; then\n'
                    '  [ -e "$0.signed" ] && { echo "no more signing" >&2; exit 1; }\n'
                    '  touch "$0.signed"\nfi\nexec %s "$@"\n' % shutil.which("osslsigncode"))
        os.chmod(fake, os.stat(fake).st_mode | stat.S_IXUSR)
        env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"])
        out = os.path.join(self.work, "out")
        r = release(["--out", out, "--build-dir", self.builds] + self.signing + PAIRS, env=env)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn("signing %s failed" % STUBS[1], r.stderr)
        self.assertEqual(sorted(os.listdir(self.work)), ["tools"])


if __name__ == "__main__":
    wincase.main()

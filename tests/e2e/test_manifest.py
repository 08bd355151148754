#!/usr/bin/env python3
"""The manifest inside the built program (so that one the resource compiler
dropped is noticed too): the Windows versions it declares (a program not
declared for 8.1 or 10 is told it runs on 8), the UTF-8 code page,
per-monitor DPI v2 falling back to system DPI, no elevation, the common controls 6."""
import re
import unittest
import xml.etree.ElementTree as ET

import harness

NS = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "c": "urn:schemas-microsoft-com:compatibility.v1", "ws": "http://schemas.microsoft.com/SMI/%s/WindowsSettings"}
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # 7, 8, 8.1, 10/11
SETTINGS = "v3:application/v3:windowsSettings/{%s}" % NS["ws"]
# (path, attribute or None for the text, value)
EXPECTED = [
    (SETTINGS % 2019 + "activeCodePage", None, "UTF-8"),
    # Without v2 (8.1, 10 before 1703): system aware, never per-monitor v1.
    (SETTINGS % 2005 + "dpiAware", None, "true"),
    (SETTINGS % 2016 + "dpiAwareness", None, "PerMonitorV2, System"),
    ("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", "level", "asInvoker"),
    ("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", "name", "Microsoft.Windows.Common-Controls"),
    ("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", "version", "6.0.0.0"),
]


class Manifest(unittest.TestCase):

    def test_shipped_program_declares_versions_and_settings(self):
        with open(harness.config().exe("QuilletDownloader"), "rb") as f:
            found = re.findall(rb"<assembly .*?</assembly>", f.read(), re.S)
        self.assertEqual(len(found), 1, "manifests in the program")
        root = ET.fromstring(found[0])
        ids = {e.get("Id") for e in root.findall("c:compatibility/c:application/c:supportedOS", NS)}
        self.assertEqual(ids, SUPPORTED_OS)
        for path, attribute, value in EXPECTED:
            with self.subTest(path=path, attribute=attribute):
                element = root.find(path, NS)
                self.assertIsNotNone(element, path)
                self.assertEqual(element.get(attribute) if attribute else element.text, value)


if __name__ == "__main__":
    harness.main()

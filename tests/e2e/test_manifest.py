#!/usr/bin/env python3
"""The manifest inside the shipped program: the Windows versions it declares
(each changes what the system does for it: a program not declared for 8.1 or
10 is told it runs on 8), the UTF-8 code page, per-monitor DPI, no elevation
and the common controls 6. Read from the built program, not the source, so a
manifest the resource compiler dropped or an old copy is noticed."""
import re
import unittest
import xml.etree.ElementTree as ET

import harness

NS = {
    "asm1": "urn:schemas-microsoft-com:asm.v1",
    "asm3": "urn:schemas-microsoft-com:asm.v3",
    "compat": "urn:schemas-microsoft-com:compatibility.v1",
    "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
    "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
    "ws2019": "http://schemas.microsoft.com/SMI/2019/WindowsSettings",
}
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
SETTINGS = "asm3:application/asm3:windowsSettings/"
# (path, attribute or None for the text, value)
EXPECTED = [
    (SETTINGS + "ws2019:activeCodePage", None, "UTF-8"),
    (SETTINGS + "ws2005:dpiAware", None, "true/pm"),
    (SETTINGS + "ws2016:dpiAwareness", None, "PerMonitorV2"),
    ("asm3:trustInfo/asm3:security/asm3:requestedPrivileges/asm3:requestedExecutionLevel", "level", "asInvoker"),
    ("asm1:dependency/asm1:dependentAssembly/asm1:assemblyIdentity", "name", "Microsoft.Windows.Common-Controls"),
    ("asm1:dependency/asm1:dependentAssembly/asm1:assemblyIdentity", "version", "6.0.0.0"),
]


def embedded_manifest(path):
    with open(path, "rb") as f:
        data = f.read()
    found = re.findall(rb"<assembly .*?</assembly>", data, re.S)
    if len(found) != 1:
        raise AssertionError("%d manifests in %s" % (len(found), path))
    return ET.fromstring(found[0])


class Manifest(unittest.TestCase):

    def test_shipped_program_declares_versions_and_settings(self):
        root = embedded_manifest(harness.config().exe("QuilletDownloader"))
        ids = {e.get("Id") for e in root.findall("compat:compatibility/compat:application/compat:supportedOS", NS)}
        self.assertEqual(ids, SUPPORTED_OS)
        for path, attribute, value in EXPECTED:
            with self.subTest(path=path, attribute=attribute):
                element = root.find(path, NS)
                self.assertIsNotNone(element, path)
                self.assertEqual(element.get(attribute) if attribute else element.text, value)


if __name__ == "__main__":
    harness.main()

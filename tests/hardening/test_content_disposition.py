#!/usr/bin/env python3
"""A Content-Disposition header of every shape in the fuzz corpus
(tests/fuzz/corpus/content_disposition), and names that try to leave the
temporary folder: the download succeeds every time, the installer runs from
the temporary folder under the program's own name, and nothing is written
where the server's name points."""
import os

import wincase

# Beyond the corpus: names that point elsewhere.
ESCAPES = {
    "parent folders": 'attachment; filename="..\\..\\qdh-escaped.exe"',
    "slashes": 'attachment; filename="../../qdh-escaped.exe"',
    "absolute": 'attachment; filename="Z:\\tmp\\qdh-escaped.exe"',
    "device": 'attachment; filename="CON"',
}


def corpus():
    folder = os.path.join(wincase.config().corpus, "content_disposition")
    shapes = {}
    for name in sorted(os.listdir(folder)):
        shapes[name] = wincase.read(os.path.join(folder, name)).decode("latin-1")
    return shapes


class ContentDisposition(wincase.Case):
    def test_every_shape_downloads_and_runs_under_the_programs_name(self):
        shapes = corpus()
        self.assertGreaterEqual(len(shapes), 10, "the corpus is missing")
        shapes.update(ESCAPES)
        payload = wincase.installer_bytes()
        self.serve(body=payload)
        escaped = [os.path.join(self.temp, "..", "..", "qdh-escaped.exe"), "/tmp/qdh-escaped.exe",
                   os.path.join(self.temp, "qdh-escaped.exe")]
        for name, value in shapes.items():
            with self.subTest(name, value=value):
                for path in (self.record, self.browser_log):
                    if os.path.exists(path):
                        os.remove(path)
                self.server.route("/installer.php", body=payload,
                                  headers=[["Content-Disposition", value]])
                self.server.clear()
                self.launch()
                self.wait_exit(30000)
                self.assertEqual(self.program_boxes(), [])
                self.end_run()
                got = self.downloads()
                self.assertEqual(len(got), 1)
                self.assertEqual(got[0]["outcome"], "complete")
                runs = self.installer_runs()
                self.assertEqual(len(runs), 1, runs)
                self.assert_run_path(runs[0]["path"])
                self.assertEqual(runs[0]["exit"], 0)
                self.assertEqual(os.listdir(self.temp), [], "left in the temporary folder")
                for path in escaped:
                    self.assertFalse(os.path.exists(path), path)


if __name__ == "__main__":
    wincase.main()

"""python3 -m bench [--quick] [--runs N]: see __init__.py; scripts/bench.sh runs it."""
import argparse
import json
import os
import sys
import time

from . import __doc__ as about
from . import image, memory, report, resume, throughput, whole
from .config import DOCS, EXES, GiB, MiB, WORK, say, shipped_open_url_flags, throughput_variants
from .bed import Bed
from .procs import busy_processes, machine


def main():
    p = argparse.ArgumentParser(prog="scripts/bench.sh", description=about.splitlines()[0])
    p.add_argument("--quick", action="store_true",
                   help="2 rounds and smaller bodies, to try the harness (leaves docs/performance.md alone)")
    p.add_argument("--runs", type=int, help="measured rounds per figure (default 9, quick 2)")
    a = p.parse_args()
    a.runs = a.runs or (2 if a.quick else 9)
    a.mem_runs = 1 if a.quick else 3
    a.body = (64 if a.quick else 256) * MiB
    a.whole_body = (32 if a.quick else 64) * MiB
    mem_sizes = [16 * MiB, 128 * MiB] if a.quick else [16 * MiB, 256 * MiB, GiB]
    for name, path in EXES.items():
        if not os.path.isfile(path):
            raise SystemExit("missing %s (%s): run scripts/bench.sh, which builds it" % (name, path))
    flags = shipped_open_url_flags()
    variants = throughput_variants(flags)

    info = machine()
    info["busy"] = busy_processes()
    info["open_url_flags"] = "0x%X" % flags
    say("load average %.2f %.2f %.2f; busy: %s; the program's request flags 0x%X" % (
        *info["load"], ", ".join(info["busy"]) or "none", flags))
    started = time.monotonic()
    with Bed() as b:
        tp = throughput.run(b, variants, a.body, a.runs)
        wh = whole.run(b, b.padded_installer(a.whole_body), a.whole_body, a.runs, flags)
        mem = memory.run(b, mem_sizes, a.mem_runs)
        res = resume.run(b, 64 * MiB, 8 * MiB, a.runs)
    size_info = image.run(EXES["release"])
    info["load_after"] = os.getloadavg()
    text = report.table(a, info, variants, tp, wh, mem, size_info) + "\n\n" + "\n".join(
        resume.lines(64 * MiB, 8 * MiB, res))
    with open(os.path.join(WORK, "results.md"), "w") as f:
        f.write(text + "\n")
    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump({"machine": info, "args": vars(a), "throughput": report.raw(tp[0]),
                   "empty": report.raw(tp[1]), "whole": report.raw(wh),
                   "memory": {str(k): report.raw({"runs": v})["runs"] for k, v in mem.items()},
                   "release": size_info, "resumption": report.raw(res), "seconds": time.monotonic() - started}, f, indent=1)
    if not a.quick:
        report.update_docs(text)
    print(text)
    say("took %.0f s; table in %s%s, every run in %s" % (
        time.monotonic() - started, os.path.join(WORK, "results.md"),
        "" if a.quick else " and " + DOCS, os.path.join(WORK, "results.json")))
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Phase 1: throughput and CPU of the engine, the bare WinInet loop and curl
on one large body."""
import os
import subprocess
import time

from .config import PKI, MiB, say
from .procs import Run


def curl(b, out_file, *extra):
    return ["curl", "-sS", "--cacert", os.path.join(PKI, "ca.pem"), "-o", out_file, *extra, b.url("/body")]


def run(b, variants, body, runs):
    """Every variant once a round, in a different order each round so that no
    variant always follows the same one, and curl after them; round 0 warms up
    and is dropped. Each Wine tool also fetches an empty body, for what
    start-up and TLS cost alone. Returns (results, empty): key -> runs."""
    b.start_server({"/body": {"body_size": body}, "/empty": {"body_size": 0}})
    out_file = b.installer_unix()
    timeout = max(120, body // MiB)
    results = {k: [] for k, *_ in variants}
    results["d"] = []
    empty = {k: [] for k, *_ in variants}
    for round_ in range(runs + 1):
        shift = round_ % len(variants)
        for key, _, tool, extra in variants[shift:] + variants[:shift]:
            b.clean_outputs()
            r = b.wine_run(tool, extra + [b.url("/body")], timeout, "tp-%s-%d" % (key, round_))
            size = os.path.getsize(out_file) if os.path.exists(out_file) else -1
            if not r.report["ok"] or size != body or r.rc != 0:
                raise SystemExit("(%s) failed: rc %s, file %d bytes, %s" % (key, r.rc, size, r.report["line"]))
            if round_:
                results[key].append(r)
            e = b.wine_run(tool, extra + [b.url("/empty")], 60, "tp-%s-empty-%d" % (key, round_))
            if round_ and e.report["ok"]:
                empty[key].append(e)
        b.clean_outputs()
        t0 = time.monotonic()
        c = subprocess.run(curl(b, out_file, "-w", "%{time_total} %{time_starttransfer}"),
                           capture_output=True, text=True, timeout=timeout)
        wall = time.monotonic() - t0
        if c.returncode != 0 or os.path.getsize(out_file) != body:
            raise SystemExit("(d) curl failed: %s" % c.stderr.strip())
        if round_:
            total, first = (float(x) for x in c.stdout.split())
            results["d"].append({"time": total, "first": first, "wall": wall})
        say("throughput round %d of %d done" % (round_, runs) if round_ else "throughput warm-up done")
    b.clean_outputs()
    results["curl_cpu"] = curl_cpu(b, body, runs)
    return results, empty


def curl_cpu(b, body, runs):
    """curl's CPU per run, measured separately through wait4 (subprocess.run
    does not give rusage). The server is still up from run()."""
    timeout = max(120, body // MiB)
    cpus = []
    for _ in range(runs):
        r = Run(curl(b, b.installer_unix()), dict(os.environ), timeout)
        if r.rc == 0:
            cpus.append(r.cpu)
    b.clean_outputs()
    return cpus

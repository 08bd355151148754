"""Phase 2: the whole program until the installer starts, against the bare
loop that downloads the same body to the same file and starts it the same
way."""
from .config import INSTALLER_NAME, PROGRAM_PATH, MiB, say


def run(b, body_path, body, runs, flags):
    """`flags`: the request flags of the bare loop, the program's own."""
    b.start_server({"/installer.php": {"body_file": body_path, "headers": [
        ["Content-Disposition", 'attachment; filename="%s"' % INSTALLER_NAME]]}})
    variants = [
        ("program", "qd_bench", []),
        ("bare", "inetloop", ["--block", "4096", "--flags", "%x" % flags, "--run", b.url(PROGRAM_PATH)]),
    ]
    results = {k: [] for k, *_ in variants}
    for round_ in range(runs + 1):  # round 0 warms up and is dropped
        for key, tool, args in (variants if round_ % 2 else variants[::-1]):
            b.clean_outputs()
            r = b.wine_run(tool, args, max(120, body // MiB), "whole-%s-%d" % (key, round_),
                           watch=b.record, grows=b.server_log)
            reqs = b.requests_since(r.start, "/installer.php")
            if (r.rc != 0 or r.watch_seen is None or r.grew is None or len(reqs) != 1
                    or reqs[0]["sent"] != body):
                raise SystemExit("whole-program run (%s) failed: rc %s, installer %s, requests %s"
                                 % (key, r.rc, "started" if r.watch_seen else "not started",
                                    [(e["outcome"], e["sent"]) for e in reqs]))
            r.request_at = reqs[0]["time"]
            if round_:
                results[key].append(r)
        say("whole-program round %d of %d done" % (round_, runs) if round_ else "whole-program warm-up done")
    b.clean_outputs()
    return results

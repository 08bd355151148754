"""Phase 2: the whole program until the installer starts, against the bare
loop that downloads the same body to the same file and starts it the same
way, and against the same loop started from a dialog made from the
program's own template and manifest. The program's steps up to the request
come from its benchmark build, the references' from their report lines."""
from .config import INSTALLER_NAME, PROGRAM_PATH, MiB, say
from .procs import steps

# Each variant's steps, in the order they happen; the program's build notes
# more of its own (see tests/variants/startup_steps.cpp).
STEPS = {
    "program": ["entry", "claim", "claimed", "dialog_call", "initdialog", "thread_create", "worker",
                "client_load", "client_loaded", "session", "opened", "request", "answer"],
    "dialog": ["entry", "initdialog", "worker", "session", "opened", "request", "answer"],
    "bare": ["entry", "session", "opened", "request", "answer"],
}
NOTICES = [10, 11, 20, 21, 30, 31, 40, 41]


def run(b, body_path, body, runs, flags):
    """`flags`: the request flags of the loops, the program's own."""
    b.start_server({"/installer.php": {"body_file": body_path, "headers": [
        ["Content-Disposition", 'attachment; filename="%s"' % INSTALLER_NAME]]}})
    loop = ["--block", "4096", "--flags", "%x" % flags, "--run", b.url(PROGRAM_PATH)]
    variants = [
        ("program", "qd_bench", []),
        ("dialog", "dialogloop", loop),
        ("bare", "inetloop", loop),
    ]
    results = {k: [] for k, *_ in variants}
    for round_ in range(runs + 1):  # round 0 warms up and is dropped
        shift = round_ % len(variants)
        for key, tool, args in variants[shift:] + variants[:shift]:
            b.clean_outputs()
            r = b.wine_run(tool, args, max(120, body // MiB), "whole-%s-%d" % (key, round_),
                           steps=key == "program", watch=b.record, grows=b.server_log)
            reqs = b.requests_since(r.start, "/installer.php")
            if (r.rc != 0 or r.watch_seen is None or r.grew is None or len(reqs) != 1
                    or reqs[0]["sent"] != body or not r.report["ok"]):
                raise SystemExit("whole-program run (%s) failed: rc %s, installer %s, requests %s, report %s"
                                 % (key, r.rc, "started" if r.watch_seen else "not started",
                                    [(e["outcome"], e["sent"]) for e in reqs], r.report["line"]))
            r.request_at = reqs[0]["time"]
            r.steps = steps(r.report, STEPS[key])
            if key == "program":
                r.notices = steps(r.report, ["n%d" % n for n in NOTICES] + ["n%d_done" % n for n in NOTICES])
            if round_:
                results[key].append(r)
        say("whole-program round %d of %d done" % (round_, runs) if round_ else "whole-program warm-up done")
    b.clean_outputs()
    return results

"""Phase 5: the table of medians, every run's figures (results.json), and the
latest run in docs/performance.md."""
import os
import re
import time

from .config import DOCS, EXES, JOB_SLEEP_MS, ROOT, TARGETS, GiB, MiB, human, median
from .procs import Run

BEGIN = "<!-- bench:begin -->"
END = "<!-- bench:end -->"


def fmt(v, pattern="%.1f"):
    return "-" if v is None else pattern % v


def header(args, info):
    return [
        "- Machine: %d cores, %s, %s, kernel %s" % (info["nproc"], info["cpu"], info["wine"], info["kernel"]),
        "- Load average before: %.2f %.2f %.2f; after: %.2f %.2f %.2f; busy before: %s" % (
            *info["load"], *info["load_after"], ", ".join(info["busy"]) or "none"),
        "- Medians of %d rounds after one warm-up round (memory: %d rounds)%s." % (
            args.runs, args.mem_runs, " -- QUICK RUN" if args.quick else ""),
        "",
    ]


def throughput(args, variants, results, empty, figures):
    body = args.body
    lines = [
        "1. Throughput, %s body. MiB/s (body): from the first block to the last read; MiB/s (request):"
        " from creating the file, so with connection and TLS set-up. CPU: the wine process (rusage at"
        " exit) + wineserver (/proc stat delta); net: less the same tool's run on an empty body" % human(body),
        "",
        "| variant | MiB/s (body) | range | MiB/s (request) | wine CPU s | wineserver CPU s | CPU s per GiB"
        " | net CPU s per GiB |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    body_rate = lambda r: body / MiB / ((r.report["transfer_ms"] - r.report["first_ms"]) / 1000)  # noqa: E731
    rate, whole_rate, net_gib, rows = {}, {}, {}, {}
    for key, label, *_ in variants:
        rs = results[key]
        rates = [body_rate(r) for r in rs]
        rate[key] = median(rates)
        whole_rate[key] = median([body / MiB / (r.report["transfer_ms"] / 1000) for r in rs])
        e_cpu = median([e.cpu + e.wineserver_cpu for e in empty[key]]) or 0.0
        cpu_gib = median([(r.cpu + r.wineserver_cpu) / (body / GiB) for r in rs])
        net_gib[key] = median([(r.cpu + r.wineserver_cpu - e_cpu) / (body / GiB) for r in rs])
        rows[key] = "| (%s) %s | %s | %.0f-%.0f | %s | %s | %s | %s | %s |" % (
            key, label, fmt(rate[key]), min(rates), max(rates), fmt(whole_rate[key]),
            fmt(median([r.cpu for r in rs]), "%.2f"), fmt(median([r.wineserver_cpu for r in rs]), "%.2f"),
            fmt(cpu_gib, "%.2f"), fmt(net_gib[key], "%.2f"))
    rates = [body / MiB / (r["time"] - r["first"]) for r in results["d"]]
    rate["d"] = median(rates)
    curl_cpu = results["curl_cpu"]
    rows["d"] = "| (d) curl on the host | %s | %.0f-%.0f | %s | %s | - | %s | - |" % (
        fmt(rate["d"]), min(rates), max(rates), fmt(median([body / MiB / r["time"] for r in results["d"]])),
        fmt(median(curl_cpu), "%.2f"), fmt(median([c / (body / GiB) for c in curl_cpu]), "%.2f"))
    lines += [rows[key] for key in sorted(rows)]
    ab = figures["throughput"] = rate["a"] / rate["b"]
    lines += ["", "(a)/(b) = %.3f (%s; median of the rounds' own ratios %.3f); (a)/(d) = %.3f; (c)/(b) = %.3f;"
              " the flags: (b)/(e) = %.3f, the engine against the loop with the old flags (a)/(e) = %.3f;"
              " by request time (a)/(b) = %.3f; net CPU per GiB (a)/(b) = %.3f, (b)/(e) = %.3f" % (
                  ab, TARGETS["throughput"].verdict(ab),
                  median([body_rate(a) / body_rate(b) for a, b in zip(results["a"], results["b"])]),
                  rate["a"] / rate["d"], rate["c"] / rate["b"], rate["b"] / rate["e"], rate["a"] / rate["e"],
                  whole_rate["a"] / whole_rate["b"], net_gib["a"] / net_gib["b"], net_gib["b"] / net_gib["e"]), ""]
    return lines


def whole_program(args, whole, figures):
    lines = [
        "2. Whole program under Xvfb (qd_bench), %s installer: process start until the installer"
        " starts (the tick it records). Request: its arrival in the server's log; body sent: the server"
        " logs it once the last byte is written. The bare loop uses the program's request flags"
        % human(args.whole_body),
        "",
        "| run | start -> request s | request -> body sent s | body sent -> installer s | start -> installer s"
        " | range | same, less the job's %d ms pause | start -> exit s |" % JOB_SLEEP_MS,
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    pause = JOB_SLEEP_MS / 1000
    w = {}
    for key, label in (("program", "whole program"), ("dialog", "loop (b) started from the dialog + ShellExecuteExA"),
                       ("bare", "bare loop (b) + ShellExecuteExA")):
        rs = whole[key]
        spans = [r.watch_seen - r.start for r in rs]
        req, inst = median([r.request_at - r.start for r in rs]), median(spans)
        w[key] = (req, inst, inst - pause if key == "program" else inst)
        lines.append("| %s | %.3f | %.3f | %.3f | %.3f | %.3f-%.3f | %s | %.3f |" % (
            label, req, median([r.grew - r.request_at for r in rs]), median([r.watch_seen - r.grew for r in rs]),
            inst, min(spans), max(spans), "%.3f" % w[key][2] if key == "program" else "-",
            median([r.wall for r in rs])))
    ratio = figures["whole"] = w["program"][2] / w["bare"][1]
    paired = median([(p.watch_seen - p.start - pause) / (q.watch_seen - q.start)
                     for p, q in zip(whole["program"], whole["bare"])])
    lines += ["", "program/bare = %.3f with the pause, %.3f without it (%s; median of the rounds' own"
              " ratios without the pause %.3f); program/dialog-started loop without the pause = %.3f" % (
                  w["program"][1] / w["bare"][1], ratio, TARGETS["whole"].verdict(ratio), paired,
                  w["program"][2] / w["dialog"][1]), ""]
    return lines


def memory(mem, figures):
    lines = [
        "3. Peak memory of the whole program. Windows view: memwatch.exe samples GetProcessMemoryInfo"
        " every 10 ms (Wine 8 leaves PrivateUsage 0; memwatch then takes PagefileUsage). Host view:"
        " /proc/<pid>/status of the same process, every 10 ms",
        "",
        "| body | peak private bytes MiB | peak working set MiB | RssAnon MiB | VmHWM MiB | samples |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    peaks = {}
    for size, rs in sorted(mem.items()):
        peaks[size] = median([r.report["peak_private"] for r in rs])
        lines.append("| %s | %.2f | %.2f | %.2f | %.2f | %d |" % (
            human(size), peaks[size] / MiB, median([r.report["peak_working_set"] for r in rs]) / MiB,
            median([r.peak.get("RssAnon", 0) for r in rs]) / MiB,
            median([r.peak.get("VmHWM", 0) for r in rs]) / MiB, median([r.report["samples"] for r in rs])))
    small, large = min(peaks), max(peaks)
    growth = figures["memory"] = (peaks[large] - peaks[small]) / MiB
    lines += ["", "growth %s -> %s: %+.2f MiB private (%s)" % (
        human(small), human(large), growth, TARGETS["memory"].verdict(growth)), ""]
    return lines


def image(size_info, figures):
    size = size_info["size"]
    figures["size"] = size / 1000
    return [
        "4. Release program: %s" % os.path.relpath(EXES["release"], ROOT),
        "",
        "size %d bytes (%.1f KiB; %s); imports: %s; other DLL names in the image: %s; not a system DLL: %s" % (
            size, size / 1024, TARGETS["size"].verdict(size / 1000),
            ", ".join("%s (%d)" % (d, size_info["functions"].get(d, 0)) for d in size_info["imports"]),
            ", ".join(size_info["delayed"]) or "none", ", ".join(size_info["foreign"]) or "none"),
        "",
    ]


# The rows of the start-up table: label, and the step of each variant (None:
# the variant has no such step); "server" is the request's arrival in the
# server's log.
STARTUP_ROWS = [
    ("entry (WinMain's first call)", "entry", "entry", "entry"),
    ("the claim (CreateMutexW returned)", "claimed", None, None),
    ("the dialog: DialogBoxParamW called", "dialog_call", None, None),
    ("the dialog: WM_INITDIALOG", "initdialog", "initdialog", None),
    ("the worker: its thread runs", "worker", "worker", None),
    ("the client loaded (wininet.dll, delay-loaded)", "client_loaded", None, None),
    ("the session (InternetOpenA returned)", "opened", "opened", "opened"),
    ("the request (InternetOpenUrlA called)", "request", "request", "request"),
    ("**the request at the server**", "server", "server", "server"),
    ("the answer (InternetOpenUrlA returned)", "answer", "answer", "answer"),
]


def step_ms(r, step):
    at = r.request_at if step == "server" else r.steps.get(step)
    return None if at is None else (at - r.start) * 1000


def startup(whole, figures):
    """The steps from process start (the host's start of `wine`) until the
    request reaches the server, with each round's own differences."""
    keys = ("program", "dialog", "bare")
    lines = [
        "5. Start-up: ms from process start (the host starts `wine`) to each step, medians of the rounds"
        " (range). The program's steps come from its benchmark build (qd_bench, which notes them through"
        " its imports), the loops' from their own report; the dialog-started loop runs the loop (b) on a"
        " thread started from WM_INITDIALOG of a dialog made from the program's template and manifest,"
        " and nothing else. \"program - dialog\": median of the rounds' own differences (range)",
        "",
        "| step | program | loop started from the dialog | bare loop (b) | program - dialog |",
        "|---|---:|---:|---:|---:|",
    ]

    def cell(values):
        values = [v for v in values if v is not None]
        return "%.1f (%.0f-%.0f)" % (median(values), min(values), max(values)) if values else "-"
    for label, *names in STARTUP_ROWS:
        cols = [cell([step_ms(r, n) for r in whole[k]]) if n else "-" for k, n in zip(keys, names)]
        diff = "-"
        if names[0] and names[1]:
            d = [step_ms(p, names[0]) - step_ms(q, names[1]) for p, q in zip(whole["program"], whole["dialog"])
                 if step_ms(p, names[0]) is not None and step_ms(q, names[1]) is not None]
            diff = "%+.1f (%+.0f to %+.0f)" % (median(d), min(d), max(d)) if d else "-"
        lines.append("| %s | %s | %s |" % (label, " | ".join(cols), diff))
    server = {k: median([step_ms(r, "server") for r in whole[k]]) for k in keys}
    figures["startup"] = server["program"] - server["dialog"]
    paired = [step_ms(p, "server") - step_ms(q, "server") for p, q in zip(whole["program"], whole["dialog"])]
    # Time the worker spent in the program's status callback (its status
    # line, sent to the dialog) before the request reached the server.
    blocked = []
    for r in whole["program"]:
        n = r.notices
        blocked.append(sum((n["n%d_done" % c] - n["n%d" % c]) * 1000 for c in (10, 11, 20, 21, 30, 31, 40, 41)
                           if n.get("n%d" % c) and n.get("n%d_done" % c) and n["n%d" % c] < r.request_at))
    lines += ["", "Request at the server: program %.0f ms, dialog-started loop %.0f ms, bare loop %.0f ms;"
              " program - dialog-started loop %+.0f ms (%s; the rounds' own differences: median %+.0f,"
              " %+.0f to %+.0f ms); program - bare loop %+.0f ms; the program's worker spent a median"
              " %.1f ms in its status callback before the request reached the server" % (
                  server["program"], server["dialog"], server["bare"], figures["startup"],
                  TARGETS["startup"].verdict(figures["startup"]), median(paired), min(paired), max(paired),
                  server["program"] - server["bare"], median(blocked)), ""]
    return lines


def targets(figures):
    lines = ["| target | figure | limit | |", "|---|---:|---:|---|"]
    for key, t in TARGETS.items():
        lines.append("| %s | %s | %s %g%s | %s |" % (
            t.what, t.figure(figures[key]), t.sign, t.limit, t.unit, "met" if t.met(figures[key]) else "MISSED"))
    return lines


def table(args, info, variants, tp, whole, mem, size_info):
    figures = {}
    lines = header(args, info)
    lines += throughput(args, variants, *tp, figures)
    lines += whole_program(args, whole, figures)
    lines += memory(mem, figures)
    lines += image(size_info, figures)
    lines += startup(whole, figures)
    lines += targets(figures)
    return "\n".join(lines)


def raw(results):
    """Every run's figures, for results.json."""
    def one(r):
        if not isinstance(r, Run):
            return r
        d = {k: getattr(r, k, None) for k in ("wall", "cpu", "wineserver_cpu", "helpers_cpu", "rc", "samples")}
        d["peak"] = r.peak
        d["report"] = r.report
        for k in ("watch_seen", "polled_watch", "request_at", "grew"):
            if getattr(r, k, None) is not None:
                d[k + "_s"] = getattr(r, k) - r.start
        for k in ("steps", "notices"):
            if getattr(r, k, None):
                d[k + "_s"] = {n: None if t is None else t - r.start for n, t in getattr(r, k).items()}
        return d
    return {str(k): [one(r) for r in v] for k, v in results.items()}


def update_docs(text, path=DOCS):
    """Puts the run, with its date, between the markers of docs/performance.md."""
    with open(path) as f:
        doc = f.read()
    if BEGIN not in doc or END not in doc:
        raise SystemExit("%s has no %s ... %s block" % (path, BEGIN, END))
    run = "%s\n\nRun of %s (scripts/bench.sh).\n\n%s\n\n%s" % (
        BEGIN, time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), text, END)
    doc = re.sub(re.escape(BEGIN) + ".*?" + re.escape(END), lambda _: run, doc, flags=re.S)
    with open(path, "w") as f:
        f.write(doc)

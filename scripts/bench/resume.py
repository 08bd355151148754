"""Phase 6: a body over a link that breaks every few MiB, resumed by the
engine, against the same body over a clean link."""
from .config import MiB, median, say


def broken_every(size, every):
    """A route whose n-th request is cut at n times `every` bytes of the file,
    with a validator and ranges, so each request can resume the last."""
    route = {"body_size": size, "headers": [["ETag", '"bench"']], "ranges": True}
    for cut in reversed(range(every, size, every)):
        route = dict(route, cut_after=cut, then=route)
    return route


def run(b, size, every, runs):
    """(clean, broken): per round, the engine's report with the server's
    requests and the bytes it sent."""
    routes = {"/clean": {"body_size": size}}
    routes.update({"/broken-%d" % i: broken_every(size, every) for i in range(runs + 1)})
    b.start_server(routes)
    results = {"clean": [], "broken": []}
    for round_ in range(runs + 1):
        for key, path in (("clean", "/clean"), ("broken", "/broken-%d" % round_)):
            b.clean_outputs()
            r = b.wine_run("enginebench", ["--attempts", "20", b.url(path)], 300, "resume-%s-%d" % (key, round_))
            if not r.report["ok"] or r.report.get("bytes") != size:
                raise SystemExit("(resume %s) failed: %s" % (key, r.report["line"]))
            seen = [e for e in b.requests_since(0, path) if e["target"] == path]
            r.report["requests"] = len(seen)
            r.report["sent"] = sum(e["sent"] for e in seen)
            if round_:
                results[key].append(r)
        say("resumption round %d of %d done" % (round_, runs) if round_ else "resumption warm-up done")
    b.clean_outputs()
    return results


def lines(size, every, results):
    med = {k: {f: median([r.report[f] for r in rs]) for f in ("transfer_ms", "requests", "sent", "waits")}
           for k, rs in results.items()}
    clean, broken = med["clean"], med["broken"]
    return [
        "6. A %d MiB body over a link cut every %d MiB: enginebench --attempts 20, resuming with Range"
        " and If-Range (waits of 1 s between attempts), against the same body over a clean link" % (
            size // MiB, every // MiB),
        "",
        "| link | time s | requests | bytes the server sent | of the body |",
        "|---|---:|---:|---:|---:|",
        "| clean | %.2f | %d | %d | %.3f |" % (clean["transfer_ms"] / 1000, clean["requests"], clean["sent"],
                                              clean["sent"] / size),
        "| cut every %d MiB | %.2f | %d | %d | %.3f |" % (every // MiB, broken["transfer_ms"] / 1000,
                                                       broken["requests"], broken["sent"], broken["sent"] / size),
        "",
        "time cut/clean %.2f, with %d waits between attempts" % (
            broken["transfer_ms"] / clean["transfer_ms"], broken["waits"]),
        "",
    ]

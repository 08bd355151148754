"""Phase 6: a body over a link that breaks every few MiB, resumed by the
engine, against the same body over a clean link."""
import time

from .config import MiB, median, say


def broken_every(size, every):
    """A route whose n-th request is cut at n times `every` bytes of the file."""
    route = {"body_size": size, "headers": [["ETag", '"bench"']], "ranges": True}
    for cut in reversed(range(every, size, every)):
        route = dict(route, cut_after=cut, then=route)
    return route


def run(b, size, every, runs):
    """key -> the engine's reports, each with the server's requests and the
    bytes it sent; round 0 warms up and is dropped."""
    routes = {"/clean": {"body_size": size}}
    routes.update({"/broken-%d" % i: broken_every(size, every) for i in range(runs + 1)})
    b.start_server(routes)
    results = {"clean": [], "broken": []}
    for round_ in range(runs + 1):
        for key, path in (("clean", "/clean"), ("broken", "/broken-%d" % round_)):
            b.clean_outputs()
            start = time.monotonic()  # the server logs the same clock
            r = b.wine_run("enginebench", ["--attempts", "20", b.url(path)], 300, "resume-%s-%d" % (key, round_))
            if not r.report["ok"] or r.report.get("bytes") != size:
                raise SystemExit("(resume %s) failed: %s" % (key, r.report["line"]))
            seen = [e for e in b.requests_since(start, path) if e["target"] == path]
            r.report.update(requests=len(seen), sent=sum(e["sent"] for e in seen))
            results[key] += [r] if round_ else []
        say("resumption round %d of %d done" % (round_, runs))
    b.clean_outputs()
    return results


def lines(size, every, results):
    m = {k: {f: median([r.report[f] for r in rs]) for f in ("transfer_ms", "requests", "sent", "waits")}
         for k, rs in results.items()}
    row = "| %s | %.2f | %d | %d | %.3f |"
    return ["6. A %d MiB body over a link cut every %d MiB, resumed (enginebench --attempts 20), against a"
            " clean link" % (size // MiB, every // MiB), "",
            "| link | time s | requests | bytes the server sent | of the body |", "|---|---:|---:|---:|---:|"] + [
        row % (name, m[k]["transfer_ms"] / 1000, m[k]["requests"], m[k]["sent"], m[k]["sent"] / size)
        for k, name in (("clean", "clean"), ("broken", "cut every %d MiB" % (every // MiB)))] + [
        "", "time cut/clean %.2f, %d waits between attempts" % (
            m["broken"]["transfer_ms"] / m["clean"]["transfer_ms"], m["broken"]["waits"]), ""]

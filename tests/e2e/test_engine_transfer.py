#!/usr/bin/env python3
"""The download engine against the real server: what arrives, what the owner
is told while it arrives, what goes out on the wire, and what stays behind."""
import base64
import glob
import os

import harness

# The engine's texts, in the order the client reports its phases. "Finishing..."
# (a connection closing) may come at any point after the request, even after
# "Completed", so it takes no part in the order.
PHASES = ["Preparing...", "Connecting...", "Requesting...", "Downloading...", "Completed"]
TEXTS = set(PHASES) | {"Finishing..."}


class EngineCase(harness.ServerCase):

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assert_status_order(self, run):
        texts = run.statuses
        self.assertTrue(set(texts) <= TEXTS, texts)
        firsts = [texts.index(t) for t in PHASES if t in texts]
        self.assertEqual(firsts, sorted(firsts), "phases out of order: %r" % texts)
        # The engine hears every notice, so each request's connecting, sending
        # and sent notices must show (a name lookup may be skipped when cached).
        for phase in PHASES[1:]:
            self.assertIn(phase, texts)
        self.assertEqual(texts.count("Completed"), 1, texts)
        # "Completed" follows the last block, and only "Finishing..." may follow it.
        completed = run.events.index(("status", "Completed"))
        self.assertFalse([e for e in run.events[completed:] if e[0] == "progress"], run.events)
        self.assertTrue(set(texts[texts.index("Completed") + 1:]) <= {"Finishing..."}, texts)
        # The request was sent before the first byte was counted.
        first_progress = next(i for i, e in enumerate(run.events) if e[0] == "progress")
        self.assertLess(run.events.index(("status", "Downloading...")), first_progress)

    def assert_progress(self, run, size, total):
        calls = run.progress
        self.assertTrue(calls, run)
        self.assertTrue(all(t == total for _, t in calls), calls)
        counts = [r for r, _ in calls]
        # One call per block of at most 4096 bytes, counts rising, then one more
        # for the final empty read with the count unchanged.
        steps = [b - a for a, b in zip([0] + counts, counts)]
        self.assertTrue(all(0 < s <= 4096 for s in steps[:-1]), steps)
        self.assertEqual(steps[-1], 0, steps)
        self.assertEqual(counts[-1], size)
        self.assertGreaterEqual(len(calls), -(-size // 4096) + 1)


class Transfer(EngineCase):
    def test_body_with_content_length_arrives_whole(self):
        self.srv.route("/with-length", body_size=100000)
        path = self.out("with-length.bin")
        run = harness.run_engine(self.srv.url("/with-length"), out=path)
        self.assertTrue(run.ok, run)
        self.assertEqual(self.read(path), harness.pattern_bytes(100000))
        self.assert_progress(run, 100000, 100000)
        self.assert_status_order(run)
        self.assertFalse(run.aborted)

    def test_body_without_length_reports_total_zero(self):
        for name, rt in [
            ("no-length", {"body_size": 10000, "content_length": None}),
            ("chunked", {"body_size": 30000, "chunked": True, "chunk": 7000}),
        ]:
            with self.subTest(name):
                self.srv.route("/" + name, **rt)
                path = self.out(name + ".bin")
                run = harness.run_engine(self.srv.url("/" + name), out=path)
                self.assertTrue(run.ok, run)
                size = rt["body_size"]
                self.assertEqual(self.read(path), harness.pattern_bytes(size))
                self.assert_progress(run, size, 0)
                self.assert_status_order(run)

    def test_empty_body_one_progress_call_nothing_written(self):
        self.srv.route("/empty", body="")
        path = self.out("empty.bin")
        run = harness.run_engine(self.srv.url("/empty"), out=path)
        self.assertTrue(run.ok, run)
        self.assertEqual(run.progress, [(0, 0)])
        self.assertEqual(run.written, 0)
        self.assertEqual(os.path.getsize(path), 0)
        self.assert_status_order(run)

    def test_paced_body_reports_every_block(self):
        # Slow blocks: the count must climb through the callbacks, not jump.
        self.srv.route("/paced", body_size=40000, chunk=4096, delay=0.05)
        path = self.out("paced.bin")
        run = harness.run_engine(self.srv.url("/paced"), out=path)
        self.assertTrue(run.ok, run)
        self.assert_progress(run, 40000, 40000)
        self.assertEqual(self.read(path), harness.pattern_bytes(40000))

    def test_redirects_are_followed_final_headers_count(self):
        target_disposition = 'attachment; filename="Final_Setup.exe"'
        self.srv.route("/final", body_size=20000,
                       headers=[["Content-Disposition", target_disposition]])
        for status, location in [(301, "/final"), (302, None), (303, "/final"), (307, "/final")]:
            with self.subTest(status=status):
                self.srv.clear()
                location = location or self.srv.url("/final")  # absolute and relative
                self.srv.route("/moved", status=status, redirect=location,
                               headers=[["Content-Disposition", 'attachment; filename="Wrong.exe"']])
                path = self.out("moved-%d.bin" % status)
                run = harness.run_engine(self.srv.url("/moved"), out=path)
                self.assertTrue(run.ok, run)
                self.assertEqual(self.read(path), harness.pattern_bytes(20000))
                self.assertEqual(run.filename, "Final_Setup.exe")
                self.assertEqual([e["path"] for e in self.srv.requests()], ["/moved", "/final"])
                self.assert_progress(run, 20000, 20000)
                self.assert_status_order(run)

    def test_agent_and_query_arrive_as_sent(self):
        self.srv.clear()
        self.srv.route("/installer.php", body_size=100)
        for agent in ["TovInstaller/1.1", "TovInstaller/10.2"]:
            with self.subTest(agent=agent):
                run = harness.run_engine(
                    self.srv.url("/installer.php?serial=quill&year=2024"), "--agent", agent)
                self.assertTrue(run.ok, run)
                entry = self.srv.requests("/installer.php")[-1]
                self.assertEqual(entry["method"], "GET")
                self.assertEqual(entry["query"], "serial=quill&year=2024")
                self.assertEqual(harness.header(entry, "User-Agent"), agent)

    def test_no_cookie_is_sent_or_kept(self):
        self.srv.clear()
        self.srv.route("/cookie-start", redirect="/cookie-next",
                       headers=[["Set-Cookie", "qd_session=abc; Path=/"]])
        self.srv.route("/cookie-next", body_size=100, headers=[["Set-Cookie", "qd_next=def; Path=/"]])
        first = harness.run_engine(self.srv.url("/cookie-start"))
        second = harness.run_engine(self.srv.url("/cookie-next"))
        self.assertTrue(first.ok and second.ok, (first, second))
        seen = self.srv.requests()
        self.assertEqual([e["path"] for e in seen], ["/cookie-start", "/cookie-next", "/cookie-next"])
        for entry in seen:
            self.assertIsNone(harness.header(entry, "Cookie"), entry)

    def test_server_offered_file_name_is_kept(self):
        for disposition, expected in [
            ('attachment; filename="Quillet_2024_Setup.exe"', "Quillet_2024_Setup.exe"),
            (None, ""),
        ]:
            with self.subTest(disposition=disposition):
                headers = [["Content-Disposition", disposition]] if disposition else []
                self.srv.route("/named", body_size=10, headers=headers)
                run = harness.run_engine(self.srv.url("/named"))
                self.assertTrue(run.ok, run)
                self.assertEqual(run.filename, expected)

    def test_no_copy_is_left_in_the_client_cache(self):
        body = os.urandom(50000)  # this run's own bytes: no earlier run left them
        self.srv.route("/cache-probe.exe", body=body)
        run = harness.run_engine(self.srv.url("/cache-probe.exe"), "--cache-entry")
        self.assertTrue(run.ok, run)
        self.assertIn("cached 0", [l[:8] for l in run.result.lines], run)
        cache = glob.glob(os.path.join(harness.config().prefix, "drive_c", "users", "*", "AppData",
                                       "Local", "Microsoft", "Windows", "INetCache"))
        for root, _, files in (w for c in cache for w in os.walk(c)):
            for name in files:
                with open(os.path.join(root, name), "rb") as f:
                    self.assertNotEqual(f.read(), body, "a copy at %s" % os.path.join(root, name))


SIZE, CUT = 200000, 80000  # the cut two fifths in
TAG, DATE = ['ETag', '"v1"'], ['Last-Modified', 'Sun, 06 Nov 1994 08:49:37 GMT']
OTHER = os.urandom(150000)  # the file that replaces it
INCOMPLETE = "Download incomplete: %d of %d bytes received" % (CUT, SIZE)


def faulty(fault, *headers, **later):
    """A route failing once with `fault`, then serving the file (or `later`)."""
    whole = dict(body_size=SIZE, headers=list(headers), ranges=True)
    then = dict(whole, **later)
    if "body_b64" in later:
        del then["body_size"]
    return dict(whole, then=then, **fault)


# (name, route, attempts, the byte each request after the first resumes at
# (None: the whole file; a number alone: one resumption at most there, as a
# reset loses what was in flight), If-Range, the statuses answered, the waits,
# the message or None, the file (None: the one served))
RESUMPTIONS = [
    ("reset two fifths in", faulty({"reset_after": CUT, "chunk": 8192, "delay": 0.01}, TAG), 20, CUT, TAG[1],
     [200, 206], [1], None, None),
    ("clean early close", faulty({"cut_after": CUT}, TAG), 20, [CUT], TAG[1], [200, 206], [1], None, None),
    ("a 200 answer to the range", faulty({"cut_after": CUT}, TAG, ranges=False), 20, [CUT], TAG[1], [200, 200],
     [1], None, None),
    ("file replaced", faulty({"cut_after": CUT}, TAG, headers=[["ETag", '"v2"']], body_b64=base64.b64encode(OTHER).decode()),
     20, [CUT], TAG[1], [200, 200], [1], None, OTHER),
    ("206 at the wrong offset", faulty({"cut_after": CUT}, TAG, range_shift=1000), 20, [CUT, None], TAG[1],
     [200, 206, 200], [1], None, None),
    ("weak tag, date", faulty({"cut_after": CUT}, ["ETag", 'W/"w1"'], DATE), 20, [CUT], DATE[1], [200, 206], [1],
     None, None),
    ("no validator", faulty({"cut_after": CUT}), 20, [None], None, [200, 200], [1], None, None),
    ("503 with Retry-After", dict(status=503, headers=[["Retry-After", "3"]], then=dict(body_size=SIZE)), 20,
     [None], None, [503, 200], [3], None, None),
    ("dies at the same byte", dict(body_size=SIZE, headers=[TAG], ranges=True, cut_after=CUT), 20, [CUT] * 4,
     TAG[1], [200] + [206] * 4, [1, 2, 4, 8], INCOMPLETE, harness.pattern_bytes(CUT)),
    ("a single attempt", faulty({"cut_after": CUT}, TAG), 1, [], None, [200], [], INCOMPLETE,
     harness.pattern_bytes(CUT)),
]


class Resumption(EngineCase):
    def test_cut_downloads_resume_or_start_over_never_stitched(self):
        for i, (name, route, attempts, resumed, if_range, statuses, waits, message, file) in enumerate(RESUMPTIONS):
            with self.subTest(name):
                path, out = "/resume-%d" % i, self.out("resume-%d.bin" % i)
                self.srv.route(path, **route)
                run = harness.run_engine(self.srv.url(path), "--attempts", str(attempts), out=out, timeout=60)
                self.assertEqual(run.message, message, run)
                self.assertEqual(self.read(out), harness.pattern_bytes(SIZE) if file is None else file)
                self.assertEqual(run.waits, waits)
                seen = self.srv.requests(path)
                self.assertEqual([e["status"] for e in seen], statuses)
                asked = [harness.header(e, "Range") for e in seen]
                self.assertEqual([harness.header(e, "If-Range") for e in seen], [a and if_range for a in asked])
                if isinstance(resumed, int):
                    self.assertTrue(asked[1] and 0 < int(asked[1][6:-1]) <= resumed, asked)
                else:
                    self.assertEqual(asked, [None] + [n and "bytes=%d-" % n for n in resumed])
                if 200 not in statuses[1:]:  # never started over: the file sent about once in all
                    self.assertLessEqual(sum(e["sent"] for e in seen), 1.05 * SIZE)
                if message is None:
                    self.assert_status_order(run)


if __name__ == "__main__":
    harness.main()

#!/usr/bin/env python3
"""Stopping the download engine: Abort from a second thread, Abort before the
download, and a stream that takes fewer bytes than it is given."""
import os

import harness

BLOCK = 4096


class EngineAbort(harness.ServerCase):

    def test_abort_from_second_thread(self):
        # 400 KiB at 4 KiB per 100 ms would take 10 s. Wine does not interrupt
        # a blocked call, Windows does; against a trickle both stop within a
        # block of the abort.
        size = 400 * 1024
        self.srv.route("/trickle", body_size=size, chunk=BLOCK, delay=0.1)
        for name, after_ms, mid_body in [("while the body trickles in", 1000, True),
                                         ("while connecting", 50, False)]:
            with self.subTest(name):
                out = os.path.join(self.tmp.name, "trickle-%d.bin" % after_ms)
                run = harness.run_engine(self.srv.url("/trickle"), "--abort-after", str(after_ms),
                                         out=out)
                self.assertTrue(run.aborted, run)
                # The abort's close returned: a program may release the engine.
                self.assertIs(run.closing, False, run)
                abort_at = [e[1] for e in run.events if e[0] == "abort_at"]
                self.assertEqual(len(abort_at), 1, run)
                if mid_body:
                    self.assertGreater(abort_at[0], 0, "the abort should land mid-body")
                # Either a call fails under the closed handle, or the flag is
                # seen after the block in hand: both are fine; a crash, a hang
                # or the whole body are not.
                if not run.ok:
                    self.assertEqual(run.error[0], "EOSError", run)
                    self.assertNotIn("Completed", run.statuses)
                received = run.progress[-1][0] if run.progress else 0
                self.assertLessEqual(received, abort_at[0] + 2 * BLOCK, run.progress[-5:])
                self.assertLess(received, size // 4)
                self.assertLess(run.elapsed_ms, after_ms + 3000)
                self.assertEqual(os.path.getsize(out), run.written)
                with open(out, "rb") as f:
                    self.assertEqual(f.read(), harness.pattern_bytes(run.written))

    def test_abort_before_download_stops_after_first_block(self):
        self.srv.route("/early", body_size=100000)
        out = os.path.join(self.tmp.name, "early.bin")
        run = harness.run_engine(self.srv.url("/early"), "--abort-before", out=out)
        self.assertTrue(run.ok, run)
        self.assertTrue(run.aborted)
        self.assertEqual(len(run.progress), 1, run.progress)
        received, total = run.progress[0]
        self.assertTrue(0 < received <= BLOCK, received)
        self.assertEqual(total, 100000)
        self.assertEqual(run.written, received)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), harness.pattern_bytes(received))
        self.assertIn("Completed", run.statuses)

    def test_stream_refusing_bytes_fails_the_download(self):
        cases = [
            # (body size, bytes the stream takes in all)
            (20000, 5000),
            (20000, 0),
            (20000, 8192),
        ]
        for size, limit in cases:
            with self.subTest(size=size, limit=limit):
                path = "/refused-%d" % limit
                self.srv.route(path, body_size=size)
                run = harness.run_engine(self.srv.url(path), "--refuse-after", str(limit))
                self.assertFalse(run.ok, run)
                self.assertEqual(run.error[0], "EWriteError")
                self.assertEqual(run.message, "Stream write error")
                self.assertEqual(run.written, limit)
                self.assertNotIn("Completed", run.statuses)
                # The block is counted before it is written: the last call
                # names the block the stream refused.
                last = run.progress[-1][0]
                self.assertGreater(last, limit)
                self.assertLessEqual(last, limit + BLOCK)

    def test_empty_body_into_full_stream_is_fine(self):
        # Writing 0 bytes does nothing, so a stream that takes nothing is no error.
        self.srv.route("/nothing", body="")
        run = harness.run_engine(self.srv.url("/nothing"), "--refuse-after", "0")
        self.assertTrue(run.ok, run)
        self.assertEqual(run.progress, [(0, 0)])


if __name__ == "__main__":
    harness.main()

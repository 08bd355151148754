"""The downloader's benchmark under Wine, against references taken in the same run.

Serves bodies from the loopback HTTPS test server (tests/e2e/server.py, its
certificate from a CA that only this benchmark's throwaway prefix trusts) and
measures, with medians over several rounds:

  1. throughput and CPU for one large body: the engine (tests/perf
     enginebench.exe), the bare WinInet loop with the program's request flags
     and 4096-byte and 64 KiB blocks, the same loop with the flags the program
     had before it kept bodies out of WinInet's cache (tests/perf
     inetloop.exe), and curl on the host;
  2. the whole program (qd_bench) under Xvfb, from process start until the
     installer it downloads has started, against the bare loop that also
     starts the installer and the same loop started from WM_INITDIALOG of a
     dialog made from the program's own template and manifest
     (tests/perf dialogloop.exe);
  3. the program's peak memory for a small and a large body;
  4. the size of the release program and its imports;
  5. start-up: from process start until the request reaches the server,
     and the steps on the way (the program's from its benchmark build,
     tests/variants/startup_steps.cpp), against the dialog-started loop;
  6. a 64 MiB body over a link cut every 8 MiB, resumed by the engine, against
     the same body over a clean link: time, requests, bytes the server sent.

Modules, one a phase: procs (running and sampling processes), bed (display,
wineserver, prefix, server), throughput, whole, memory, image (size and
imports), report (the table, results.json, docs/performance.md), resume
(a link that breaks); config holds the paths, the variants and the targets.

Run through scripts/bench.sh, which installs and builds what it needs first.
Everything lives under build/bench-wine (prefix, certificates, bodies,
results); the test prefix and the shared Xvfb displays are never touched.
"""

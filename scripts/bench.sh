#!/usr/bin/env bash
# The downloader's benchmark under Wine (not part of CI): installs what is
# missing (Debian 12, as root), builds the program and the benchmark's tools,
# and runs scripts/bench (python3 -m bench), which prints a table of medians
# against references taken in the same run and, unless --quick, puts it with
# the machine and the date into docs/performance.md.
# Take the numbers that matter on a quiet machine: the table's header shows
# the load average before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
source scripts/windows-side.sh
qd_windows_side
cmake --preset "$QD_PRESET" >/dev/null
cmake --build "$QD_BUILD" -j"$(nproc 2>/dev/null || echo 2)" --target bench_tools
PYTHONPATH="$PWD/scripts${PYTHONPATH:+:$PYTHONPATH}" \
  exec timeout --signal=INT --kill-after=60 5400 /usr/bin/python3 -m bench "$@"

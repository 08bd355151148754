#!/usr/bin/env bash
# The demo: installs what is missing (Debian 12, as root), builds, and runs
# the downloader under Wine against a loopback HTTPS demo server. On the
# current display when there is one; otherwise under Xvfb, with a screenshot
# saved to build/demo/screenshot.png. Pass --headless to force the latter.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --demo
source scripts/windows-side.sh
qd_windows_side
cmake --preset "$QD_PRESET" >/dev/null
cmake --build --preset "$QD_PRESET" -j"$(nproc 2>/dev/null || echo 2)" \
  --target qd_demo qd_demo_installer certinstall driver
exec /usr/bin/python3 scripts/demo.py "$@"

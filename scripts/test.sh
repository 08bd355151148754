#!/usr/bin/env bash
# The one test command: installs what is missing (Debian 12, as root), builds
# the native and the Windows trees, and runs every test through ctest, the
# Windows-side ones under Wine inside an Xvfb display started here.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh
source scripts/windows-side.sh
qd_windows_side

jobs=$(nproc 2>/dev/null || echo 2)

echo "== native build (unit tests under AddressSanitizer and UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"

echo "== Windows build ($QD_PRESET)"
cmake --preset "$QD_PRESET" >/dev/null
cmake --build --preset "$QD_PRESET" -j"$jobs"

# A display of our own on a free number, stopped on every exit path.
display=""
for n in $(seq 91 199); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
Xvfb ":$display" -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
  WINEPREFIX="$root/$QD_BUILD/wineprefix" wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
export DISPLAY=":$display"

status=0
echo "== native tests"
ctest --test-dir build/native --output-on-failure -j"$jobs" --timeout 300 || status=1
echo "== Windows tests (Wine, display $DISPLAY)"
ctest --test-dir "$QD_BUILD" --output-on-failure -j"$jobs" --timeout 600 || status=1
exit $status

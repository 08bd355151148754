# The Windows side of scripts/test.sh, demo.sh and bench.sh, decided in this
# one place (sourced). Debian's Wine runs the shipped 32-bit program only
# where the machine runs 32-bit code; on a kernel without IA-32 emulation the
# same sources are built for x86-64 and run under the 64-bit loader instead.
# QD_WIN64=1 takes that side on any machine. Whether 32-bit code runs is
# found by running some: the 32-bit loader.
#
# Sets QD_PRESET (the CMake preset) and exports QD_BUILD (its folder) and
# QD_WINE (the loader to start), and on the 64-bit side WINELOADER (Wine
# starts child programs with it; the wine wrapper would take the 32-bit
# loader whenever that is executable) and WINEARCH. Prints one line.
qd_windows_side() {
  local wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64 why
  if [ "${QD_WIN64:-0}" = 1 ]; then
    why="QD_WIN64=1"
  elif "$wine32" --version >/dev/null 2>&1; then
    QD_PRESET=win-release
    export QD_BUILD=build/win QD_WINE=wine
    echo "== Windows side: the 32-bit program under 32-bit Wine (this machine runs 32-bit code)"
    return 0
  else
    why="this machine runs no 32-bit code: $wine32 --version exits $?"
  fi
  QD_PRESET=win64-release
  export QD_BUILD=build/win64 QD_WINE=$wine64 WINELOADER=$wine64 WINEARCH=win64
  echo "== Windows side: the x86-64 build under 64-bit Wine ($why)"
}

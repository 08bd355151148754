#!/usr/bin/env bash
# Installs the build and test tools on Debian 12 (run as root). Idempotent:
# does nothing when every tool is already present.
set -euo pipefail

need=()
command -v i686-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-i686-win32 binutils-mingw-w64-i686)
# The Wine-side unit tests: GoogleTest needs the posix thread model.
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v i686-w64-mingw32-windres >/dev/null || need+=(binutils-mingw-w64-i686)
# The x86-64 build, for machines that run no 32-bit code (scripts/windows-side.sh).
command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
# Both loaders, by the packages only: where 32-bit code cannot run, the 32-bit
# one is installed but never started.
[ -x /usr/bin/wine ] || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32)
command -v Xvfb >/dev/null || need+=(xvfb)
# Wine's Tahoma (the dialog's font) and Marlett (the caption buttons).
[ -f /usr/share/wine/fonts/tahoma.ttf ] || need+=(fonts-wine)
command -v cmake >/dev/null || need+=(cmake)
command -v ctest >/dev/null || need+=(cmake)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
dpkg -s libgtest-dev >/dev/null 2>&1 || need+=(libgtest-dev)
dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)
[ -x /usr/bin/python3 ] || need+=(python3)
command -v openssl >/dev/null || need+=(openssl)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v clang++ >/dev/null || need+=(clang)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v curl >/dev/null || need+=(curl)
# The language tests: CLDR's plural rules, the Unix locales Wine takes the
# user's language from, and faces for the scripts Wine's Tahoma lacks (Hebrew,
# Greek, Thai; CJK).
[ -f /usr/share/unicode/cldr/common/supplemental/plurals.xml ] || need+=(unicode-cldr-core)
command -v localedef >/dev/null && [ -d /usr/share/i18n/locales ] || need+=(locales)
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || need+=(fonts-dejavu-core)
[ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
[ -f /usr/share/fonts/truetype/tlwg/Loma.ttf ] || need+=(fonts-tlwg-loma-ttf)
if [ "${1:-}" = "--demo" ]; then
  # For the screenshot when there is no display.
  command -v import >/dev/null || need+=(imagemagick)
  command -v xwininfo >/dev/null || need+=(x11-utils)
fi

# The UTF-8 locale each language of the program is tested under.
LOCALES=$(awk '!/^#/ && NF { print $2 }' "$(dirname "$0")/../tests/e2e/locales.txt")
make_locales() {
  local have
  have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z')
  for l in $LOCALES; do
    local want
    # A modifier comes after the code set: sr_RS@latin is sr_RS.UTF-8@latin.
    local name=${l%%@*} modifier=
    [ "$name" = "$l" ] || modifier=@${l#*@}
    want=$(echo "$name.utf8$modifier" | tr 'A-Z' 'a-z')
    if ! grep -qx "$want" <<<"$have"; then
      if [ "$(id -u)" != 0 ]; then
        echo "install-deps: locale $name.UTF-8$modifier missing; run as root to make it" >&2
        exit 1
      fi
      localedef -i "$l" -f UTF-8 "$name.UTF-8$modifier"
    fi
  done
}

if [ ${#need[@]} -eq 0 ]; then
  make_locales
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing ${need[*]}; run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# A mirror in the middle of a sync serves an index of the wrong size for a
# few minutes: try again, then go on with what was fetched and let the
# install decide whether that was enough.
for try in 1 2 3 4; do
  apt-get update -q && break
  if [ "$try" = 4 ]; then
    echo "install-deps: apt-get update still reports a failed index; going on with the lists it has" >&2
  else
    sleep $((try * 10))
  fi
done
# Sorted and de-duplicated so apt sees each package once.
mapfile -t pkgs < <(printf '%s\n' "${need[@]}" | sort -u)
if ! apt-get install -y -q --no-install-recommends "${pkgs[@]}"; then
  cat >&2 <<'MSG'
install-deps: apt-get could not install the packages above. If it says that
dependencies cannot be met or a package has no candidate, the package lists
disagree (the i386 and amd64 lists of a mirror caught mid-sync, say): run
this again in some minutes, once the mirror has finished its sync.
MSG
  exit 1
fi
make_locales

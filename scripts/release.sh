#!/usr/bin/env bash
# Builds the download stubs of a release: one program per (year, serial) pair,
# each in a build folder of its own, into one output folder with a SHA256SUMS
# file; signed with Authenticode (SHA-256) when given a PKCS#12 file and its
# password. Everything given is checked before anything is written, and the
# output folder appears only once every stub is built, signed and verified.
# docs/releasing.md tells the whole story.
set -euo pipefail
umask 022

usage() {
  cat <<'EOF'
usage: scripts/release.sh --out DIR [options] YEAR:SERIAL...

  --out DIR              output folder; must not exist yet (its parent must)
  --host HOST[:PORT]     download host (default: the build's, QD_DOWNLOAD_HOST)
  --version A.B.C.D      file version (default: the build's, QD_FILE_VERSION)
  --languages LIST       the languages of the texts, e.g. en,de,ja (default: the
                         build's, QD_LANGUAGES: all of resources/lang; English
                         is always among them)
  --signer NAME          subject name the installer's signer must have
                         (default: the build's, QD_EXPECTED_SIGNER: no check)
  --pkcs12 FILE          sign with the key and certificate in FILE ...
  --password-file FILE   ... whose password is the first line of FILE
  --timestamp URL        RFC 3161 time-stamp server for the signatures
  --ca-file FILE         CA certificates the signatures are verified against
                         (default: the system's, /etc/ssl/certs/ca-certificates.crt)
  --build-dir DIR        keep the build folders in DIR and reuse them on the
                         next run (default: temporary ones, removed at the end)
  --jobs N               parallel compile jobs (default: the number of CPUs)

YEAR is four digits; SERIAL is letters, digits and . _ ~ - (it goes into the
download address as it is). Without --pkcs12 the stubs are written unsigned.
EOF
}

fail() { echo "release: $*" >&2; exit 1; }
bad() { echo "release: $*" >&2; echo "(scripts/release.sh --help for the options)" >&2; exit 2; }

root=$(cd "$(dirname "$0")/.." && pwd)

out="" host="" version="" signer="" languages="" host_set=0 version_set=0 signer_set=0 languages_set=0 pkcs12="" password_file="" timestamp=""
ca_file="" build_dir="" jobs=$(nproc 2>/dev/null || echo 2)
pairs=()
while [ $# -gt 0 ]; do
  case "$1" in
    -h|--help) usage; exit 0 ;;
    --out|--host|--version|--languages|--signer|--pkcs12|--password-file|--timestamp|--ca-file|--build-dir|--jobs)
      [ $# -ge 2 ] || bad "$1 needs a value"
      case "$1" in
        --out) out=$2 ;;
        --host) host=$2 host_set=1 ;;
        --version) version=$2 version_set=1 ;;
        --languages) languages=$2 languages_set=1 ;;
        --signer) signer=$2; signer_set=1 ;;
        --pkcs12) pkcs12=$2 ;;
        --password-file) password_file=$2 ;;
        --timestamp) timestamp=$2 ;;
        --ca-file) ca_file=$2 ;;
        --build-dir) build_dir=$2 ;;
        --jobs) jobs=$2 ;;
      esac
      shift 2 ;;
    -*) bad "unknown option $1" ;;
    *) pairs+=("$1"); shift ;;
  esac
done

# --- what was asked for ---------------------------------------------------------
[ -n "$out" ] || bad "--out is missing"
[ ${#pairs[@]} -gt 0 ] || bad "no YEAR:SERIAL pair given"
declare -A seen=()
for pair in "${pairs[@]}"; do
  [[ "$pair" == *:* ]] || bad "'$pair' is not YEAR:SERIAL"
  year=${pair%%:*} serial=${pair#*:}
  [[ "$year" =~ ^[0-9]{4}$ ]] || bad "the year '$year' of '$pair' is not four digits"
  [ -n "$serial" ] || bad "the serial of '$pair' is empty"
  [[ "$serial" =~ ^[A-Za-z0-9._~-]+$ ]] ||
    bad "the serial '$serial' of '$pair' has characters other than letters, digits and . _ ~ -"
  [ -z "${seen[$pair]:-}" ] || bad "'$pair' is given twice"
  seen[$pair]=1
done
if [ $host_set = 1 ] && ! [[ "$host" =~ ^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?(:[0-9]{1,5})?$ ]]; then
  bad "--host '$host' is not a host name with an optional :port"
fi
if [ $version_set = 1 ]; then
  [[ "$version" =~ ^[0-9]{1,5}\.[0-9]{1,5}\.[0-9]{1,5}\.[0-9]{1,5}$ ]] || bad "--version '$version' is not four numbers a.b.c.d"
  IFS=. read -r -a parts <<<"$version"
  for n in "${parts[@]}"; do [ $((10#$n)) -le 65535 ] || bad "--version '$version': $n is above 65535"; done
fi
if [ $languages_set = 1 ]; then
  [[ "$languages" =~ ^[A-Za-z-]+(,[A-Za-z-]+)*$ ]] || bad "--languages '$languages' is not a list such as en,de,ja"
  IFS=, read -r -a codes <<<"$languages"
  for code in "${codes[@]}"; do
    [ -f "$root/resources/lang/$code.rc" ] || bad "--languages: no language file resources/lang/$code.rc"
  done
fi
if [ $signer_set = 1 ]; then
  [ -n "$signer" ] || bad "--signer is empty"
  [[ "$signer" != *[\"\\]* ]] && ! [[ "$signer" =~ [[:cntrl:]] ]] ||
    bad "--signer '$signer' has a quote, a backslash or a control character"
fi
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || bad "--jobs '$jobs' is not a positive number"

if [ -e "$out" ] || [ -L "$out" ]; then bad "$out exists already; give a new output folder"; fi
out_parent=$(dirname -- "$out")
[ -d "$out_parent" ] && [ -w "$out_parent" ] || bad "the folder $out_parent for $out does not exist or is not writable"

signing=0
if [ -n "$pkcs12" ] || [ -n "$password_file" ]; then
  [ -n "$pkcs12" ] || bad "--password-file needs --pkcs12"
  [ -n "$password_file" ] || bad "--pkcs12 needs --password-file (the file holding its password)"
  signing=1
elif [ -n "$timestamp" ] || [ -n "$ca_file" ]; then
  bad "--timestamp and --ca-file are for signing: give --pkcs12 and --password-file as well"
fi

# --- the tools --------------------------------------------------------------------
need=(cmake sha256sum i686-w64-mingw32-g++-win32 i686-w64-mingw32-windres)
[ $signing = 0 ] || need+=(osslsigncode openssl)
[ -z "$timestamp" ] || need+=(curl)
for tool in "${need[@]}"; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it, as root)"
done

# Scratch space of this run (certificates, requests, unsigned stubs), private.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qd-release.XXXXXX")
staging=""
cleanup() {
  rm -rf "$scratch"
  if [ -n "$staging" ]; then rm -rf "$staging"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- the signing key, its certificate, the time-stamp server -----------------------
if [ $signing = 1 ]; then
  [ -f "$pkcs12" ] && [ -r "$pkcs12" ] || bad "the PKCS#12 file $pkcs12 does not exist or cannot be read"
  [ -f "$password_file" ] && [ -r "$password_file" ] ||
    bad "the password file $password_file does not exist or cannot be read"
  ca_file=${ca_file:-/etc/ssl/certs/ca-certificates.crt}
  [ -f "$ca_file" ] && [ -r "$ca_file" ] || bad "the CA file $ca_file does not exist or cannot be read"

  if ! err=$(openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -noout 2>&1); then
    bad "cannot open $pkcs12 with the password in $password_file (wrong password, or not a PKCS#12 file): $(head -1 <<<"$err")"
  fi
  openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -clcerts -out "$scratch/leaf.pem" 2>/dev/null
  openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -cacerts -out "$scratch/chain.pem" 2>/dev/null
  grep -q "BEGIN CERTIFICATE" "$scratch/leaf.pem" || bad "$pkcs12 holds no certificate of its own"
  [ "$(openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nocerts -nodes 2>/dev/null |
       grep -c "BEGIN .*PRIVATE KEY")" -ge 1 ] || bad "$pkcs12 holds no private key"
  subject=$(openssl x509 -in "$scratch/leaf.pem" -noout -subject -nameopt RFC2253 | sed 's/^subject=//')
  openssl x509 -in "$scratch/leaf.pem" -noout -checkend 0 >/dev/null || bad "the certificate in $pkcs12 ($subject) has expired"
  usage_ext=$(openssl x509 -in "$scratch/leaf.pem" -noout -ext extendedKeyUsage 2>/dev/null || true)
  if [ -n "$usage_ext" ] && ! grep -q "Code Signing" <<<"$usage_ext"; then
    bad "the certificate in $pkcs12 ($subject) is not for code signing:$(tr '\n' ' ' <<<"$usage_ext")"
  fi
  untrusted=()
  if grep -q "BEGIN CERTIFICATE" "$scratch/chain.pem"; then untrusted=(-untrusted "$scratch/chain.pem"); fi
  if ! err=$(openssl verify -CAfile "$ca_file" "${untrusted[@]}" "$scratch/leaf.pem" 2>&1); then
    bad "the certificate in $pkcs12 ($subject) does not lead to a CA in $ca_file: $(tail -2 <<<"$err" | head -1)"
  fi

  if [ -n "$timestamp" ]; then
    # The time-stamps are verified against the CAs given and the system's.
    system_cas=/etc/ssl/certs/ca-certificates.crt
    { cat "$ca_file"; if [ -r "$system_cas" ] && ! [ "$system_cas" -ef "$ca_file" ]; then cat "$system_cas"; fi; } \
      >"$scratch/tsa-cas.pem"
    # A real request, so that a server that answers but is no time-stamp
    # authority is caught here too.
    echo "time-stamp probe" >"$scratch/probe.txt"
    openssl ts -query -data "$scratch/probe.txt" -sha256 -cert -out "$scratch/probe.tsq" 2>/dev/null
    if ! err=$(curl --fail --silent --show-error --max-time 30 -H "Content-Type: application/timestamp-query" \
                    --data-binary "@$scratch/probe.tsq" -o "$scratch/probe.tsr" "$timestamp" 2>&1); then
      bad "the time-stamp server $timestamp cannot be reached: $err"
    fi
    openssl ts -reply -in "$scratch/probe.tsr" -text 2>/dev/null | grep -q "Status: Granted" ||
      bad "the time-stamp server $timestamp did not grant a time-stamp (is it an RFC 3161 server?)"
  fi
fi

# --- where the sources stand --------------------------------------------------------
commit="unknown (not a git checkout)"
if git -C "$root" rev-parse --verify -q HEAD >/dev/null 2>&1; then
  commit=$(git -C "$root" rev-parse HEAD)
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "release: warning: the working tree has uncommitted changes; the stubs are not those of $commit" >&2
    commit="$commit with uncommitted changes"
  fi
fi

# --- build, sign, verify ------------------------------------------------------------
# Into a folder beside the output, renamed to it at the end: a run that stops
# part-way leaves no output folder behind.
out_name=$(basename -- "$out")
staging=$(mktemp -d "$out_parent/.$out_name.partial.XXXXXX")
chmod 755 "$staging"
if [ -n "$build_dir" ]; then
  mkdir -p "$build_dir"
  build_root=$(cd "$build_dir" && pwd)
else
  build_root=$scratch/build
fi

# A per-build value given here is set; one not given goes back to the build's
# default, even in a build folder that an earlier run configured.
value_arg() {
  if [ "$3" = 1 ]; then echo "-D$1=$2"; else echo "-U$1"; fi
}

stubs=()
for pair in "${pairs[@]}"; do
  year=${pair%%:*} serial=${pair#*:}
  name="QuilletDownloader-$year-$serial.exe"
  build="$build_root/$year-$serial"
  log="$scratch/build-$year-$serial.log"
  echo "== $name"
  configure=(cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
             -DCMAKE_BUILD_TYPE=Release -DQD_BUILD_TESTS=OFF
             -DQD_PRODUCT_YEAR="$year" -DQD_SERIAL="$serial"
             "$(value_arg QD_DOWNLOAD_HOST "$host" $host_set)"
             "$(value_arg QD_FILE_VERSION "$version" $version_set)"
             "$(value_arg QD_LANGUAGES "$languages" $languages_set)"
             "$(value_arg QD_EXPECTED_SIGNER "$signer" $signer_set)" -UQD_DOWNLOAD_ATTEMPTS)
  if ! { "${configure[@]}" && cmake --build "$build" -j "$jobs" --target QuilletDownloader; } >"$log" 2>&1; then
    tail -30 "$log" >&2
    fail "building $name failed (above: the end of its log)"
  fi
  if [ $signing = 1 ]; then
    ts=()
    [ -z "$timestamp" ] || ts=(-ts "$timestamp")
    if ! err=$(osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "Quillet Downloader" \
                 "${ts[@]}" -in "$build/QuilletDownloader.exe" -out "$staging/$name" 2>&1); then
      echo "$err" >&2
      fail "signing $name failed"
    fi
    verify=(osslsigncode verify -CAfile "$ca_file" -in "$staging/$name")
    [ -z "$timestamp" ] || verify+=(-TSA-CAfile "$scratch/tsa-cas.pem")
    if ! err=$("${verify[@]}" 2>&1); then
      echo "$err" >&2
      fail "the signature of $name does not verify"
    fi
    if [ -n "$timestamp" ] && ! grep -q "Timestamp Server Signature verification: ok" <<<"$err"; then
      echo "$err" >&2
      fail "the signature of $name carries no valid time-stamp"
    fi
    # Signing adds the signature and nothing else: without it, the program is
    # the one built.
    osslsigncode remove-signature -in "$staging/$name" -out "$scratch/unsigned.exe" >/dev/null 2>&1 &&
      cmp -s "$scratch/unsigned.exe" "$build/QuilletDownloader.exe" ||
      fail "signing $name changed more than the signature"
    rm -f "$scratch/unsigned.exe"
  else
    cp "$build/QuilletDownloader.exe" "$staging/$name"
  fi
  stubs+=("$name")
done

# What a rebuild needs to come out byte for byte the same.
cache="$build_root/${pairs[0]%%:*}-${pairs[0]#*:}/CMakeCache.txt"
cached() { sed -n "s/^$1:[A-Z]*=//p" "$cache"; }
{
  echo "commit: $commit"
  echo "pairs: ${pairs[*]}"
  echo "host: $(cached QD_DOWNLOAD_HOST)"
  echo "version: $(cached QD_FILE_VERSION)"
  echo "languages: $(cached QD_LANGUAGES)"
  echo "expected signer: $(cached QD_EXPECTED_SIGNER)"
  echo "download attempts: $(cached QD_DOWNLOAD_ATTEMPTS)"
  if [ $signing = 1 ]; then
    echo "signed: yes, Authenticode SHA-256, by $subject${timestamp:+, time-stamped by $timestamp}"
  else
    echo "signed: no"
  fi
  echo "compiler: $(i686-w64-mingw32-g++-win32 --version | head -1)"
  echo "binutils: $(i686-w64-mingw32-ld --version | head -1)"
  echo "cmake: $(cmake --version | head -1)"
  if command -v dpkg-query >/dev/null; then
    echo "packages: $(dpkg-query -W -f '${Package} ${Version}, ' g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 \
                       mingw-w64-i686-dev cmake 2>/dev/null | sed 's/, $//')"
  fi
} >"$staging/BUILDINFO"
(cd "$staging" && sha256sum -- "${stubs[@]}" >SHA256SUMS)

mv -T "$staging" "$out"
staging=""
if [ $signing = 1 ]; then
  echo "release: ${#stubs[@]} signed stub(s), SHA256SUMS and BUILDINFO in $out"
else
  echo "release: ${#stubs[@]} UNSIGNED stub(s) (no --pkcs12 given), SHA256SUMS and BUILDINFO in $out"
fi

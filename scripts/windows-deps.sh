#!/usr/bin/env bash
# Builds the libraries that the Windows programs link with, as static
# mingw-w64 (x86_64, posix threads) libraries from Debian's own sources:
#   pugixml    Debian's source package of the installed libpugixml-dev
#   libcurl    Debian's source package of the installed libcurl4-openssl-dev:
#              Schannel for TLS, zlib (Debian's libz-mingw-w64-dev), only the
#              file, http and https protocols
#   GoogleTest with GoogleMock, from Debian's googletest package (/usr/src)
# into a prefix outside the clone that later runs reuse:
#   ${RSSNOTIFY_WINDOWS_CACHE:-$HOME/.cache/rssnotify-windows}/<key>
# The key names the Debian versions built and a hash of this script, the
# compiler's and zlib's versions: a new Debian version or a changed recipe
# builds a new prefix, the old one stays until removed by hand.
#
#   bash scripts/windows-deps.sh                 build when missing; print the prefix
#   bash scripts/windows-deps.sh --print-prefix  print the prefix; exit 1 when not built
#
# The sources come through an apt configuration of this script's own, in a
# temporary folder: the system's Debian entries (for the release it runs)
# with the source type instead of the binary one, and its own state and
# cache folders. The system's apt configuration is not changed and no host
# name is written down here. Build logs go to <cache>/<key>.log, which is
# shown when a step fails.
set -euo pipefail
self=$(readlink -f "$0")
cd "$(dirname "$self")/.."

target=x86_64-w64-mingw32
cache=${RSSNOTIFY_WINDOWS_CACHE:-$HOME/.cache/rssnotify-windows}
jobs=$(nproc)

mode=build
case "${1:-}" in
  '') ;;
  --print-prefix) mode=print ;;
  *)
    echo "usage: $0 [--print-prefix]" >&2
    exit 2
    ;;
esac

# One question to dpkg for every package: name, state, version, version of
# the source package.
packages=(libpugixml-dev libcurl4-openssl-dev googletest libz-mingw-w64-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  binutils-mingw-w64-x86-64 cmake dpkg-dev)
declare -A version source_version
while read -r p status v sv; do
  [ "$status" = installed ] || continue
  version[$p]=$v
  source_version[$p]=$sv
done < <(dpkg-query -W -f='${Package} ${db:Status-Status} ${Version} ${source:Version}\n' \
  "${packages[@]}" 2> /dev/null || true)
for p in "${packages[@]}"; do
  [ -n "${version[$p]:-}" ] || {
    echo "$0: package $p is missing; run scripts/install-deps.sh" >&2
    exit 1
  }
done
pugixml_version=${source_version[libpugixml-dev]}
curl_version=${source_version[libcurl4-openssl-dev]}
gtest_version=${version[googletest]}
recipe_hash=$(
  {
    cat "$self" cmake/mingw-w64.cmake cmake/mingw-w64-static.cmake
    for p in libz-mingw-w64-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
      mingw-w64-x86-64-dev binutils-mingw-w64-x86-64; do
      echo "$p ${version[$p]}"
    done
  } | sha256sum | cut -c1-12
)
key="pugixml-${pugixml_version}_curl-${curl_version}_googletest-${gtest_version}_${recipe_hash}"
key=${key//[^A-Za-z0-9._+-]/-}
prefix=$cache/$key

if [ "$mode" = print ]; then
  [ -f "$prefix/.complete" ] || {
    echo "$0: $prefix is not built yet; run $0" >&2
    exit 1
  }
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
# One build per key at a time: a second run waits and then finds it built.
exec 9> "$prefix.lock"
flock 9
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

log=$prefix.log
: > "$log"
# The sources and build trees; one that an interrupted run left is removed.
work=$prefix.build
rm -rf "$work"
mkdir -p "$work"
trap 'kill $(jobs -p) 2> /dev/null || true; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
stage=$work/stage
fail() {
  echo "$0: $1 failed; the end of $log:" >&2
  tail -n 60 "$log" >&2
  exit 1
}
# run STEP COMMAND...: the command's output goes to the log.
run() {
  local what=$1
  shift
  local started=$SECONDS
  {
    echo
    echo "=== $what: $*"
  } >> "$log"
  "$@" >> "$log" 2>&1 || fail "$what"
  echo "=== $what: $((SECONDS - started)) s" >> "$log"
}

# --- the sources, through an apt configuration of our own ------------------
# Entries of the system for its own release (the codename starts every suite
# of Debian's entries: bookworm, bookworm-updates, bookworm-security), with
# the type deb-src.
# shellcheck disable=SC1091
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || fail "finding the release's codename in /etc/os-release"
apt=$work/apt
mkdir -p "$apt/parts" "$apt/state/lists/partial" "$apt/cache/archives/partial"
: > "$apt/empty.list"
one_line_files=()
[ -f /etc/apt/sources.list ] && one_line_files+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && one_line_files+=("$f"); done
if [ ${#one_line_files[@]} -gt 0 ]; then
  awk -v codename="$codename" '
    $1 == "deb" {
      i = 2
      if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
      suite = $(i + 1)
      if (suite == codename || index(suite, codename "-") == 1) { sub(/^[ \t]*deb/, "deb-src"); print }
    }' "${one_line_files[@]}" > "$apt/parts/system.list"
fi
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  # One stanza per paragraph; comments dropped; Types replaced.
  awk -v codename="$codename" '
    function flush() {
      if (n > 0 && types ~ /(^|[ \t])deb([ \t]|$)/ && enabled != "no" && ours) {
        print "Types: deb-src"
        for (j = 1; j <= n; j++) print lines[j]
        print ""
      }
      n = 0; types = ""; enabled = ""; ours = 0
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    {
      if (tolower($1) == "types:") { types = $0; sub(/^[^:]*:/, "", types); next }
      if (tolower($1) == "enabled:") { enabled = tolower($2) }
      if (tolower($1) == "suites:") {
        for (k = 2; k <= NF; k++) if ($k == codename || index($k, codename "-") == 1) ours = 1
      }
      lines[++n] = $0
    }
    END { flush() }' "$f" >> "$apt/parts/system.sources"
done
[ -s "$apt/parts/system.list" ] || [ -s "$apt/parts/system.sources" ] ||
  fail "finding the system's Debian entries for $codename in /etc/apt"
aptopts=(
  -o "Dir::Etc::SourceList=$apt/empty.list" -o "Dir::Etc::SourceParts=$apt/parts"
  -o "Dir::State=$apt/state" -o "Dir::Cache=$apt/cache"
  -o Acquire::Languages=none -o APT::Sandbox::User=root
)
run "apt-get update (source entries)" apt-get "${aptopts[@]}" update
mkdir -p "$work/src"
(cd "$work/src" && run "apt-get source pugixml" \
  apt-get "${aptopts[@]}" source --only-source "pugixml=$pugixml_version")
(cd "$work/src" && run "apt-get source curl" \
  apt-get "${aptopts[@]}" source --only-source "curl=$curl_version")
src_dir() { find "$work/src" -mindepth 1 -maxdepth 1 -type d -name "$1-*" -print -quit; }
pugixml_src=$(src_dir pugixml)
curl_src=$(src_dir curl)
[ -n "$pugixml_src" ] && [ -n "$curl_src" ] || fail "unpacking the sources"

# --- the builds --------------------------------------------------------------
cmake_common=(
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake"
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
  -DBUILD_SHARED_LIBS=OFF
)
build() {
  local name=$1 src=$2
  shift 2
  run "$name: configure" cmake -S "$src" -B "$work/build-$name" "${cmake_common[@]}" "$@"
  run "$name: build" cmake --build "$work/build-$name" -j"$jobs"
  DESTDIR=$stage run "$name: install" cmake --install "$work/build-$name"
}
# Only what the converter needs; everything else that libcurl could link
# with is turned off, so that the library needs no DLL but Windows' own.
# No CA file or folder: Schannel checks certificates against Windows'
# certificate store (the build would otherwise take the build machine's
# /etc/ssl/certs/ca-certificates.crt as the default CA file).
curl_options=(
  -DBUILD_TESTING=OFF -DPICKY_COMPILER=OFF
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF
  -DCURL_USE_WOLFSSL=OFF -DCURL_USE_BEARSSL=OFF -DCURL_USE_NSS=OFF
  -DCURL_ZLIB=ON -DZLIB_LIBRARY="/usr/$target/lib/libz.a" -DZLIB_INCLUDE_DIR="/usr/$target/include"
  -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF -DUSE_QUICHE=OFF
  -DUSE_MSH3=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBSSH2=OFF
  -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_ARES=OFF
  -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_FTP=ON -DCURL_DISABLE_TELNET=ON
  -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_TFTP=ON -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_POP3=ON
  -DCURL_DISABLE_IMAP=ON -DCURL_DISABLE_SMTP=ON -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_MQTT=ON
  -DCURL_DISABLE_SMB=ON -DBUILD_CURL_EXE=OFF -DENABLE_MANUAL=OFF -DCURL_ENABLE_EXPORT_TARGET=ON
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
)
# curl's configuration runs some hundred checks one after the other, on one
# core: pugixml and GoogleTest build meanwhile (its output has a log of its
# own, added to the log afterwards).
(
  log=$prefix.curl-configure.log
  : > "$log"
  run "curl: configure" cmake -S "$curl_src" -B "$work/build-curl" "${cmake_common[@]}" \
    "${curl_options[@]}"
) &
curl_configure=$!
build pugixml "$pugixml_src"
build googletest /usr/src/googletest
wait "$curl_configure" || exit 1
cat "$prefix.curl-configure.log" >> "$log"
rm "$prefix.curl-configure.log"
run "curl: build" cmake --build "$work/build-curl" -j"$jobs"
DESTDIR=$stage run "curl: install" cmake --install "$work/build-curl"

# Into place in one rename: an interrupted build leaves no prefix behind.
{
  echo "pugixml $pugixml_version"
  echo "curl $curl_version"
  echo "googletest $gtest_version"
  echo "recipe $recipe_hash"
} > "$stage$prefix/.complete"
rm -rf "$prefix"
mv "$stage$prefix" "$prefix"
echo "$prefix"

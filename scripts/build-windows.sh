#!/usr/bin/env bash
# Builds the Windows programs and their unit tests with mingw-w64 into
# build-windows/ (rssnotify.exe, qLUX/FeedPull.exe, qLUX/qVMRSS.exe, as the
# installation has them, and the setup program rssnotify-setup.exe, made
# with makensis from packaging/windows/), after the Windows libraries they link
# (scripts/windows-deps.sh, cached outside the clone); then runs the tests
# under Wine, in the Wine prefix build-windows/wineprefix:
#
#   bash scripts/build-windows.sh               build, then run the tests
#   bash scripts/build-windows.sh --build-only  build only
#
# Build output goes to build-windows.log. The wineserver is started first,
# persistent and detached (see scripts/wine.sh: CTest would otherwise wait
# for Wine's own processes to close its output pipe), and ended at the end,
# also when a step fails. The tests open windows (the message box): the
# whole run, Wine's own processes included, has the display of an Xvfb of
# its own (xvfb-run), which ends with it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_only=0
case "${1:-}" in
  '') ;;
  --build-only) build_only=1 ;;
  *)
    echo "usage: $0 [--build-only]" >&2
    exit 2
    ;;
esac
if [ "$build_only" = 0 ] && [ -z "${RSSNOTIFY_XVFB:-}" ]; then
  RSSNOTIFY_XVFB=1 exec xvfb-run -a bash "$root/scripts/build-windows.sh" "$@"
fi
jobs=$(nproc)
build=build-windows
log=build-windows.log

prefix=$(bash scripts/windows-deps.sh)
: > "$log"
# Optimised as RelWithDebInfo, without its debug information, which costs
# about a third of the compile time and serves no debugger under Wine.
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DRSSNOTIFY_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >> "$log" 2>&1 || { cat "$log"; exit 1; }

# Building runs the test programs under Wine too (gtest_discover_tests lists
# their cases), so the server is up from the start.
wineprefix=$PWD/$build/wineprefix
# Also the prefixes of sandbox tests that could not end their own
# (tests/windows/own_prefix.sh).
stop_wine() {
  bash "$root/scripts/wine.sh" --prefix "$wineprefix" stop || true
  local own
  for own in "$wineprefix"-prepared-own.*; do
    [ -d "$own" ] || continue
    bash "$root/scripts/wine.sh" --prefix "$own" stop || true
    rm -rf "$own" "$own.log" "$own.lock"
  done
}
trap stop_wine EXIT
bash "$root/scripts/wine.sh" --prefix "$wineprefix" start

cmake --build "$build" -j"$jobs" >> "$log" 2>&1 || { tail -60 "$log"; exit 1; }
[ "$build_only" = 1 ] && exit 0
cd "$build"
# The tests mostly wait (for Wine, for bounds, for the programs they start),
# and the sandbox tests each have a prefix of their own: twice as many run
# at once as there are processors.
ctest --output-on-failure -j"$((jobs * 2))"

#!/usr/bin/env bash
# Takes docs/popup-windows.png: the popup window of the Windows popup
# component (qLUX\flarebox-display.exe) as Wine draws it on a virtual X
# display (Xvfb). The component is registered in a Wine prefix of its own and
# driven through the Automation client with the very properties rssnotify
# sets (but ModalForm 0, so that the driver goes on while it is up) by
# tests/windows/popup_screenshot.cpp, which takes the window's pixels from the
# screen and writes them as PNG (Windows' own imaging component): no tool
# beyond the Windows build's (mingw-w64, Wine, Xvfb) is needed.
#
# Builds what it needs when missing (scripts/build-windows.sh --build-only).
# Every wait is bounded; the prefix and everything started here go at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=$top/docs/popup-windows.png
build=$top/build-windows
component=$build/qLUX/flarebox-display.exe
driver=$build/tests/windows/popup_screenshot.exe

if [ -z "${RSSNOTIFY_XVFB:-}" ]; then
  # A display of its own, wide enough for the work area's corner.
  RSSNOTIFY_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x600x24" bash "$0" "$@"
fi

if [ ! -f "$component" ] || [ ! -f "$driver" ]; then
  if [ -f "$build/CMakeCache.txt" ]; then
    cmake --build "$build" --target flarebox-display popup_screenshot -j2 > /dev/null
  else
    bash scripts/build-windows.sh --build-only
  fi
fi

work=$(mktemp -d /tmp/popup-windows-screenshot.XXXXXX)
export WINEPREFIX=$work/prefix
wine() { timeout 120 bash "$top/scripts/wine.sh" --prefix "$WINEPREFIX" run "$@"; }
cleanup() {
  bash "$top/scripts/wine.sh" --prefix "$WINEPREFIX" stop > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# The component where the installation has it, in the prefix.
mkdir -p "$WINEPREFIX"
bash scripts/wine.sh --prefix "$WINEPREFIX" start
install=$WINEPREFIX/drive_c/KESTRA/qLUX
mkdir -p "$install"
cp "$component" "$install/"
cp "$driver" "$WINEPREFIX/drive_c/"
wine 'C:\KESTRA\qLUX\flarebox-display.exe' /RegServer
wine 'C:\popup_screenshot.exe' 'C:\popup-windows.png'
wine 'C:\KESTRA\qLUX\flarebox-display.exe' /UnregServer

mkdir -p "$(dirname "$out")"
cp "$WINEPREFIX/drive_c/popup-windows.png" "$out"
echo "wrote $out"

#!/usr/bin/env bash
# Makes docs/viewer.png: the viewer's page for a small demo installation,
# shown by headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v chromium > /dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends chromium
fi
if [ ! -x build/companions/viewer/qVMRSS.exe ] || [ ! -x build/rssnotify ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build > /dev/null
  cmake --build build -j"$(nproc)" --target rssnotify qvmrss > /dev/null
fi
RSSNOTIFY_BUILD_DIR=$PWD/build /usr/bin/python3 tests/viewer_screenshot.py docs/viewer.png

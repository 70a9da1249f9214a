#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.log 2>&1 || { cat build.log; exit 1; }
cmake --build build -j"$(nproc)" >> build.log 2>&1 || { tail -60 build.log; exit 1; }
cd build
ctest --output-on-failure -j"$(nproc)"

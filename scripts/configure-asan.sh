#!/usr/bin/env bash
# Configures the build that scripts/test.sh and fuzz/run.sh share, in the
# folder given ($1): clang, AddressSanitizer and UndefinedBehaviorSanitizer
# (every finding stops the program), the fuzzers, warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DRSSNOTIFY_FUZZERS=ON \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize"

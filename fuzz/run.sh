#!/usr/bin/env bash
# Fuzzes for longer than the test suite does, on demand:
#
#   bash fuzz/run.sh [seconds per fuzzer] [fuzzer ...]
#
# e.g. `bash fuzz/run.sh 600 feed xml`; by default every fuzzer (feed, xml,
# profile, registry) for 300 s each. Builds (or reuses) the clang build with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, the one
# scripts/test.sh makes. Each fuzzer starts from its seed corpus and
# regression inputs and keeps what it finds in build-asan/fuzz/found/<name>;
# an input that fails is written to build-asan/fuzz/artifacts/<name>/ and the
# script stops with its name. Add a failing input, once fixed, to
# fuzz/regressions/<name>/ so that the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
fuzzers=("$@")
[ ${#fuzzers[@]} -gt 0 ] || fuzzers=(feed xml profile registry)

bash scripts/install-deps.sh
bash scripts/configure-asan.sh build-asan > build-asan.log 2>&1 || { cat build-asan.log; exit 1; }
targets=()
for name in "${fuzzers[@]}"; do targets+=(--target "${name}_fuzzer"); done
cmake --build build-asan -j"$(nproc)" "${targets[@]}" >> build-asan.log 2>&1 ||
  { tail -60 build-asan.log; exit 1; }

for name in "${fuzzers[@]}"; do
  found=build-asan/fuzz/found/$name
  artifacts=build-asan/fuzz/artifacts/$name/
  mkdir -p "$found" "$artifacts"
  echo "== $name: $seconds s"
  "build-asan/fuzz/${name}_fuzzer" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -malloc_limit_mb=256 -print_final_stats=1 -artifact_prefix="$artifacts" \
    "$found" "fuzz/corpus/$name" "fuzz/regressions/$name"
done

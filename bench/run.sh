#!/usr/bin/env bash
# Runs the store update benchmark: the update alone, the plain load and save
# alone (each with its own peak memory), and both in turn for their ratio.
#
# glibc would hand the 50 MB of a store document back to the system after
# every iteration and fault it in again in the next, and how often it does so
# depends on the allocation pattern; that noise would swamp the comparison, so
# the allocator keeps its memory for the benchmark's lifetime.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DRSSNOTIFY_BENCHMARKS=ON > /dev/null
cmake --build build --target store_update_bench > /dev/null
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=4000000000:glibc.malloc.mmap_threshold=33554432
bench=build/bench/store_update_bench
"$bench" --benchmark_filter='^BM_LoadAndSaveStore' --benchmark_min_time=3
"$bench" --benchmark_filter='^BM_FeedUpdate' --benchmark_min_time=3
"$bench" --benchmark_filter='Over' --benchmark_min_time=5 --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true

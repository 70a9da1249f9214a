#!/usr/bin/env bash
# Installs what is missing, builds everything three times and runs each
# build's tests:
# 1. GCC, warnings as errors, the benchmarks built too (so they keep
#    compiling); the whole test suite;
# 2. mingw-w64, the Windows programs and their tests under Wine
#    (scripts/build-windows.sh);
# 3. when clang is there (scripts/install-deps.sh installs it): clang with
#    AddressSanitizer and UndefinedBehaviorSanitizer, warnings as errors, the
#    fuzzers; the whole test suite again, which on this build includes each
#    fuzzer's short run over its seed corpus and regression inputs
#    (fuzz/run.sh fuzzes for longer).
# A suite mostly waits, so the next build runs beside it at a lower priority:
# the Windows build beside the GCC tests, the sanitizer build beside the
# Windows tests. Build output goes to build.log, build-windows.log and
# build-asan.log; the times of the steps are printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
times=()
step() {
  local started=$SECONDS
  "$@"
  times+=("$(printf '%5d s  %s' $((SECONDS - started)) "$*")")
}
report() {
  printf '%s\n' "${times[@]}"
  echo "$((SECONDS - all_started)) s in all"
}
all_started=$SECONDS
failed=0

# The GCC and Windows builds optimise as RelWithDebInfo does, but without its
# debug information, which costs about a third of their compile time; the
# sanitizer build keeps it for its reports.
gcc_build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DRSSNOTIFY_BENCHMARKS=ON > build.log 2>&1 ||
    { cat build.log; return 1; }
  cmake --build build -j"$jobs" >> build.log 2>&1 || { tail -60 build.log; return 1; }
}
asan_build() {
  bash scripts/configure-asan.sh build-asan > build-asan.log 2>&1 || { cat build-asan.log; return 1; }
  cmake --build build-asan -j"$jobs" >> build-asan.log 2>&1 || { tail -60 build-asan.log; return 1; }
}
# Most of the sandbox tests' time is spent waiting (for bounds, for the
# programs they start), so twice as many run at once as there are processors.
run_tests() {
  (cd "$1" && ctest --output-on-failure -j"$((jobs * 2))") || failed=1
}
gcc_tests() { run_tests build; }
asan_tests() { run_tests build-asan; }
windows_build() { bash scripts/build-windows.sh --build-only; }
windows_tests() { bash scripts/build-windows.sh || failed=1; }
# For the same reason the next build runs beside a suite, at a lower
# priority, so that the tests have the processors whenever they want them
# and the build takes what they leave. A build that fails ends the script,
# as it does on its own, once the suite beside it has finished.
beside() {
  local tests=$1 build=$2
  (renice -n 10 -p "$BASHPID" > /dev/null && "$build") &
  local pid=$!
  "$tests"
  wait "$pid"
}

step gcc_build
step beside gcc_tests windows_build
if command -v clang++ > /dev/null; then
  # Every finding of the sanitizers (leaks at exit too) ends the program with
  # a report and fails its test.
  export UBSAN_OPTIONS=print_stacktrace=1
  step beside windows_tests asan_build
  step asan_tests
else
  echo "clang++ missing: no sanitizer build, no fuzzers"
  step windows_tests
fi
report
exit $failed

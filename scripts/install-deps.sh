#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the demo need.
# Safe to run again: only missing packages are fetched.
set -euo pipefail
packages=(
  build-essential cmake pkg-config clang-format
  libpugixml-dev libcurl4-openssl-dev libglib2.0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 dbus-daemon
  # the sanitizer build and the fuzzers: clang with its sanitizer and
  # libFuzzer libraries
  clang libclang-rt-dev
  # the Debian package and its test: dpkg-shlibdeps, file (CPack's look for
  # programs), systemd-analyze, systemd-tmpfiles and systemd-sysusers
  dpkg-dev file systemd
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

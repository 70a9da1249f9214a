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
  # the Windows build (scripts/windows-deps.sh, cmake/mingw-w64.cmake): the
  # 64-bit mingw-w64 compilers of the posix thread model, called by those
  # names (std::thread needs that model), and Debian's mingw-w64 zlib;
  # pugixml and libcurl are built from Debian's sources (apt-get source needs
  # dpkg-dev, above), GoogleTest from the googletest package
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest
  # its tests run under Wine (scripts/wine.sh): the 64-bit loader and server,
  # GnuTLS for Wine's Schannel (https), Wine's fonts for its message boxes,
  # and Xvfb with xauth for xvfb-run, for what opens a window
  wine64 libgnutls30 fonts-wine xvfb xauth
  # the Windows setup program (packaging/windows/rssnotify.nsi): makensis
  nsis
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

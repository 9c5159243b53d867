#!/usr/bin/env bash
# Installs, from Debian's packages, everything the project needs to build and
# test both targets. Does nothing when every package is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  git                                  # the layout check lists the repository's files with it
  clang-format                         # the C++ layout check (scripts/check-format)
  clang libclang-rt-dev  # the fuzz targets: clang with libFuzzer and the sanitizer runtimes
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libprotobuf-dev protobuf-compiler  # the peer the whole-tree benchmark compares with
  libxml2-dev libsqlite3-dev libffi-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 libwine-dev
  libboost-dev                         # perf_exporter's HTTP server (Boost.Beast, headers only, both targets)
  zlib1g-dev libz-mingw-w64-dev        # perf_exporter's gzip answers, on each target
  python3-prometheus-client            # the parsers that check the exporter's pages
  prometheus                           # a real Prometheus scraping both targets in the tests, and promtool
  chromium chromium-driver             # the exporter's graph page in a real browser, driven over WebDriver
  gcovr                                # the POSIX suite's coverage report (scripts/coverage)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"

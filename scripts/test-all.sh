#!/usr/bin/env bash
# Sets up the machine and checks the C++ layout against .clang-format. Then
# builds and tests both targets from scratch: the POSIX one also with
# AddressSanitizer, LeakSanitizer and UBSan (every test), with
# ThreadSanitizer (the tests that run threads) and with coverage (whose
# summary it prints, held to a floor). Builds the benchmarks in the release
# preset and runs each for one iteration (so they keep working; their times
# are not checked), and gives the fuzz targets a short run (POSIX, clang,
# sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
scripts/check-format
# The Windows run's Prometheus test watches the POSIX build's programs too,
# and setup installs Chromium for the graph page's test: here neither may be
# skipped.
export PROMETHEUS_TEST_REQUIRED=1 GRAPH_PAGE_TEST_REQUIRED=1
cmake --workflow --preset linux --fresh
cmake --workflow --preset linux-asan --fresh
cmake --workflow --preset linux-tsan --fresh
# Coverage of the POSIX suite; the component's line coverage must stay at or
# above COVERAGE_FLOOR (a percentage; .ci/run sets it).
cmake --workflow --preset linux-coverage --fresh
scripts/coverage "${COVERAGE_FLOOR:-}"
cmake --workflow --preset windows --fresh
cmake --workflow --preset linux-release --fresh
bench/run --once

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWITH_FUZZERS=ON --fresh
cmake --build build/fuzz -j2 --target fuzzers
ctest --test-dir build/fuzz -R '^fuzz\.' --output-on-failure

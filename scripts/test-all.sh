#!/usr/bin/env bash
# Sets up the machine and then builds and tests both targets from scratch.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --workflow --preset linux --fresh
cmake --workflow --preset windows --fresh

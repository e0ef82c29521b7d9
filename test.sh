#!/usr/bin/env bash
# Builds the program and runs every test suite. Installs what is missing (as root).
set -euo pipefail
cd "$(dirname "$0")"

tools/ensure-packages.sh cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3

echo "==> native build and tests (preset default)"
cmake --preset default
cmake --build --preset default
ctest --preset default

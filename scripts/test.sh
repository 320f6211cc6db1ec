#!/usr/bin/env bash
# Builds the tool and runs every test. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake:cmake ninja:ninja-build g++:g++ \
  /usr/src/googletest/CMakeLists.txt:googletest

cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_FAULT_SEAM=ON
cmake --build build/native
ctest --test-dir build/native --output-on-failure -j2
bash scripts/test-sanitize.sh
bash scripts/test-fuzz.sh
bash scripts/test-windows.sh

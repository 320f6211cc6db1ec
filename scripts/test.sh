#!/usr/bin/env bash
# Builds the tool and runs every test. This is what CI runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake:cmake ninja:ninja-build g++:g++ \
  /usr/src/googletest/CMakeLists.txt:googletest

# The library neither prints nor exits: a look at its sources, first.
scripts/check-library-tree.sh

# Debug with the fault seam: every test runs, those that make the tool fail
# on purpose too.
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_FAULT_SEAM=ON \
  -DBIGTOOL_WERROR=ON
cmake --build build/native -j2
ctest --test-dir build/native --output-on-failure --no-tests=error -j2

# Release without the seam, as Linux users get it: the tests that need the
# seam skip. Its TGZ package, unpacked, runs the bundled sample.
cmake -S . -B build/native-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBIGTOOL_FAULT_SEAM=OFF \
  -DBIGTOOL_WERROR=ON
cmake --build build/native-release -j2
ctest --test-dir build/native-release --output-on-failure --no-tests=error -j2
scripts/check-package.sh build/native-release
scripts/check-library.sh build/native-release
bash scripts/test-python.sh build/native-release

bash scripts/test-sanitize.sh
bash scripts/test-fuzz.sh
bash scripts/test-windows.sh

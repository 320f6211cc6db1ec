#!/usr/bin/env bash
# Builds the tool and runs its main job on the bundled sample tree: creates
# an archive from examples/sample, lists it, extracts it into a temporary
# folder and compares the result with the original.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake:cmake ninja:ninja-build g++:g++

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBIGTOOL_TESTS=OFF >/dev/null
cmake --build build/release >/dev/null

scripts/check-sample.sh "$PWD/build/release/bigtool"

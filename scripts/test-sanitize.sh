#!/usr/bin/env bash
# Builds the tool and every test with AddressSanitizer and
# UndefinedBehaviorSanitizer in build/asan and runs the whole suite. The
# first report ends the process that made it, so any report fails a test.
# Then the library's C test and the tool's extraction under ThreadSanitizer,
# in build/tsan.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake:cmake ninja:ninja-build clang++:clang \
  /usr/src/googletest/CMakeLists.txt:googletest
# The sanitizers' runtime is only recommended by clang, so it may be missing.
runtime="$(clang++ -print-resource-dir)/lib/linux/libclang_rt.asan-x86_64.a"
scripts/install-deps.sh "$runtime:libclang-rt-14-dev"

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_FAULT_SEAM=ON \
  -DBIGTOOL_WERROR=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build/asan -j2

# The tool inherits these from the tests that start it. Every report is also
# kept in a file, so that one from a run whose result a test ignores still
# fails the script.
reports="$PWD/build/asan/reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:exitcode=99:strict_string_checks=1:detect_stack_use_after_return=1:log_path=$reports/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=99:log_path=$reports/ubsan"
status=0
ctest --test-dir build/asan --output-on-failure -j2 || status=1
if [ -n "$(ls -A "$reports")" ]; then
  echo "Sanitizer reports:"
  cat "$reports"/*
  status=1
fi

# The library read from several threads at once, under ThreadSanitizer:
# the C program that calls the public API, in build/tsan.
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_WERROR=ON -DBIGTOOL_FAULT_SEAM=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_FLAGS="$tsan" \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build/tsan -j2 --target api_test bigtool e2e_tests
rm -rf build/tsan/api_work
mkdir -p build/tsan/api_work
TSAN_OPTIONS="halt_on_error=1:exitcode=66" build/tsan/tests/api_test build/tsan/api_work || status=1
# The tool's extraction and creation from eight threads, the seam's sweeps
# among them.
treports="$PWD/build/tsan/reports"
rm -rf "$treports"
mkdir -p "$treports"
(cd build/tsan && BIGTOOL_EXE=bigtool BIGTOOL_THREADS=8 \
  TSAN_OPTIONS="halt_on_error=1:exitcode=66:log_path=$treports/tsan" \
  tests/e2e_tests --gtest_brief=1 \
  --gtest_filter='ExtractTest.*:ByNameTest.*:Copies/FaultSweepTest.Extract*:Links/*:Names/ExtractHostileName.*:CreateTest.*:Copies/FaultSweepTest.Create*:MachineFaultsTest.FileSizeLimit*') ||
  status=1
if [ -n "$(ls -A "$treports")" ]; then
  echo "ThreadSanitizer reports:"
  cat "$treports"/*
  status=1
fi
exit $status

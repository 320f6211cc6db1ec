#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz, with seed corpora that the
# build writes through the tests' archive writer, and runs each target for a
# bounded time. Any finding (a crash, a sanitizer report, a failed check, a
# leak) fails the script.
# FUZZ_SECONDS sets each target's time (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh cmake:cmake ninja:ninja-build clang++:clang
runtime="$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a"
scripts/install-deps.sh "$runtime:libclang-rt-14-dev"

cmake -S fuzz -B build/fuzz -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j2

seconds=${FUZZ_SECONDS:-30}
work=build/fuzz/run
rm -rf "$work"
mkdir -p "$work/corpus/reader" "$work/corpus/entry_name" "$work/findings"

status=0
for target in reader entry_name; do
  echo "Fuzzing ${target} for ${seconds} s"
  if ! build/fuzz/${target}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$work/findings/${target}-" \
      "$work/corpus/$target" "build/fuzz/seeds/$target" >"$work/$target.log" 2>&1; then
    status=1
  fi
  grep -E '^(Done|stat::number_of_executed_units)' "$work/$target.log" || true
  if [ -n "$(ls -A "$work/findings")" ] || [ $status -ne 0 ]; then
    echo "Finding in ${target}; its log: $work/$target.log"
    tail -n 40 "$work/$target.log"
    status=1
    break
  fi
done
[ $status -eq 0 ] && echo "Fuzzing found nothing."
exit $status

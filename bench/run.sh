#!/usr/bin/env bash
# Times bigtool against tar and cp on generated trees and writes the table to
# docs/benchmarks.md. Builds the tool in Release in build/bench. The trees
# are generated once into /tmp/bigtool-bench; the timed runs work in a
# memory file system (/dev/shm) where there is one, so that the disk's
# inode reuse and write-back (see docs/benchmarks.md) do not decide the
# result. A few minutes on two cores. Exits 1 when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

scripts/install-deps.sh cmake:cmake ninja:ninja-build g++:g++ hyperfine:hyperfine \
  /usr/bin/time:time /usr/bin/python3:python3 tar:tar

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DBIGTOOL_TESTS=OFF >/dev/null
cmake --build build/bench -j2 >/dev/null

data=/tmp/bigtool-bench
trees=$data/trees
results=$data/results
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work=/dev/shm/bigtool-bench
else
  work=$data/work
fi
echo "Generating the input trees in $trees (kept between runs)"
/usr/bin/python3 bench/make_trees.py "$trees"

rm -rf "$work" "$results"
mkdir -p "$work" "$results"
trap 'rm -rf "$work"' EXIT
cp build/bench/bigtool "$work/bigtool"
cd "$work"
echo "Making the archives and tar files to read in $work"
# The large files are copied next to the outputs: cp -r and bigtool then
# both copy within one file system.
cp -r "$trees/large" large
ln -s "$trees/small" small
ln -s "$trees/list" list
./bigtool list.big CREATE list >/dev/null
./bigtool small.big CREATE small >/dev/null
./bigtool large.big CREATE large >/dev/null
tar -cf list.tar -C list .
tar -cf small.tar -C small .

# One pair: name, target ratio, label, reference's clean-up, reference's
# command, bigtool's clean-up, bigtool's command, runs per side and round.
# The timed command is the clean-up followed by the command.
rounds=4
measure() {
  local name=$1 target=$2 label=$3 ref_clean=$4 ref_run=$5 big_clean=$6 big_run=$7 runs=$8
  local ref="$ref_clean$ref_run >/dev/null" big="$big_clean$big_run >/dev/null"
  printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$target" "$label" "$ref" "$big" >>"$results/cases.tsv"
  echo "== $label"
  local round order
  for ((round = 1; round <= rounds; round++)); do
    # Alternating order, so that neither side always follows the other.
    if ((round % 2)); then order=("$ref" "$big"); else order=("$big" "$ref"); fi
    hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$results/$name.round$round.json" "${order[@]}" | grep -E 'Benchmark|Time'
  done
  # Peak memory: one run per side on its own, from the same starting state.
  eval "$ref_clean true"
  /usr/bin/time -f %M -o "$results/$name.ref.kib" sh -c "exec $ref_run" >/dev/null
  eval "$big_clean true"
  /usr/bin/time -f %M -o "$results/$name.big.kib" sh -c "exec $big_run" >/dev/null
}

measure list 1.0 "LIST, 48,000 files of 0-64 B" \
  "" "tar -tvf list.tar" \
  "" "./bigtool list.big LIST" 10
measure extract_small 1.0 "EXTRACT *, 20,000 files of 1-16 KiB" \
  "rm -rf out && mkdir out && " "tar -xf small.tar -C out" \
  "rm -rf out && " "./bigtool small.big EXTRACT '*' out" 2
measure create_small 1.0 "CREATE, 20,000 files of 1-16 KiB" \
  "rm -f new.tar && " "tar -cf new.tar -C small ." \
  "rm -f new.big && " "./bigtool new.big CREATE small" 5
measure extract_large 1.3 "EXTRACT *, 4 files of 256 MiB" \
  "rm -rf out && " "cp -r large out" \
  "rm -rf out && " "./bigtool large.big EXTRACT '*' out" 4
rm -rf out large.big
measure create_large 1.3 "CREATE, 4 files of 256 MiB" \
  "rm -rf copy && " "cp -r large copy" \
  "rm -f large-new.big && " "./bigtool large-new.big CREATE large" 4
rm -rf out copy large-new.big new.big new.tar

machine=$results/machine.md
{
  echo "- Processors (nproc): $(nproc)"
  echo "- Memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
  echo "- Kernel: $(uname -sr)"
  echo "- File system of the work folder ($work): $(df -T "$work" | awk 'NR == 2 {print $2}')," \
    "mounted with $(findmnt -n -o OPTIONS --target "$work" | head -n 1)"
  echo "- File system of the generated trees ($trees): $(df -T "$trees" | awk 'NR == 2 {print $2}')"
  echo "- Tools: $(hyperfine --version), $(tar --version | head -n 1), $(cp --version | head -n 1)"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
} >"$machine"

cd "$repo"
status=0
/usr/bin/python3 bench/summarize.py "$results" "$work" "$machine" docs/benchmarks.md || status=$?
echo "Written: docs/benchmarks.md"
exit $status

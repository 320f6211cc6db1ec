#!/usr/bin/env bash
# Times bigtool against tar and cp on generated trees, and on crafted
# archives (a sparse 4 GiB one, a million entries) on its own, against the
# reader that loaded the whole index, and ascending against descending
# indexes; times UPDATE and DELETE of a 1 GiB archive against cp, and
# COMPARE against tar --compare; MERGE and PATCH of 1 GiB against cp;
# CONFLICTS of 100 archives against FIND of
# each and DIFF of two million-entry archives against LIST of both; times
# the library's lookup, listing and
# reads against FIND and pread, and the Python package's listing and
# reading against FIND and cat; measures peak memory of every command on
# every archive; and
# writes the tables to docs/benchmarks.md. Builds the tool in Release in
# build/bench. The trees and archives are generated once into
# /tmp/bigtool-bench; the timed runs work in a
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
# The library's side, a C program on the shared library just built.
cc -O2 -std=c99 -Wall -Wextra -Iinclude -o build/bench/api_bench bench/api_bench.c \
  -Lbuild/bench -lbigtool -Wl,-rpath,"$repo/build/bench" -lpthread
# The per-file work alone, at its best: the floor under bigtool and tar.
cc -O2 -std=c99 -Wall -Wextra -Iinclude -o build/bench/floor bench/floor.c \
  -Lbuild/bench -lbigtool -Wl,-rpath,"$repo/build/bench" -lpthread

# LIST of a million entries is compared with the reader that loaded the
# whole index, from the last commit that had it, built once into
# build/bench-before. A clone without that commit skips the case.
before=fe0dc31
before_tool=
if git cat-file -e "$before^{commit}" 2>/dev/null; then
  if [ ! -x build/bench-before/build/bigtool ]; then
    rm -rf build/bench-before
    mkdir -p build/bench-before/src
    git archive "$before" | tar -x -C build/bench-before/src
    cmake -S build/bench-before/src -B build/bench-before/build -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DBIGTOOL_TESTS=OFF >/dev/null
    cmake --build build/bench-before/build -j2 >/dev/null
  fi
  before_tool=$repo/build/bench-before/build/bigtool
else
  echo "Commit $before is not in this clone: LIST of a million entries is not compared with it"
fi

data=/tmp/bigtool-bench
trees=$data/trees
archives=$data/archives
results=$data/results
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work=/dev/shm/bigtool-bench
else
  work=$data/work
fi
echo "Generating the input trees in $trees (kept between runs)"
/usr/bin/python3 bench/make_trees.py "$trees"
echo "Writing the crafted archives in $archives (kept between runs)"
/usr/bin/python3 bench/make_archives.py "$archives"

rm -rf "$work" "$results"
mkdir -p "$work" "$results"
trap 'rm -rf "$work"' EXIT
cp build/bench/bigtool build/bench/api_bench build/bench/floor "$work/"
cp -P build/bench/libbigtool.so* "$work/"
[ -z "$before_tool" ] || cp "$before_tool" "$work/bigtool-before"
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
tar -cf large.tar -C large .
ln -s "$archives/sparse.big" sparse.big
ln -s "$archives/million.big" million.big
ln -s "$archives/million-new.big" million-new.big
ln -s "$archives/mods" mods

# 10,000 names of the million-entry archive (every 100th, in another letter
# case and with '/'), for FIND's list file.
seq 0 100 999999 | awk '{ printf "D%03d/F%07d.DAT\n", int($1 / 1000), $1 }' >names.txt
# 100 wildcard patterns of the usual forms, 20 of each: a folder's files
# (prefix*), one file by its end (*suffix), a folder's files by their end
# (prefix*suffix), a run of names (prefix*) and names holding a text
# (*text*), in other letter cases; and one of them every file of a type
# (*.ext), which selects them all.
seq 0 10 990 | awk '{ d = $1; f = $1 / 10 % 5
  if (d == 0) printf "*.DAT\n"
  else if (f == 0) printf "d%03d\\*\n", d
  else if (f == 1) printf "*\\f%07d.dat\n", d * 1000 + 7
  else if (f == 2) printf "d%03d\\*5.DAT\n", d
  else if (f == 3) printf "D%03d/F%04d*\n", d, d
  else printf "*%05d9*\n", d * 10 }' >wild100.txt

# A big-endian number of an archive's header: the entry count at 8, the
# index's end (startOffset) at 12.
header_field() {
  /usr/bin/python3 -c 'import sys; print(int.from_bytes(open(sys.argv[1], "rb").read(16)[int(sys.argv[2]):][:4], "big"))' "$1" "$2"
}

# UPDATE's input: one file of 1 KiB named as the 1 KiB entry of edit.big
# (made further down), with other bytes, so that it is replaced.
mkdir upd
head -c 1024 /dev/zero | tr '\0' b >upd/part1.txt

# 2,000 index arguments spread over each archive (every step-th entry, or
# the first 2,000 numbers where it has fewer, the rest then skipped), in a
# file per order: <archive>.asc and <archive>.desc.
for archive in list small large sparse million; do
  count=$(header_field "$archive.big" 8)
  step=$((count / 2000 > 0 ? count / 2000 : 1))
  seq 0 "$step" $((step * 1999)) | tr '\n' ' ' >"$archive.asc"
  seq $((step * 1999)) "-$step" 0 | tr '\n' ' ' >"$archive.desc"
done

# One case: name, target, label, reference's clean-up, reference's command,
# (MEMORY_LIMIT in the environment: bigtool's peak memory in MiB, 16 unless
# the case holds more by design)
# bigtool's clean-up, bigtool's command, runs per side and round, and
# optionally each side's preparation (reference's, then bigtool's). The
# timed command is the clean-up followed by the command; the preparation
# runs before each run, untimed (hyperfine's --prepare), for commands that
# change their input. With a reference, the target is the ratio of the
# medians; without one, bigtool's median in seconds; "-" reports the ratio
# with no target.
rounds=4
measure() {
  local name=$1 target=$2 label=$3 ref_clean=$4 ref_run=$5 big_clean=$6 big_run=$7 runs=$8
  local ref_prep=${9:-} big_prep=${10:-}
  local kind=seconds ref="" big="$big_clean$big_run >/dev/null"
  if [ -n "$ref_run" ]; then
    kind=ratio
    ref="$ref_clean$ref_run >/dev/null"
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$kind" "$name" "$target" "$label" "$ref" "$big" \
    "$ref_prep" "$big_prep" "${MEMORY_LIMIT:-16}" >>"$results/cases.tsv"
  echo "== $label"
  local round order prepare
  for ((round = 1; round <= rounds; round++)); do
    # Alternating order, so that neither side always follows the other.
    if [ -z "$ref" ]; then
      order=("$big")
      prepare=("${big_prep:-true}")
    elif ((round % 2)); then
      order=("$ref" "$big")
      prepare=("${ref_prep:-true}" "${big_prep:-true}")
    else
      order=("$big" "$ref")
      prepare=("${big_prep:-true}" "${ref_prep:-true}")
    fi
    local options=()
    if [ -n "$ref_prep$big_prep" ]; then
      for command in "${prepare[@]}"; do
        options+=(--prepare "$command")
      done
    fi
    hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$results/$name.round$round.json" \
      "${options[@]}" "${order[@]}" | grep -E 'Benchmark|Time'
  done
  # Peak memory: one run per side on its own, from the same starting state.
  if [ -n "$ref" ]; then
    eval "${ref_prep:-true}"
    eval "$ref_clean true"
    /usr/bin/time -f %M -o "$results/$name.ref.kib" sh -c "exec $ref_run" >/dev/null
  fi
  eval "${big_prep:-true}"
  eval "$big_clean true"
  /usr/bin/time -f %M -o "$results/$name.big.kib" sh -c "exec $big_run" >/dev/null
}

# Peak memory of one run, and its exit status: archive label, command
# label, clean-up, command, the limit in MiB where it is not 16, and the
# status expected where it is not 0.
peaks=0
peak() {
  local archive=$1 label=$2 clean=$3 run=$4 limit=${5:-16} expected=${6:-0}
  peaks=$((peaks + 1))
  printf '%s\t%s\t%s\t%s\t%s\n' "$archive" "$label" "$run" "$limit" "$expected" >>"$results/peaks.tsv"
  eval "$clean true"
  /usr/bin/time -f '%x %M' -o "$results/peak$peaks.txt" sh -c "exec $run" >/dev/null || true
}

measure list 1.0 "LIST, 48,000 files of 0-64 B" \
  "" "tar -tvf list.tar" \
  "" "./bigtool list.big LIST" 10
# The extractions of small files remove the last run's folder untimed:
# removing 20,000 files costs about as much as making them, and would
# only add the same time to both sides.
measure extract_small 0.5 "EXTRACT *, 20,000 files of 1-16 KiB" \
  "" "tar -xf small.tar -C out" \
  "" "./bigtool small.big EXTRACT '*' out" 4 "rm -rf out && mkdir out" "rm -rf out"
# The floor: the same files made and filled from two threads by a C loop
# handed the list (bench/floor.c), with nothing else done; reported, no
# target.
measure extract_small_floor - "EXTRACT *, 20,000 files of 1-16 KiB: the floor (two threads, nothing but the files), against tar -xf" \
  "" "tar -xf small.tar -C out" \
  "" "./floor extract small.big out 2" 4 "rm -rf out && mkdir out" "rm -rf out"
# The threads' gain: one thread (the run without workers) against the
# default; reported, no target.
measure extract_small_one_thread - "EXTRACT *, 20,000 files of 1-16 KiB, BIGTOOL_THREADS=1, against the default" \
  "" "./bigtool small.big EXTRACT '*' out" \
  "" "env BIGTOOL_THREADS=1 ./bigtool small.big EXTRACT '*' out" 4 "rm -rf out" "rm -rf out"
# CREATE and COMPARE read the tree's small files ahead on every core (at
# most 8 threads): against tar, and one thread against the default,
# reported.
measure create_small 0.6 "CREATE, 20,000 files of 1-16 KiB" \
  "rm -f new.tar && " "tar -cf new.tar -C small ." \
  "rm -f new.big && " "./bigtool new.big CREATE small" 5
measure create_small_one - "CREATE, 20,000 files of 1-16 KiB, one thread against the default" \
  "rm -f new.big && " "./bigtool new.big CREATE small" \
  "rm -f new.big && " "env BIGTOOL_THREADS=1 ./bigtool new.big CREATE small" 5
measure create_small_floor - "CREATE, 20,000 files of 1-16 KiB: the floor (two threads, nothing but the reads and writes), against tar -cf" \
  "rm -f new.tar && " "tar -cf new.tar -C small ." \
  "rm -f new.bin && " "./floor create small.big small new.bin 2" 5
measure extract_large 1.3 "EXTRACT *, 4 files of 256 MiB" \
  "rm -rf out && " "cp -r large out" \
  "rm -rf out && " "./bigtool large.big EXTRACT '*' out" 4
# Large files keep the kernel's copy: the default no slower than one thread.
measure extract_large_threads 1.05 "EXTRACT *, 4 files of 256 MiB, default threads, against BIGTOOL_THREADS=1" \
  "rm -rf out && " "env BIGTOOL_THREADS=1 ./bigtool large.big EXTRACT '*' out" \
  "rm -rf out && " "./bigtool large.big EXTRACT '*' out" 4
measure compare_list 0.7 "COMPARE, 48,000 files of 0-64 B, against tar --compare" \
  "" "tar -df list.tar -C list" \
  "" "./bigtool list.big COMPARE list" 10
measure compare_list_one - "COMPARE, 48,000 files of 0-64 B, one thread against the default" \
  "" "./bigtool list.big COMPARE list" \
  "" "env BIGTOOL_THREADS=1 ./bigtool list.big COMPARE list" 10
measure compare_list_floor - "COMPARE, 48,000 files of 0-64 B: the floor (two threads, nothing but the reads), against tar --compare" \
  "" "tar -df list.tar -C list" \
  "" "./floor compare list.big list 2" 10
measure compare_small 1.0 "COMPARE, 20,000 files of 1-16 KiB, against tar --compare" \
  "" "tar -df small.tar -C small" \
  "" "./bigtool small.big COMPARE small" 5

# Every archive through LIST, EXTRACT * and EXTRACT of 2,000 indexes, one
# run each, before large.big makes room for CREATE's output.
echo "== Peak memory of each command on each archive"
for archive in sparse million list small large; do
  case $archive in
    sparse) label="sparse, 4 GiB - 1 claimed as index (1,000 entries)" ;;
    million) label="1,000,000 entries" ;;
    list) label="48,000 files of 0-64 B" ;;
    small) label="20,000 files of 1-16 KiB" ;;
    large) label="4 files of 256 MiB" ;;
  esac
  count=$(header_field "$archive.big" 8)
  peak "$label" "LIST" "" "./bigtool $archive.big LIST"
  # EXTRACT * may keep 16 bytes per file written besides its 16 MiB (the
  # table of files written).
  peak "$label" "EXTRACT *" "rm -rf out && " "./bigtool $archive.big EXTRACT '*' out" \
    "$(/usr/bin/python3 -c "print(round(16 + 16 * $count / 1048576, 1))")"
  peak "$label" "EXTRACT 2,000 indexes ascending" "rm -rf out && " \
    "./bigtool $archive.big EXTRACT \$(cat $archive.asc) out"
  peak "$label" "FIND" "" "./bigtool $archive.big FIND"
  # CHECK may keep 24 bytes per entry besides its 16 MiB. The sparse
  # archive claims its whole file as index, so every entry's data lies in
  # it: CHECK finds that, and ends with status 2.
  peak "$label" "CHECK" "" "./bigtool $archive.big CHECK" \
    "$(/usr/bin/python3 -c "print(round(16 + 24 * $count / 1048576, 1))")" \
    "$([ "$archive" = sparse ] && echo 2 || echo 0)"
  # UPDATE, DELETE and COMPARE may hold the archive's index (startOffset)
  # besides their 16 MiB. UPDATE and DELETE change a copy made before the
  # run, <archive>-copy.big: UPDATE adds upd/part1.txt, DELETE removes the
  # first entry. COMPARE holds each tree against its own archive, and a
  # crafted archive against what EXTRACT * makes of it, and holds that
  # tree's names: 160 bytes more for each of its files (the README's
  # figure, about 90 bytes and three times each name).
  case $archive in
    sparse) first='s\f0000.dat' tree=out ;;
    million) first='d000\f0000000.dat' tree=out ;;
    list) first='d0\f0000' tree=list ;;
    small) first='a0\b0\f000.dat' tree=small ;;
    large) first=part0.bin tree=large ;;
  esac
  extract=
  if [ "$tree" = out ]; then
    extract="rm -rf out && ./bigtool $archive.big EXTRACT '*' out >/dev/null && "
  fi
  limit=$(/usr/bin/python3 -c "print(round(16 + $(header_field "$archive.big" 12) / 1048576, 1))")
  tree_limit=$(/usr/bin/python3 -c "print(round($limit + 160 * $count / 1048576, 1))")
  copy=$archive-copy.big
  peak "$label" "UPDATE" "cp $archive.big $copy && " "./bigtool $copy UPDATE upd" "$limit"
  peak "$label" "DELETE" "cp $archive.big $copy && " "./bigtool $copy DELETE '$first'" "$limit"
  rm -f "$copy"
  peak "$label" "COMPARE" "$extract" "./bigtool $archive.big COMPARE $tree" "$tree_limit"
done
peak "1,000,000 entries" "FIND of 10,000 listed names" "" "./bigtool million.big FIND @names.txt"
measure check_large 1.2 "CHECK, 4 files of 256 MiB, against cat" \
  "" "cat large.big" \
  "" "./bigtool large.big CHECK" 4
measure compare_large 1.0 "COMPARE, 4 files of 256 MiB, against tar --compare" \
  "" "tar -df large.tar -C large" \
  "" "./bigtool large.big COMPARE large" 4
# Large files take no thread: the default no slower than one thread.
measure compare_large_threads 1.05 "COMPARE, 4 files of 256 MiB, against one thread" \
  "" "env BIGTOOL_THREADS=1 ./bigtool large.big COMPARE large" \
  "" "./bigtool large.big COMPARE large" 4
# The library (bench/api_bench.c): a lookup and a listing through the API
# against FIND; random 4 KiB reads of entries' data through bt_read
# against the same reads by pread(2), from one thread and from four.
# The library holds the index (names and 9 bytes an entry) and 32 bytes per
# entry besides.
library_limit=$(/usr/bin/python3 -c "print(round(16 + ($(header_field million.big 12) + 32 * 1000000) / 1048576, 1))")
MEMORY_LIMIT=$library_limit measure api_lookup 1.5 "Library: open and one name lookup, 1,000,000 entries, against FIND of the name" \
  "" "./bigtool million.big FIND D500/F0500000.DAT" "" "./api_bench lookup million.big D500/F0500000.DAT" 10
MEMORY_LIMIT=$library_limit measure api_list 1.5 "Library: open and every entry's name, size and offset, 1,000,000 entries, against FIND" \
  "" "./bigtool million.big FIND" "" "./api_bench list million.big" 10
for threads in 1 4; do
  measure api_read$threads 1.2 "Library: 400,000 random 4 KiB reads, 1 GiB archive, $threads thread(s), against pread" \
    "" "./api_bench pread large.big $threads 400000" "" "./api_bench read large.big $threads 400000" 5
done
# The Python package (bench/python_bench.py) over the same library: every
# entry's name and size as two lists against FIND, and one entry of 1 GiB
# read through entry.open() in 1 MiB reads against cat of the archive.
# Python itself holds about 16 MiB; the lists about 128 bytes an entry (the
# name's str, its slot, the size's) besides the library's index.
python_run="env BIGTOOL_LIBRARY=$work/libbigtool.so.1 PYTHONPATH=$repo/python /usr/bin/python3 $repo/bench/python_bench.py"
python_limit=$(/usr/bin/python3 -c "print(round(20 + ($(header_field million.big 12) + 160 * 1000000) / 1048576, 1))")
MEMORY_LIMIT=$python_limit measure python_list 3.0 "Python: every entry's name and size (namelist, sizes), 1,000,000 entries, against FIND" \
  "" "./bigtool million.big FIND" "" "$python_run list million.big" 10
mkdir one
cat large/part*.bin >one/entry.bin
./bigtool one.big CREATE one >/dev/null
rm -rf one
MEMORY_LIMIT=24 measure python_read 3.0 "Python: a 1 GiB entry through entry.open() in 1 MiB reads, against cat" \
  "" "cat one.big" "" "$python_run read one.big entry.bin" 5
rm -f one.big
# PATCH and MERGE of 1 GiB: every entry of large.big goes into the new
# archive, against cp of both inputs; list.big is the other archive (PATCH
# of list.big to large.big holds all of large.big, and warns of the rest).
measure merge_large 1.2 "MERGE of a 1 GiB archive and one of 48,000 tiny files, against cp of both" \
  "rm -rf merged && mkdir merged && " "cp large.big list.big merged/" \
  "rm -f merged.big && " "./bigtool merged.big MERGE large.big list.big" 4
measure patch_large 1.2 "PATCH from an archive of 48,000 tiny files to a 1 GiB one, against cp of both" \
  "rm -rf patched && mkdir patched && " "cp list.big large.big patched/" \
  "rm -f patch.big && " "./bigtool patch.big PATCH list.big large.big" 4
rm -rf merged patched merged.big patch.big
rm -rf out large.big large.tar
measure create_large 1.3 "CREATE, 4 files of 256 MiB" \
  "rm -rf copy && " "cp -r large copy" \
  "rm -f large-new.big && " "./bigtool large-new.big CREATE large" 4
measure create_large_threads 1.05 "CREATE, 4 files of 256 MiB, against one thread" \
  "rm -f large-new.big && " "env BIGTOOL_THREADS=1 ./bigtool large-new.big CREATE large" \
  "rm -f large-new.big && " "./bigtool large-new.big CREATE large" 4
rm -rf out copy large-new.big new.big new.tar new.bin

# UPDATE and DELETE of a 1 GiB archive: the four large files and one of
# 1 KiB between them (part1.txt follows part1.bin), made from hard links to
# the large files. Each run changes a fresh copy of it, made before the run
# and not timed. cp copies such a fresh copy too: a file just written has
# its pages on the inactive list, and the first read of each page moves it
# (cp of edit.big itself, read many times, took about 20 % less). And cp
# writes over its previous copy, as `cp archive copy` run again does: the
# old 1 GiB is freed in the run, as UPDATE and DELETE free the old archive
# when the new one takes its name. So both sides read a new 1 GiB file,
# write one, and free one, in the same memory file system.
mkdir edit
ln large/part*.bin edit/
head -c 1024 /dev/zero | tr '\0' a >edit/part1.txt
./bigtool edit.big CREATE edit >/dev/null
measure update_large 1.2 "UPDATE replacing one 1 KiB entry, 1 GiB archive, against cp" \
  "" "cp changed.big copy.big" \
  "" "./bigtool changed.big UPDATE upd" 4 \
  "cp edit.big changed.big" "cp edit.big changed.big"
measure delete_large 1.2 "DELETE of one 1 KiB entry, 1 GiB archive, against cp" \
  "" "cp changed.big copy.big" \
  "" "./bigtool changed.big DELETE part1.txt" 4 \
  "cp edit.big changed.big" "cp edit.big changed.big"
rm -f copy.big
label="1 GiB: 4 files of 256 MiB and one of 1 KiB"
limit=$(/usr/bin/python3 -c "print(round(16 + $(header_field edit.big 12) / 1048576, 1))")
peak "$label" "UPDATE" "cp edit.big edit-copy.big && " "./bigtool edit-copy.big UPDATE upd" "$limit"
peak "$label" "DELETE" "cp edit.big edit-copy.big && " "./bigtool edit-copy.big DELETE part1.txt" "$limit"
peak "$label" "COMPARE" "" "./bigtool edit.big COMPARE edit" "$limit"
rm -rf edit edit.big edit-copy.big changed.big
measure list_sparse 1.0 "LIST, sparse 4 GiB - 1 archive claiming it all as index" \
  "" "" "" "./bigtool sparse.big LIST" 10
if [ -n "$before_tool" ]; then
  measure list_million 1.0 "LIST, 1,000,000 entries (reference: the reader of $before, whole index in memory)" \
    "" "./bigtool-before million.big LIST" "" "./bigtool million.big LIST" 10
fi
measure find_million 1.0 "FIND, 1,000,000 entries, against LIST" \
  "" "./bigtool million.big LIST" "" "./bigtool million.big FIND" 10
measure wild_million 3.0 "FIND of 100 wildcard patterns of the usual forms, 1,000,000 entries, against FIND" \
  "" "./bigtool million.big FIND" "" "./bigtool million.big FIND @wild100.txt" 10
measure names_million 2.0 "FIND of 10,000 listed names, 1,000,000 entries, against LIST" \
  "" "./bigtool million.big LIST" "" "./bigtool million.big FIND @names.txt" 10
# Many archives at once. CONFLICTS of the 100 archives of mods/ (a load
# order of 1,000,000 entries, 20,000 names in 10 archives each, half of
# them with other bytes) against FIND of each in turn; DIFF of million.big
# and its next version against LIST of both. Both find something, status 3.
# Their memory: 16 MiB, 48 bytes per distinct name, and the archives'
# indexes (their names, and 9 bytes an entry) as the library holds them.
mods_index=0
for f in mods/mod*.big; do
  mods_index=$((mods_index + $(header_field "$f" 12) - 24))
done
conflicts_limit=$(/usr/bin/python3 -c "print(round(16 + (48 * 820000 + $mods_index) / 1048576, 1))")
diff_limit=$(/usr/bin/python3 -c "print(round(16 + (48 * 1010000 + $(header_field million.big 12) + $(header_field million-new.big 12) - 48) / 1048576, 1))")
MEMORY_LIMIT=$conflicts_limit measure conflicts_mods 2.0 "CONFLICTS, 100 archives of 10,000 entries, a fifth of the names shared, against FIND of each" \
  "" "sh -c 'for f in mods/mod*.big; do ./bigtool \$f FIND; done'" \
  "" "sh -c './bigtool @mods/list.txt CONFLICTS >/dev/null; test \$? = 3'" 5
MEMORY_LIMIT=$diff_limit measure diff_million 2.0 "DIFF of two 1,000,000-entry archives, against LIST of both" \
  "" "sh -c './bigtool million.big LIST >/dev/null && ./bigtool million-new.big LIST'" \
  "" "sh -c './bigtool million.big DIFF million-new.big >/dev/null; test \$? = 3'" 5
peak "100 archives, 1,000,000 entries, 820,000 names" "CONFLICTS" "" "./bigtool @mods/list.txt CONFLICTS" "$conflicts_limit" 3
peak "2 archives of 1,000,000 entries, 1,010,000 names" "DIFF" "" "./bigtool million.big DIFF million-new.big" "$diff_limit" 3
# MERGE holds nothing per name beyond the overlay: the same bound, one archive.
merge_limit=$(/usr/bin/python3 -c "print(round(16 + (48 * 1000000 + $(header_field million.big 12)) / 1048576, 1))")
peak "1,000,000 entries" "MERGE" "rm -f merged.big && " "./bigtool merged.big MERGE million.big" "$merge_limit" 0
rm -f merged.big
measure indexes_million 1.2 "EXTRACT 2,000 indexes ascending, against descending, 1,000,000 entries" \
  "rm -rf out && " "./bigtool million.big EXTRACT \$(cat million.desc) out" \
  "rm -rf out && " "./bigtool million.big EXTRACT \$(cat million.asc) out" 5
rm -rf out

machine=$results/machine.md
{
  echo "- Processors (nproc): $(nproc)"
  echo "- Memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
  echo "- Kernel: $(uname -sr)"
  echo "- File system of the work folder ($work): $(df -T "$work" | awk 'NR == 2 {print $2}')," \
    "mounted with $(findmnt -n -o OPTIONS --target "$work" | head -n 1)"
  echo "- File system of the generated trees and archives ($data): $(df -T "$trees" | awk 'NR == 2 {print $2}')"
  echo "- Tools: $(hyperfine --version), $(tar --version | head -n 1), $(cp --version | head -n 1)"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
} >"$machine"

cd "$repo"
status=0
/usr/bin/python3 bench/summarize.py "$results" "$work" "$machine" docs/benchmarks.md || status=$?
echo "Written: docs/benchmarks.md"
exit $status

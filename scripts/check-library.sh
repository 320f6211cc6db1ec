#!/usr/bin/env bash
# Installs a Release build's library into a temporary prefix, as
# `cmake --install` gives it to a user, then builds the example program
# against it twice, as a separate CMake project (find_package) and with a
# plain cc and pkg-config, and runs both on an archive of the bundled sample.
#
#   scripts/check-library.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
"$root/scripts/install-deps.sh" pkg-config:pkg-config cc:gcc

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cp -R "$root/examples/sample" "$work/sample"
(cd "$work" && "$build/bigtool" sample.big CREATE sample >/dev/null)

expected="$work/sample.big: 4 entries (bigtool 1.3.0)
entry 0 'maps\\harbour.map': 75 bytes
bytes 6 to 16:
"
check() {
  local out
  out=$(LD_LIBRARY_PATH="$(dirname "$(find "$work/prefix" -name 'libbigtool.so.1')")" \
    "$1" "$work/sample.big" 'MAPS/Harbour.map' 6 10)
  if [ "$out" != "$expected$(head -c 16 "$root/examples/sample/maps/harbour.map" | tail -c 10)
built '$work/sample.big.excerpt.big': 2 entries" ] ||
     [ "$("$build/bigtool" "$work/sample.big.excerpt.big" FIND | cut -f 2,4)" != $'75\tmaps\\harbour.map\n10\texcerpt.bin' ]; then
    echo "check-library.sh: $1 printed"$'\n'"$out" >&2
    exit 1
  fi
  rm "$work/sample.big.excerpt.big"
}

cmake -S "$root/examples" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
check "$work/cmake-build/read_entry"

pc=$(dirname "$(find "$work/prefix" -name bigtool.pc)")
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/read_entry" "$root/examples/read_entry.c" \
  $(PKG_CONFIG_PATH="$pc" pkg-config --cflags --libs bigtool)
check "$work/read_entry"
echo "The installed library builds and runs the example, with CMake and with pkg-config."

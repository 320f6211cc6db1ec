#!/usr/bin/env bash
# Builds the Windows targets with MinGW-w64: the 32-bit build that ships is
# built and checked (this machine cannot run 32-bit code), and the 64-bit
# build runs the whole test suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's wine64 keeps its loader and server in Wine's library folder.
WINE_DIR=/usr/lib/wine
scripts/install-deps.sh cmake:cmake ninja:ninja-build objdump:binutils \
  i686-w64-mingw32-g++-posix:g++-mingw-w64-i686 \
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64 \
  "$WINE_DIR/wine64:wine64" /usr/src/googletest/CMakeLists.txt:googletest

# CTest starts every test program of the 64-bit build through wine-run.sh.
cmake -S . -B build/i686 -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_FAULT_SEAM=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
cmake --build build/i686 -j2
cmake -S . -B build/x86_64 -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_FAULT_SEAM=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/build/x86_64/wine-run.sh"
cmake --build build/x86_64 -j2

# The shipping executable: 32-bit, console, and nothing to install with it.
exe=build/i686/bigtool.exe
# Read whole first: grep -q stopping early would fail the pipe.
header=$(objdump -f "$exe")
private=$(objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$header" || { echo "$exe is not a PE32 executable"; exit 1; }
grep -q 'Subsystem.*(Windows CUI)' <<<"$private" || { echo "$exe is not a console executable"; exit 1; }
dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$private" | sort -u | tr '\n' ' ')
if [ "$dlls" != "KERNEL32.dll msvcrt.dll " ]; then
  echo "$exe imports more than KERNEL32.dll and msvcrt.dll: $dlls"
  exit 1
fi
echo "$exe: PE32 console executable importing $dlls"

# The 64-bit suite under Wine, in a prefix of its own. One persistent
# server keeps each run to tens of milliseconds.
build=$PWD/build/x86_64
export WINEPREFIX=$build/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
cat > "$build/wine-run.sh" <<EOF
#!/bin/sh
# Runs one Windows program of this build under Wine (written by test-windows.sh).
export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
exec '$WINE_DIR/wine64' "\$@"
EOF
chmod +x "$build/wine-run.sh"
# The server and Wine's own services start here, away from CTest's pipes,
# which a service left holding them would keep open.
mkdir -p "$WINEPREFIX"
"$WINE_DIR/wineserver64" -p || true  # already running: it serves these runs too
trap '"$WINE_DIR/wineserver64" -k || true' EXIT
"$WINE_DIR/wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
ctest --test-dir "$build" --output-on-failure -j2

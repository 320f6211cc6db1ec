#!/usr/bin/env bash
# Builds the Windows targets with MinGW-w64 and tests them under Wine:
# - build/i686, the build that ships: 32-bit, Release, linked statically,
#   without the fault seam. Its bigtool.exe must be a PE32 console program
#   that imports only Windows' own DLLs; its whole suite runs under Wine
#   (the tests that need the seam skip), and its ZIP package, unpacked,
#   runs the bundled sample.
# - build/x86_64: 64-bit Debug with the fault seam, whose whole suite runs
#   under Wine, so that the tests that make the tool fail on purpose run on
#   Windows too.
# 32-bit Wine needs a kernel that runs 32-bit x86 programs, which some
# virtual machines do not: there it runs under emulation in a chroot of its
# own (scripts/i386-wine.sh). Where even that cannot be set up, the 32-bit
# build is built and inspected, its package's contents checked, and the
# script says what it left out.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's Wine keeps its loaders and server in Wine's library folder:
# wine64 starts every program, and hands a 32-bit one to wine (wine32).
WINE_DIR=/usr/lib/wine
scripts/install-deps.sh cmake:cmake ninja:ninja-build objdump:binutils \
  i686-w64-mingw32-g++-posix:g++-mingw-w64-i686 \
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64 \
  "$WINE_DIR/wine64:wine64" /usr/src/googletest/CMakeLists.txt:googletest \
  script:bsdutils perl:perl-base /usr/share/i18n/locales/ja_JP:locales

# True when this machine runs 32-bit x86 programs, as 32-bit Wine needs.
# The probe is the smallest such program (an ELF header, one program
# header, exit(32) through int 0x80); a 64-bit-only kernel refuses it.
runs_32bit_code() {
  local probe=$1
  printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
    '\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x20\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  [ $status -eq 32 ]
}

# 32-bit Wine goes beside wine64, in the same 64-bit prefixes.
# BIGTOOL_EMULATE_I386=1 takes the emulated way even where the kernel runs
# 32-bit code, so that it can be tried on any machine.
mkdir -p build
run32=0
if [ "${BIGTOOL_EMULATE_I386:-}" != 1 ] && runs_32bit_code build/probe-i386; then
  run32=1
  # A mirror mid-sync can leave the i386 lists behind the 64-bit ones, and
  # then no wine32:i386 fits beside the machine's libraries: the chroot,
  # made from bookworm alone, still holds one.
  if ! scripts/install-deps.sh "$WINE_DIR/wine:wine32:i386"; then
    echo "test-windows.sh: wine32:i386 does not install beside this machine's packages;" \
      "32-bit Wine runs in a chroot of its own instead"
    run32=0
  fi
fi
if [ $run32 -eq 0 ]; then
  # debootstrap fetches the emulated Wine's chroot with wget.
  scripts/install-deps.sh wget:wget
fi

cmake -S . -B build/i686 -G Ninja -DCMAKE_BUILD_TYPE=Release -DBIGTOOL_FAULT_SEAM=OFF \
  -DBIGTOOL_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/build/i686/wine-run.sh"
cmake --build build/i686 -j2
cmake -S . -B build/x86_64 -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBIGTOOL_FAULT_SEAM=ON \
  -DBIGTOOL_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/build/x86_64/wine-run.sh"
cmake --build build/x86_64 -j2

# The shipping executable: 32-bit, console, and nothing to install with it.
exe=build/i686/bigtool.exe
# Read whole first: grep -q stopping early would fail the pipe.
header=$(objdump -f "$exe")
private=$(objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$header" || { echo "$exe is not a PE32 executable"; exit 1; }
grep -q 'Subsystem.*(Windows CUI)' <<<"$private" || { echo "$exe is not a console executable"; exit 1; }
# Vista (6.0) is the oldest Windows with every function it imports.
versions=$(awk '/^(Major|Minor)(OSystem|Subsystem)Version/ { printf "%s %s ", $1, $2 }' <<<"$private")
if [ "$versions" != "MajorOSystemVersion 6 MinorOSystemVersion 0 MajorSubsystemVersion 6 MinorSubsystemVersion 0 " ]; then
  echo "$exe does not say Windows 6.0: $versions"
  exit 1
fi
dlls=$(sed -n 's/^\tDLL Name: //p' <<<"$private" | sort -u | tr '\n' ' ')
if [ "$dlls" != "KERNEL32.dll msvcrt.dll " ]; then
  echo "$exe imports more than KERNEL32.dll and msvcrt.dll: $dlls"
  exit 1
fi
echo "$exe: PE32 console executable for Windows 6.0 (Vista) or later, importing $dlls"

# Each build runs in a Wine prefix of its own, through the wine-run.sh that
# CTest starts every test program with. One persistent server per prefix
# keeps each run to tens of milliseconds.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
prefixes=()
emulated=0
stop_wine() {
  local status=$? prefix
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix "$WINE_DIR/wineserver64" -k || true
  done
  # Whatever the outcome: the emulation's binfmt entry and mounts go with it.
  if [ $emulated -eq 1 ] && ! scripts/i386-wine.sh stop build/i686; then
    echo "test-windows.sh: the emulated 32-bit Wine did not stop cleanly" >&2
    [ $status -ne 0 ] || status=1
  fi
  exit $status
}
trap stop_wine EXIT
start_wine() {
  local build=$PWD/$1
  local prefix=$build/wine-prefix
  cat >"$build/wine-run.sh" <<EOF
#!/bin/sh
# Runs one Windows program of this build under Wine (written by test-windows.sh).
export WINEPREFIX='$prefix' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
exec '$WINE_DIR/wine64' "\$@"
EOF
  chmod +x "$build/wine-run.sh"
  # The server and Wine's own services start here, away from CTest's pipes,
  # which a service left holding them would keep open.
  mkdir -p "$prefix"
  prefixes+=("$prefix")
  WINEPREFIX=$prefix "$WINE_DIR/wineserver64" -p || true  # already running: it serves these runs too
  "$build/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The console: Wine gives a program started on a terminal (script's pty) a
# console, whose text reaches the terminal in UTF-8; under C.UTF-8 the ANSI
# code page is 1252. A name beyond ASCII must show as it is, with 1252 and
# with UTF-8 as the ANSI code page (a manifest beside a copy of the program).
# The latter tells the program's own conversion from Wine's: its msvcrt
# shows a text-mode console's bytes as 1252, "cafÃ©". A pipe still gets the
# code page's bytes. The terminal's cursor moves are taken back to spaces.
console_check() {
  local build=$PWD/$1 dir
  dir=$(mktemp -d)
  mkdir "$dir/utf8"
  cp "$build/bigtool.exe" "$dir/utf8/"
  printf '%s\n' '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>' \
    '<assembly manifestVersion="1.0" xmlns="urn:schemas-microsoft-com:asm.v1">' \
    '<application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>' \
    '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8</activeCodePage>' \
    '</windowsSettings></application></assembly>' >"$dir/utf8/bigtool.exe.manifest"
  # One entry, "hi", named café.txt in 1252 and in UTF-8.
  printf 'BIGF+\0\0\0\0\0\0\1\0\0\0)\0\0\0)\0\0\0\2caf\xe9.txt\0L225\0\0\0\0hi' >"$dir/1252.big"
  printf 'BIGF,\0\0\0\0\0\0\1\0\0\0*\0\0\0*\0\0\0\2caf\xc3\xa9.txt\0L225\0\0\0\0hi' >"$dir/utf8.big"
  # PROGRAM ARCHIVE COMMAND: what the terminal shows, Wine's cursor moves
  # made blanks again.
  screen() {
    (cd "$dir" && LC_ALL=C.UTF-8 script -qec "'$build/wine-run.sh' '$1' $2 $3" /dev/null \
      </dev/null | perl -pe 's/\e\[\?25[hl]|\e\[K|\r//g; s/\e\[(\d*)C/" " x ($1 || 1)/ge')
  }
  # PROGRAM ARCHIVE SIZE START: its LIST on the terminal.
  shows() {
    local shown expected
    shown=$(screen "$1" "$2" LIST)
    expected=$(printf '%s\n' 'bigtool: lists, extracts and creates BIG archives' \
      'Tarvenor .BIG file container tool. Ver 1.0 BETA' '' "Validating '$2': Done" '' \
      '        Information' 'Files: 1' "Size: $3" "Start offset: $4" '' 'Listing all files...' '' \
      'Index           Size    FileName' '0                 2  café.txt' 'Completed successfully')
    [ "$shown" = "$expected" ] ||
      { echo "console_check: the console showed"$'\n'"$shown"$'\n'"instead of"$'\n'"$expected" >&2; exit 1; }
  }
  shows "$build/bigtool.exe" 1252.big 43 00000029
  shows utf8/bigtool.exe utf8.big 44 0000002A
  # FIND's rows are names too (tabs at every eighth column).
  local found
  found=$(screen "$build/bigtool.exe" 1252.big FIND)
  [ "$found" = "0       2       41      café.txt" ] ||
    { echo "console_check: FIND showed '$found', not café.txt" >&2; exit 1; }
  local piped
  piped=$(cd "$dir" && LC_ALL=C.UTF-8 "$build/wine-run.sh" "$build/bigtool.exe" 1252.big LIST | grep -a txt)
  [ "$piped" = $'0                 2  caf\xe9.txt\r' ] ||
    { echo "console_check: a pipe got '$piped', not café.txt in 1252" >&2; exit 1; }
  rm -rf "$dir"
  echo "$1: the console shows café.txt (LIST, FIND); a pipe gets its bytes in 1252"
}

# Where the kernel runs no 32-bit code, the 32-bit Wine runs under
# emulation; status 3 from its start means it cannot here, "NOT RUN:" and
# the reason already printed.
run_i686=1
if [ $run32 -eq 1 ]; then
  start_wine build/i686
else
  emulated=1  # before start: stop then runs however start ends
  status=0
  scripts/i386-wine.sh start build/i686 || status=$?
  if [ $status -eq 3 ]; then
    run_i686=0
    scripts/check-package.sh --contents-only build/i686
  elif [ $status -ne 0 ]; then
    echo "test-windows.sh: setting up the emulated 32-bit Wine failed" >&2
    exit $status
  fi
fi
if [ $run_i686 -eq 1 ]; then
  ctest --test-dir build/i686 --output-on-failure --no-tests=error -j2
  scripts/check-package.sh build/i686 "$PWD/build/i686/wine-run.sh"
  console_check build/i686
fi
start_wine build/x86_64
ctest --test-dir build/x86_64 --output-on-failure --no-tests=error -j2
console_check build/x86_64

# Double-byte code pages: Wine takes the ANSI code page from the locale,
# here 932 from a Japanese one made for this build alone.
mkdir -p build/x86_64/locale
localedef -i ja_JP -f UTF-8 build/x86_64/locale/ja_JP.UTF-8
LOCPATH=$PWD/build/x86_64/locale LC_ALL=ja_JP.UTF-8 BIGTOOL_CODE_PAGE=932 \
  ctest --test-dir build/x86_64 --output-on-failure --no-tests=error -R DoubleByte

#!/usr/bin/env bash
# Packs a built tool with CPack as a release is packed, unpacks the package
# into a temporary folder, checks that it holds the program and the README
# and nothing else, and runs the unpacked program on the bundled sample
# (scripts/check-sample.sh).
#
#   scripts/check-package.sh [--contents-only] BUILD_DIR [LOADER...]
#
# The build's system decides the package: the win32 ZIP, with bigtool.exe
# and README.md at its top and the library (DLL, import library, header) in
# library/, or the Linux TGZ, with bin/bigtool, share/doc/bigtool/README.md
# and the library's header, libraries, pkg-config file and CMake package. LOADER, when given, starts the program: Wine
# for the Windows one. --contents-only leaves out the run, for a machine
# that cannot start the program.
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
run=1
if [ "$1" = --contents-only ]; then
  run=0
  shift
fi
build=$(cd "$1" && pwd)
shift

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -B "$work/packed" >/dev/null)
shopt -s nullglob
packages=("$work"/packed/bigtool-*.zip "$work"/packed/bigtool-*.tar.gz)
shopt -u nullglob
if [ ${#packages[@]} -ne 1 ]; then
  echo "check-package.sh: expected one package from $build, found: ${packages[*]}" >&2
  exit 1
fi
package=${packages[0]}
name=$(basename "$package")
echo "Unpacking $name"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$package")

# Everything sits in a folder named after the package.
case $name in
  *.zip)
    top=${name%.zip}
    program=$top/bigtool.exe
    expected=$(printf '%s\n' "$top/README.md" "$program" "$top/library/bigtool-1.dll" \
      "$top/library/bigtool.h" "$top/library/libbigtool.dll.a")
    ;;
  *.tar.gz)
    top=${name%.tar.gz}
    version=${top#bigtool-}  # the package's name carries the library's version
    version=${version%-Linux}
    program=$top/bin/bigtool
    expected=$(printf '%s\n' "$program" "$top/include/bigtool.h" \
      "$top"/lib/cmake/bigtool/bigtool{Config,ConfigVersion,Targets-release,Targets}.cmake \
      "$top"/lib/libbigtool.{a,so,so.1,so.$version} "$top/lib/pkgconfig/bigtool.pc" \
      "$top/share/doc/bigtool/README.md")
    ;;
esac
found=$(cd "$work/unpacked" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [ "$found" != "$expected" ]; then
  echo "check-package.sh: $name holds"$'\n'"$found"$'\n'"instead of"$'\n'"$expected" >&2
  exit 1
fi
# The program packed is the one the build made and the tests ran.
cmp "$work/unpacked/$program" "$build/$(basename "$program")"
echo "$name holds the README and the program built in $build"

if [ $run -eq 1 ]; then
  "$scripts/check-sample.sh" "$@" "$work/unpacked/$program"
fi

#!/usr/bin/env bash
# Fails when the library's code prints, ends the process, touches what
# belongs to the program that calls it (the environment, signals, the
# locale, the current directory), or includes the command line's headers.
# The library is the tree src/lib/ and, of the platform folder, the
# backend that cmake/sources.cmake lists for it.
set -euo pipefail
cd "$(dirname "$0")/.."

files="$(find src/lib -name '*.cpp' -o -name '*.h' | sort)
$(sed -n '/^set(BIGTOOL_\(POSIX\|WIN32\)_LIBRARY_BACKEND/,/)/p' cmake/sources.cmake | grep -o 'src/[A-Za-z0-9_/]*\.cpp')"
# Every library source is in the tree: none listed for it elsewhere.
listed=$(sed -n '/^set(BIGTOOL_LIBRARY_SOURCES/,/)/p' cmake/sources.cmake | grep -o 'src/[A-Za-z0-9_/]*\.cpp' |
  grep -v '^src/lib/' || true)
if [ -n "$listed" ]; then
  echo "check-library-tree.sh: library sources outside src/lib/:" >&2
  echo "$listed" >&2
  exit 1
fi
forbidden='\b(printf|fprintf|puts|fputs|putchar|perror|std::cout|std::cerr|std::clog|exit|_exit|abort|quick_exit|getenv|_wgetenv|setenv|putenv|setlocale|signal|sigaction|chdir|SetCurrentDirectory[AW]?|SetConsole[A-Za-z]*|GetEnvironmentVariable[AW]?)\s*\('
# Comments are not code: lines whose text starts with // are left out.
found=$(grep -nE "$forbidden" $files | grep -vE '^[^:]+:[0-9]+:\s*//' || true)
if [ -n "$found" ]; then
  echo "check-library-tree.sh: the library must not print, exit or touch the process's state:" >&2
  echo "$found" >&2
  exit 1
fi
# The platform's header is the one the library shares with the command line.
found=$(grep -nE '#include "cli/' $files src/platform/platform.h || true)
if [ -n "$found" ]; then
  echo "check-library-tree.sh: the library must not include the command line's headers:" >&2
  echo "$found" >&2
  exit 1
fi
echo "The library's $(echo $files | wc -w) files neither print, exit nor include the command line."

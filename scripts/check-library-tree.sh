#!/usr/bin/env bash
# Fails when the library's code prints, ends the process, or touches what
# belongs to the program that calls it (the environment, signals, the
# locale, the current directory). The library is what cmake/sources.cmake
# lists for it, with the headers beside those files in src/lib/.
set -euo pipefail
cd "$(dirname "$0")/.."

files=$(sed -n '/^set(BIGTOOL_\(LIBRARY_SOURCES\|POSIX_LIBRARY_BACKEND\|WIN32_LIBRARY_BACKEND\)/,/)/p' \
  cmake/sources.cmake | grep -o 'src/[A-Za-z0-9_/]*\.cpp')
files="$files $(ls src/lib/*.h)"
forbidden='\b(printf|fprintf|puts|fputs|putchar|perror|std::cout|std::cerr|std::clog|exit|_exit|abort|quick_exit|getenv|_wgetenv|setenv|putenv|setlocale|signal|sigaction|chdir|SetCurrentDirectory[AW]?|SetConsole[A-Za-z]*|GetEnvironmentVariable[AW]?)\s*\('
# Comments are not code: lines whose text starts with // are left out.
found=$(grep -nE "$forbidden" $files | grep -vE '^[^:]+:[0-9]+:\s*//' || true)
if [ -n "$found" ]; then
  echo "check-library-tree.sh: the library must not print, exit or touch the process's state:" >&2
  echo "$found" >&2
  exit 1
fi
echo "The library's $(echo $files | wc -w) files neither print nor exit."

#!/usr/bin/env bash
# Runs a built bigtool on the bundled sample as a user would: CREATE an
# archive from a copy of examples/sample, LIST it, EXTRACT '*' from it, and
# compare the extracted tree with the original. Each run must end with
# status 0 and "Completed successfully".
#
#   scripts/check-sample.sh PROGRAM...
#
# PROGRAM is the command that starts the tool, with absolute paths: the tool
# itself, or a Wine loader and bigtool.exe. The runs take paths relative to
# a temporary folder, which a Windows build under Wine reads as its own.
set -euo pipefail
sample=$(cd "$(dirname "$0")/../examples/sample" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$sample" "$work/sample"
cd "$work"

run() {
  local out status=0
  out=$("$@" </dev/null) || status=$?
  out=$(tr -d '\r' <<<"$out")  # a Windows console ends its lines with CR LF
  printf '%s\n' "$out"
  if [ $status -ne 0 ] || [ "$(tail -n 1 <<<"$out")" != "Completed successfully" ]; then
    echo "check-sample.sh: '$*' ended with status $status, not with \"Completed successfully\"" >&2
    exit 1
  fi
}

run "$@" sample.big CREATE sample
run "$@" sample.big LIST
run "$@" sample.big EXTRACT '*' out
diff -r sample out
echo "The extracted tree matches examples/sample."

#!/usr/bin/env bash
# The Python package's tests, with the Python on PATH and with Debian's
# (once when they are the same): each gets a virtual environment that
# scripts/install-python.sh makes, as the README says, with the library of
# the build given (build/native by default), and runs pytest there, away
# from the sources, so that the installed package is the one tested.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
library=$root/${1:-build/native}/libbigtool.so.1

scripts/install-deps.sh /usr/bin/python3:python3
scripts/install-deps.sh /usr/lib/python3/dist-packages/pytest/__init__.py:python3-pytest \
  /usr/lib/python3/dist-packages/hypothesis/__init__.py:python3-hypothesis

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pythons=(/usr/bin/python3)
where='import os, sys; print(os.path.realpath(sys.executable))'
machine=$(command -v python3 || true)
if [ -n "$machine" ] && [ "$("$machine" -c "$where")" != "$("/usr/bin/python3" -c "$where")" ]; then
  pythons+=("$machine")
fi

n=0
for python in "${pythons[@]}"; do
  n=$((n + 1))
  echo "Python tests with $python ($("$python" --version))"
  scripts/install-python.sh "$work/venv-$n" "$library" "$python"
  (cd "$work" && env -u BIGTOOL_LIBRARY BIGTOOL_TOOL="$root/${1:-build/native}/bigtool" "$work/venv-$n/bin/python" -m pytest -p no:cacheprovider -q \
    "$root/python/tests")
done

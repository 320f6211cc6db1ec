#!/usr/bin/env bash
# Installs the Python package into a virtual environment, offline, with a
# copy of the shared library the project's CMake built:
#   scripts/install-python.sh VENV [LIBRARY [PYTHON]]
# LIBRARY defaults to build/release/libbigtool.so.1 (scripts/run-sample.sh
# builds it), PYTHON to python3. Debian's venv, setuptools and wheel are
# installed when missing; pip reaches no package index. Relative paths are
# taken from the repository's root.
set -euo pipefail
cd "$(dirname "$0")/.."

venv=${1:?usage: scripts/install-python.sh VENV [LIBRARY [PYTHON]]}
library=${2:-build/release/libbigtool.so.1}
if [ ! -f "$library" ]; then
  echo "No library at $library: build it first (bash scripts/run-sample.sh builds build/release)." >&2
  exit 1
fi
library=$(realpath "$library")
python=${3:-python3}

scripts/install-deps.sh /usr/bin/python3:python3
debian=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
scripts/install-deps.sh "/usr/lib/python$debian/ensurepip/__init__.py:python3-venv" \
  /usr/lib/python3/dist-packages/setuptools/__init__.py:python3-setuptools \
  /usr/lib/python3/dist-packages/wheel/__init__.py:python3-wheel

"$python" -m venv --system-site-packages "$venv"
# A Python other than Debian's sees its own packages, not Debian's: where
# it lacks the build's, Debian's come after its own.
if ! "$venv/bin/python" -c 'import setuptools, wheel' 2>/dev/null; then
  site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
  echo /usr/lib/python3/dist-packages >"$site/debian-packages.pth"
fi
BIGTOOL_LIBRARY=$library "$venv/bin/pip" install --quiet --no-build-isolation --no-index ./python

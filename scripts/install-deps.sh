#!/usr/bin/env bash
# Installs, from Debian, whatever the build and the tests need and the
# machine lacks. Each argument is "command:package"; nothing is installed
# when every command is already there.
set -euo pipefail

missing=()
for pair in "$@"; do
  command=${pair%%:*}
  package=${pair#*:}
  if [ -e "$command" ] || command -v "$command" >/dev/null 2>&1; then
    continue
  fi
  missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  sudo=sudo
else
  sudo=
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs, from Debian, whatever the build and the tests need and the
# machine lacks. Each argument is "command:package", where the package may
# name a foreign architecture ("wine32:i386"), which is then added to dpkg
# first; nothing is installed when every command is already there.
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
# A package of another architecture is only found once dpkg knows that
# architecture and the lists have been read again.
native=$(dpkg --print-architecture)
for package in "${missing[@]}"; do
  case $package in
    *:*)
      arch=${package#*:}
      foreign=$(dpkg --print-foreign-architectures)
      if [ "$arch" != "$native" ] && ! grep -qx "$arch" <<<"$foreign"; then
        echo "Adding the $arch architecture"
        $sudo dpkg --add-architecture "$arch"
      fi
      ;;
  esac
done
# Other developers may be installing at the same time: wait for their lock.
lock_wait=(-o DPkg::Lock::Timeout=600)
# A mirror caught mid-sync fails a list now and serves it a minute later:
# try again, and in the end install from the lists that did arrive.
for attempt in 1 2 3; do
  if $sudo apt-get "${lock_wait[@]}" update -qq; then
    break
  fi
  echo "apt-get update failed (attempt $attempt of 3)"
  [ "$attempt" -eq 3 ] || sleep 30
done
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock_wait[@]}" install -y -qq --no-install-recommends \
  "${missing[@]}"

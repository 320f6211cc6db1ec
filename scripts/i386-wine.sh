#!/usr/bin/env bash
# Runs a build's 32-bit Windows programs where the kernel runs no 32-bit x86
# code: Debian 12's own 32-bit Wine in a bookworm chroot, every 32-bit Linux
# program in it started by qemu-i386 (qemu-user from bookworm-backports,
# unpacked, never installed) through a binfmt_misc entry of our own.
#
#   scripts/i386-wine.sh start BUILD_DIR   set up; write BUILD_DIR/wine-run.sh
#   scripts/i386-wine.sh stop BUILD_DIR    undo all that start did
#
# start exits with status 3 after a line "NOT RUN: ..." where this cannot
# run (not root, no binfmt_misc to be had). Its caller runs stop when it
# ends, whatever the outcome; should the caller die first, the namespaces
# below end within a second and take everything with them.
#
# The chroot, qemu-i386 and a new Wine prefix are kept in
# /var/cache/bigtool-i386/KEY, KEY a hash of the versions they hold and of
# how they are made, so that a second run starts in seconds. Each run gets
# its own user, mount and PID namespaces: the binfmt_misc entry lives in the
# namespace's own binfmt_misc (kernel 6.7 and later; older kernels have only
# the machine's, which then holds the entry for the run's length), and the
# bind mounts that put the build folder and /tmp into the chroot at the same
# paths, so that paths the tests print match, vanish with it.
set -euo pipefail

cache=/var/cache/bigtool-i386
binfmt=/proc/sys/fs/binfmt_misc
# An i386 ELF executable or shared object.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
wine_env=(LC_ALL=C.UTF-8 WINEDEBUG=-all 'WINEDLLOVERRIDES=mscoree,mshtml=')

not_run() {
  echo "NOT RUN: the 32-bit Windows suite and the win32 ZIP's program:" \
    "this machine's kernel does not run 32-bit x86 programs, and $*"
  exit 3
}

# apt with lists of its own in the cache, for bookworm and its backports on
# the mirror the machine's own sources name; the machine's apt is untouched.
private_apt() {
  local mirror
  mirror=$(apt-get indextargets --no-release-info --format '$(RELEASE) $(REPO_URI)' \
    'Identifier: Packages' | awk '$1 == "bookworm" { print $2; exit }')
  [ -n "$mirror" ] || { echo "i386-wine.sh: apt's sources name no mirror of bookworm" >&2; exit 1; }
  mkdir -p "$cache/apt/lists/partial" "$cache/apt/archives/partial" "$cache/apt/empty"
  printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s %s main\n' \
    "$mirror" bookworm "$mirror" bookworm-backports >"$cache/apt/sources.list"
  apt=(-o Dir::Etc::SourceList="$cache/apt/sources.list" -o Dir::Etc::SourceParts="$cache/apt/empty"
    -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts="$cache/apt/empty"
    -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt"
    -o APT::Architectures::=amd64 -o APT::Architectures::=i386 -o APT::Sandbox::User=root)
}

version_of() {
  apt-cache "${apt[@]}" show --no-all-versions "$1" | sed -n 's/^Version: //p'
}

# The mounts a chroot run needs, made inside the namespaces.
mount_chroot() {
  local root=$1 build=${2:-}
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --rbind /tmp "$root/tmp"
  if [ -n "$build" ]; then
    mkdir -p "$root$build"
    mount --bind "$build" "$root$build"
  fi
}

# Builds the chroot, qemu-i386 and the prefix into $1 (a new folder).
build_cache() {
  local dir=$1 deb
  mkdir -p "$dir/debs"
  (cd "$dir/debs" && apt-get -qq "${apt[@]}" download debootstrap/bookworm qemu-user/bookworm-backports)
  dpkg-deb -x "$dir"/debs/debootstrap_*.deb "$dir/debootstrap"
  deb=$(echo "$dir"/debs/qemu-user_*.deb)
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/bin/qemu-i386 >"$dir/qemu-i386"
  chmod +x "$dir/qemu-i386"
  echo "Making a bookworm chroot in $dir/root"
  DEBOOTSTRAP_DIR=$dir/debootstrap/usr/share/debootstrap \
    "$dir/debootstrap/usr/sbin/debootstrap" --variant=minbase bookworm "$dir/root" \
    "$(sed -n 's/^deb \[[^]]*\] \([^ ]*\) bookworm .*/\1/p' "$cache/apt/sources.list")" \
    >"$dir/debootstrap.log" || { tail -n 20 "$dir/debootstrap.log" >&2; return 1; }
  rm -rf "$dir/debs" "$dir/debootstrap"
  echo "Installing wine32:i386 $wine_version in it"
  chroot "$dir/root" dpkg --add-architecture i386
  unshare --mount sh -ec 'mount -t proc proc "$1/proc"; mount --rbind /dev "$1/dev"
    chroot "$1" apt-get -qq update
    DEBIAN_FRONTEND=noninteractive chroot "$1" apt-get -qq install --no-install-recommends \
      "wine32:i386=$2" >/dev/null
    chroot "$1" apt-get clean' sh "$dir/root" "$wine_version"
  echo "Making a Wine prefix"
  enter_namespaces "$dir" "$dir/root"
  run_in_chroot env "${wine_env[@]}" WINEPREFIX=/prefix /usr/lib/wine/wine wineboot --init \
    </dev/null >/dev/null 2>&1
  run_in_chroot env WINEPREFIX=/prefix /usr/lib/wine/wineserver -w
  leave_namespaces
  chroot "$dir/root" dpkg-query -W >"$dir/packages"
}

# Starts the namespaces with qemu-i386 registered and the chroot's mounts,
# for as long as the process $owner lives. Sets holder (the namespaces' first
# process), killer (its parent, whose end ends them all) and nsenter.
enter_namespaces() {
  local dir=$1 root=$2 build=${3:-} userns=() child
  if [ "$binfmt_mode" = private ]; then
    userns=(--user --map-root-user)
  fi
  entry=bigtool-i386-$$
  # The machine's binfmt_misc outlives the namespaces: the entry goes when the owner does.
  unshare "${userns[@]}" --mount --pid --fork --kill-child \
    sh -c 'while [ -d "/proc/$1" ]; do sleep 1; done; echo -1 >"$2"' sh "$owner" "$binfmt/$entry" \
    </dev/null >/dev/null 2>&1 &
  killer=$!
  holder=
  for _ in $(seq 100); do
    child=$(cat "/proc/$killer/task/$killer/children" 2>/dev/null || true)
    holder=${child%% *}
    [ -n "$holder" ] && break
    sleep 0.1
  done
  [ -n "$holder" ] || { echo "i386-wine.sh: the namespaces did not start" >&2; return 1; }
  nsenter=(nsenter --target "$holder" --mount --pid)
  [ "$binfmt_mode" = private ] && nsenter+=(--user)
  # A binfmt_misc of our own is mounted fresh; the machine's is used where it is.
  "${nsenter[@]}" sh -ec '
    [ "$2" = machine ] && [ -e "$1/register" ] || mount -t binfmt_misc binfmt_misc "$1"
    printf "%s" ":$3:M::$4:$5:$6:F" >"$1/register"' \
    sh "$binfmt" "$binfmt_mode" "$entry" "$magic" "$mask" "$dir/qemu-i386"
  chroot_root=$root
  "${nsenter[@]}" bash -ec "$(declare -f mount_chroot); mount_chroot \"\$@\"" \
    sh "$root" ${build:+"$build"}
}

run_in_chroot() {
  "${nsenter[@]}" chroot "$chroot_root" "$@"
}

# The entry goes first, then the namespaces with all in them: killer is
# killed only while it is still the parent of holder, never a process that
# took its number since.
leave_namespaces() {
  if grep -qw "$holder" "/proc/$killer/task/$killer/children" 2>/dev/null; then
    "${nsenter[@]}" sh -c "echo -1 >'$binfmt/$entry'" || true
    kill -KILL "$killer"
    wait "$killer" 2>/dev/null || true
  fi
  killer=
}

start() {
  local build=$1 key dir old setup_fd use_fd
  [ "$(id -u)" -eq 0 ] || not_run "emulating them needs root."
  if unshare --user --map-root-user --mount mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
    binfmt_mode=private
  elif unshare --mount sh -c "[ -e '$binfmt/register' ] || mount -t binfmt_misc binfmt_misc '$binfmt'" 2>/dev/null; then
    binfmt_mode=machine
  else
    not_run "binfmt_misc, to emulate them, cannot be mounted."
  fi
  owner=$PPID
  killer=
  trap '[ -z "$killer" ] || leave_namespaces' EXIT

  # One set-up at a time; a set-up in use (its ready file locked shared) stays.
  mkdir -p "$cache"
  exec {setup_fd}>"$cache/setup.lock"
  flock -x "$setup_fd"
  private_apt
  if apt-get -qq "${apt[@]}" update; then
    wine_version=$(version_of wine32:i386/bookworm)
    key=$( (echo "wine32:i386 $wine_version"
            echo "qemu-user $(version_of qemu-user/bookworm-backports)"
            declare -f build_cache enter_namespaces mount_chroot) | sha256sum | cut -c1-16)
  else
    # No mirror now: the set-up made last will do.
    key=$(ls -t "$cache"/*/ready 2>/dev/null | head -n 1 | xargs -r dirname | xargs -r basename)
    [ -n "$key" ] || { echo "i386-wine.sh: the mirror cannot be reached" >&2; exit 1; }
  fi
  dir=$cache/$key
  if [ ! -e "$dir/ready" ]; then
    echo "Setting up 32-bit Wine under emulation in $dir (a few minutes, once)"
    rm -rf "$dir.new"
    build_cache "$dir.new"
    mv "$dir.new" "$dir"
    touch "$dir/ready"
  fi
  exec {use_fd}<"$dir/ready"
  flock -s "$use_fd"
  for old in "$cache"/*/; do
    old=${old%/}
    case $old in "$dir" | "$cache/apt") continue ;; esac
    if [ ! -e "$old/ready" ] || flock -n -x "$old/ready" true; then
      rm -rf "$old"
    fi
  done
  exec {setup_fd}>&-

  build=$(cd "$build" && pwd)
  rm -rf "$build/wine-prefix"
  cp -a "$dir/root/prefix" "$build/wine-prefix"
  enter_namespaces "$dir" "$dir/root" "$build"  # they keep the ready file locked
  exec {use_fd}<&-
  cat >"$build/i386-wine.state" <<EOF
killer=$killer holder=$holder nsenter=(${nsenter[*]}) entry=$entry chroot_root=$dir/root
EOF
  cat >"$build/wine-run.sh" <<EOF
#!/bin/sh
# Runs one Windows program of this build under 32-bit Wine in the chroot
# that scripts/i386-wine.sh set up, in its namespaces (written by it).
exec ${nsenter[*]} chroot '$dir/root' /bin/sh -c 'cd "\$1" && shift && exec "\$@"' sh "\$PWD" \\
  env ${wine_env[*]@Q} WINEPREFIX='$build/wine-prefix' /usr/lib/wine/wine "\$@"
EOF
  chmod +x "$build/wine-run.sh"
  # The server and Wine's own services start here, away from CTest's pipes.
  run_in_chroot env WINEPREFIX="$build/wine-prefix" /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  "$build/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
  trap - EXIT
  echo "32-bit Wine runs under qemu-i386 in $dir/root (binfmt_misc: $binfmt_mode)"
}

stop() {
  local build
  build=$(cd "$1" && pwd)
  [ -e "$build/i386-wine.state" ] || return 0
  eval "$(cat "$build/i386-wine.state")"
  if grep -qw "$holder" "/proc/$killer/task/$killer/children" 2>/dev/null; then
    run_in_chroot env WINEPREFIX="$build/wine-prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  fi
  leave_namespaces
  rm -f "$build/i386-wine.state" "$build/wine-run.sh"
}

case ${1:-} in
  start) start "$2" ;;
  stop) stop "$2" ;;
  *) echo "usage: $0 start|stop BUILD_DIR" >&2; exit 1 ;;
esac

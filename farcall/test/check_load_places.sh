#!/usr/bin/env bash
# Farcall.load() where the temporary directory is mounted noexec, as on
# hardened servers: in a mount namespace of its own (through a user namespace
# when not root), a noexec tmpfs holds java.io.tmpdir and the other places
# that are to fail, and FarcallLoadPlacesCheck runs three times:
#   1. java.io.tmpdir noexec: $XDG_RUNTIME_DIR takes the library; but with
#      farcall.tmpdir naming a noexec directory, that one alone was tried;
#   2. java.io.tmpdir noexec, no $XDG_RUNTIME_DIR, no $XDG_CACHE_HOME: ~/.cache,
#      made on the way, takes it;
#   3. every place noexec: the error names each, with the reason.
# Each run finds every place it was given empty afterwards.
# Exits 77 with the reason where the kernel refuses the namespace or the mount.
#   check_load_places.sh WORK JAVA [JAVA OPTION...] -cp CLASSPATH
set -euo pipefail
work=$(realpath -m "$1")
shift

if [ -z "${FARCALL_PRIVATE_MOUNTS:-}" ]; then
  rm -rf "$work"
  mkdir -p "$work"
  userns=()
  [ "$(id -u)" -eq 0 ] || userns=(--map-root-user)
  if ! unshare "${userns[@]}" --mount true 2>"$work/unshare.err"; then
    echo "skipped: no private mount namespace: $(cat "$work/unshare.err")"
    exit 77
  fi
  exec unshare "${userns[@]}" --mount env FARCALL_PRIVATE_MOUNTS=1 "$0" "$work" "$@"
fi

# Nothing mounted here may propagate back to the machine.
mount --make-rprivate /
noexec=$work/noexec
mkdir -p "$noexec" "$work/runtime" "$work/cache" "$work/home"
if ! mount -t tmpfs -o noexec,nosuid,nodev,mode=0755 tmpfs "$noexec" 2>"$work/mount.err"; then
  echo "skipped: cannot mount a noexec tmpfs: $(cat "$work/mount.err")"
  exit 77
fi
mkdir "$noexec/tmp" "$noexec/explicit" "$noexec/runtime" "$noexec/home"

check() {
  "$@" -XX:-UsePerfData FarcallLoadPlacesCheck "${arguments[@]}"
}

echo "1. java.io.tmpdir noexec; \$XDG_RUNTIME_DIR next"
arguments=("$work/runtime" "$noexec/explicit" "$noexec/tmp" "$noexec/explicit" "$work/runtime" "$work/cache")
XDG_RUNTIME_DIR=$work/runtime XDG_CACHE_HOME=$work/cache HOME=$work/home \
  check "$@" "-Djava.io.tmpdir=$noexec/tmp"

echo "2. java.io.tmpdir noexec; ~/.cache made and taken"
arguments=("$work/home/.cache" - "$noexec/tmp" "$work/home/.cache")
(unset XDG_RUNTIME_DIR XDG_CACHE_HOME; HOME=$work/home check "$@" "-Djava.io.tmpdir=$noexec/tmp")

echo "3. every place noexec"
arguments=(nowhere - "$noexec/tmp" "$noexec/runtime" "$noexec/home/.cache")
(unset XDG_CACHE_HOME; XDG_RUNTIME_DIR=$noexec/runtime HOME=$noexec/home check "$@" "-Djava.io.tmpdir=$noexec/tmp")

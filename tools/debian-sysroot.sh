#!/usr/bin/env bash
# Fills the sysroot of a cross build with Debian's packages of another
# architecture (arm64, ppc64el, s390x, ...): the JDK 17 that the JNI checks
# run on under qemu, the X11 client libraries ghostdpy's tests and xprobe link
# against, and the C and C++ runtimes that qemu's loader finds there.
#
# The machine's own package state is never touched: apt runs on a private
# configuration (its own lists, cache and an empty dpkg status, the target as
# the only architecture) and only downloads; the packages are unpacked with
# dpkg-deb -x, never installed, and no dpkg architecture is added.
#   tools/debian-sysroot.sh ARCHITECTURE SYSROOT_DIR
# The package lists and the downloaded packages are kept outside the build
# tree, so that a clean build (or a fresh clone) does not fetch them again:
# in $DEBIAN_SYSROOT_CACHE/ARCHITECTURE, by default
# ${XDG_CACHE_HOME:-~/.cache}/ghostdpy-farcall/debian-sysroot/ARCHITECTURE.
# Idempotent: a sysroot made from the same package list is left alone.
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 ARCHITECTURE SYSROOT_DIR" >&2; exit 2; }
arch=$1
sysroot=$(realpath -m "$2")
cache=${DEBIAN_SYSROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ghostdpy-farcall/debian-sysroot}
state=$(realpath -m "$cache/$arch")
packages=(openjdk-17-jdk-headless libxcb1-dev libx11-dev)

# The machine's Debian mirrors and release, so that the packages come from
# where (and when) its own packages come from.
. /etc/os-release
codename=${VERSION_CODENAME:?no release codename in /etc/os-release}
mirror=http://deb.debian.org/debian
security=http://deb.debian.org/debian-security
for source in /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list; do
  [ -r "$source" ] || continue
  for uri in $(grep -ohE '(https?|file)://[^ ]*/debian(-security)?/?( |$)' "$source" | tr -d ' '); do
    case ${uri%/} in
      */debian-security) security=${uri%/} ;;
      */debian) mirror=${uri%/} ;;
    esac
  done
done

mkdir -p "$state"/lists/partial "$state"/cache/archives/partial "$state"/etc/preferences.d
# One build at a time per architecture uses the cache (apt's own locks are
# off: it runs as any account on a private state).
exec 9>"$state/lock"
flock 9
: >"$state"/status
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$state"/etc/sources.list <<SOURCES
deb [arch=$arch signed-by=$keyring] $mirror $codename main
deb [arch=$arch signed-by=$keyring] $mirror $codename-updates main
deb [arch=$arch signed-by=$keyring] $security $codename-security main
SOURCES
cat >"$state"/apt.conf <<CONF
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
Dir::State "$state";
Dir::State::lists "$state/lists";
Dir::State::status "$state/status";
Dir::Cache "$state/cache";
Dir::Cache::archives "$state/cache/archives";
Dir::Etc::SourceList "$state/etc/sources.list";
Dir::Etc::SourceParts "/nonexistent";
Dir::Etc::Preferences "$state/etc/preferences";
Dir::Etc::PreferencesParts "$state/etc/preferences.d";
APT::Install-Recommends "false";
Debug::NoLocking "true";
CONF
export APT_CONFIG=$state/apt.conf

# The lists are fetched again after a day; apt itself skips what is current.
if [ -z "$(find "$state"/lists -maxdepth 1 -name '*Packages*' -mtime -1 -print -quit)" ]; then
  apt-get -q update >"$state"/update.log 2>&1 || { cat "$state"/update.log >&2; exit 1; }
fi

# The dependency closure, resolved by apt against an empty installation:
# every package a plain machine of that architecture would need to install these.
closure=$(apt-get -s -q install "${packages[@]}" | sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1=\2/p' | sort)
[ -n "$closure" ] || { echo "no $arch packages resolved for ${packages[*]}" >&2; exit 1; }
if [ -f "$sysroot/.packages" ] && [ "$(cat "$sysroot/.packages")" = "$closure" ]; then
  exit 0
fi

# The file of a package version in the cache, once downloaded.
deb_of() {
  local name=${1%%=*} version=${1#*=}
  ls "$state"/cache/archives/"${name}"_"${version//:/%3a}"_*.deb 2>/dev/null
}
missing=()
for entry in $closure; do
  deb_of "$entry" >/dev/null || missing+=("$entry")
done
if [ ${#missing[@]} -gt 0 ]; then
  (cd "$state"/cache/archives && apt-get -q download "${missing[@]}" >"$state"/download.log 2>&1) ||
    { cat "$state"/download.log >&2; exit 1; }
fi
# Versions that the closure no longer names are dropped, so the cache holds
# one set of packages per architecture.
declare -A keep
for entry in $closure; do keep[$(deb_of "$entry")]=1; done
for deb in "$state"/cache/archives/*.deb; do
  [ -n "${keep[$deb]:-}" ] || rm -f "$deb"
done

rm -rf "$sysroot"
mkdir -p "$sysroot"/control
for entry in $closure; do
  name=${entry%%=*}
  deb=$(deb_of "$entry") || { echo "$entry was not downloaded into $state" >&2; exit 1; }
  dpkg-deb -x "$deb" "$sysroot"
  # The control files too: shlibs and symbols tell which package, from which
  # version, provides a shared library (the target packages' Depends).
  dpkg-deb -e "$deb" "$sysroot/control/$name"
done

# Absolute symbolic links point into the sysroot, not into this machine.
find "$sysroot" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
done

echo "$closure" >"$sysroot/.packages"
echo "$arch sysroot in $sysroot: $(echo "$closure" | wc -l) packages (downloads cached in $state)"

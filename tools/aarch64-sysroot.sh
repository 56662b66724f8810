#!/usr/bin/env bash
# Fills the arm64 sysroot of the aarch64 cross build with Debian's arm64
# packages: the JDK 17 that the JNI checks run on under qemu, the X11 client
# libraries ghostdpy's tests and xprobe link against, and the C and C++
# runtimes that qemu's loader finds there.
#
# The machine's own package state is never touched: apt runs on a private
# configuration (its own lists, cache and an empty dpkg status, arm64 as the
# only architecture) and only downloads; the packages are unpacked with
# dpkg-deb -x, never installed, and no dpkg architecture is added.
#   tools/aarch64-sysroot.sh SYSROOT_DIR
# Idempotent: the downloaded packages are kept beside the sysroot, and a
# sysroot made from the same package list is left alone.
set -euo pipefail

sysroot=$(realpath -m "$1")
state=$sysroot.apt
packages=(openjdk-17-jdk-headless libxcb1-dev libx11-dev)

# The machine's Debian mirrors and release, so that the arm64 packages come
# from where (and when) its own packages come from.
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
: >"$state"/status
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$state"/etc/sources.list <<EOF
deb [arch=arm64 signed-by=$keyring] $mirror $codename main
deb [arch=arm64 signed-by=$keyring] $mirror $codename-updates main
deb [arch=arm64 signed-by=$keyring] $security $codename-security main
EOF
cat >"$state"/apt.conf <<EOF
APT::Architecture "arm64";
APT::Architectures { "arm64"; };
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
EOF
export APT_CONFIG=$state/apt.conf

# The lists are fetched again after a day; apt itself skips what is current.
if [ -z "$(find "$state"/lists -maxdepth 1 -name '*Packages*' -mtime -1 -print -quit)" ]; then
  apt-get -q update >"$state"/update.log 2>&1 || { cat "$state"/update.log >&2; exit 1; }
fi

# The dependency closure, resolved by apt against an empty installation:
# every package a plain arm64 machine would need to install these.
closure=$(apt-get -s -q install "${packages[@]}" | sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1=\2/p' | sort)
[ -n "$closure" ] || { echo "no arm64 packages resolved for ${packages[*]}" >&2; exit 1; }
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

rm -rf "$sysroot"
mkdir -p "$sysroot"/control
for entry in $closure; do
  name=${entry%%=*}
  deb=$(deb_of "$entry")
  dpkg-deb -x "$deb" "$sysroot"
  # The control files too: shlibs and symbols tell which package, from which
  # version, provides a shared library (the arm64 packages' Depends).
  dpkg-deb -e "$deb" "$sysroot/control/$name"
done

# Absolute symbolic links point into the sysroot, not into this machine.
find "$sysroot" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
done

echo "$closure" >"$sysroot/.packages"
echo "arm64 sysroot in $sysroot: $(echo "$closure" | wc -l) packages"

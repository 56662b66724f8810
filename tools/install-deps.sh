#!/usr/bin/env bash
# Installs, as root on Debian 12 (or Ubuntu 22.04 and later), what this
# project needs from the distribution, by purpose:
#   build    the compilers, libraries and tools behind the README's two commands
#   ci       what .ci/run adds: clang for the fuzzers, the package linter,
#            python3 for the hostile-client storm
#   aarch64  the arm64 cross build and its emulator (no foreign dpkg architecture)
#   bench    the peers the benchmarks compare against
# With no group, build and ci. Packages already installed are left alone.
#   tools/install-deps.sh [GROUP...]
set -euo pipefail

packages_build=(
  g++ cmake make pkg-config git ca-certificates
  libgtest-dev libgmock-dev
  libx11-dev libxcb1-dev
  openjdk-17-jdk-headless
  dpkg-dev file gzip groff-base man-db
)
packages_ci=(clang libclang-rt-14-dev lintian python3)
packages_aarch64=(g++-aarch64-linux-gnu qemu-user googletest)
packages_bench=(xvfb libjna-java python3)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build ci)

wanted=()
for group in "${groups[@]}"; do
  case $group in
    build) wanted+=("${packages_build[@]}") ;;
    ci) wanted+=("${packages_ci[@]}") ;;
    aarch64) wanted+=("${packages_aarch64[@]}") ;;
    bench) wanted+=("${packages_bench[@]}") ;;
    *) echo "unknown group: $group (build, ci, aarch64, bench)" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f '${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# No recommends: qemu-user would otherwise bring the binfmt handlers, which
# must never be registered on a shared machine.
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

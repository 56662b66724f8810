#!/usr/bin/env bash
# Installs, as root on Debian 12 (Ubuntu 24.04 should do too; Ubuntu 22.04
# ships CMake 3.22, older than the 3.25 the presets need), what this project
# needs from the distribution, by purpose:
#   build    the compilers, libraries and tools behind the README's two commands
#   ci       what .ci/run adds: clang for the fuzzers, the package linter,
#            python3 for the hostile-client storm, ip for the static build's
#            test in a network namespace of its own, Xvfb, xvfb-run and xauth
#            for the tests that run ghostdpy beside a real X server (skipped,
#            saying so, where they are missing)
#   aarch64  the arm64 cross build and its emulator (no foreign dpkg architecture;
#            the arm64 packages come into a sysroot, tools/debian-sysroot.sh)
#   ppc64le  the same for 64-bit PowerPC little-endian (Debian's ppc64el)
#   s390x    the same for IBM Z (s390x)
#   bench    the peers the benchmarks compare against
#   clients  the real X clients of bench/ghostdpy/clients.sh (the table of
#            clients in README and the manual page)
# With no group, build and ci. Packages already installed are left alone.
#   tools/install-deps.sh [GROUP...]
# tools/prove-bare-setup.sh proves the default on a freshly debootstrapped
# Debian 12.
set -euo pipefail

# build: C, C++ and assembler, CMake and make, GoogleTest, the X client
# libraries of the tests and the demo, JDK 17 (javac, jar, libjvm for JNI);
# unshare, setpriv and mount (tests in private mount namespaces, as an
# unprivileged user); the package check needs dpkg-shlibdeps and file
# (CPack's Debian packages), gzip, man and groff (the manual page, its lint);
# Maven and the plugins of its default lifecycle up to package (resources,
# compiler, surefire, jar) and install, for the check that builds the Maven
# example against the build's own repository with nothing from the network.
packages_build=(
  gcc g++ cmake make pkg-config
  libgtest-dev
  libx11-dev libxcb1-dev
  openjdk-17-jdk-headless
  util-linux mount
  dpkg-dev file gzip groff-base man-db
  systemd strace procps
  maven libmaven-resources-plugin-java libmaven-compiler-plugin-java libsurefire-java
  libmaven-jar-plugin-java libmaven-install-plugin-java
)
# xvfb only recommends xauth, which xvfb-run needs.
packages_ci=(clang libclang-rt-14-dev lintian iproute2 python3 xvfb xauth)
packages_aarch64=(g++-aarch64-linux-gnu qemu-user googletest)
packages_ppc64le=(g++-powerpc64le-linux-gnu qemu-user googletest)
packages_s390x=(g++-s390x-linux-gnu qemu-user googletest)
packages_bench=(xvfb libjna-java python3)
packages_clients=(x11-utils python3-xlib nodejs npm openjdk-17-jdk-headless)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(build ci)

wanted=()
for group in "${groups[@]}"; do
  case $group in
    build) wanted+=("${packages_build[@]}") ;;
    ci) wanted+=("${packages_ci[@]}") ;;
    aarch64) wanted+=("${packages_aarch64[@]}") ;;
    ppc64le) wanted+=("${packages_ppc64le[@]}") ;;
    s390x) wanted+=("${packages_s390x[@]}") ;;
    bench) wanted+=("${packages_bench[@]}") ;;
    clients) wanted+=("${packages_clients[@]}") ;;
    *) echo "unknown group: $group (build, ci, aarch64, ppc64le, s390x, bench, clients)" >&2; exit 2 ;;
  esac
done

installed() {
  [ "$(dpkg-query -W -f '${db:Status-Status}' "$1" 2>/dev/null || true)" = installed ]
}

# The ci group's libclang-rt-14-dev is Debian 12's name for the sanitizer
# and fuzzer runtimes of the default clang (gcc's come with g++); clang only
# recommends them. Here they are found by their name on this distribution:
# libclang-rt-N-dev where that package exists (Debian 12: N = 14, Ubuntu
# 24.04: 18), else libclang-common-N-dev, which held them before. Empty when
# the package lists are not there yet.
clang_runtime() {
  local depends major
  depends=$(dpkg-query -W -f '${Depends}' clang 2>/dev/null ||
            apt-cache show --no-all-versions clang 2>/dev/null | sed -n 's/^Depends: //p' || true)
  major=$(grep -o 'clang-[0-9]*' <<<"$depends" | head -n 1 || true)
  major=${major#clang-}
  [ -n "$major" ] || return 0
  if apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
    echo "libclang-rt-$major-dev"
  else
    echo "libclang-common-$major-dev"
  fi
}

wants_ci=false
for group in "${groups[@]}"; do [ "$group" != ci ] || wants_ci=true; done

missing=()
for package in "${wanted[@]}"; do
  case $package in libclang-rt-*-dev) continue ;; esac  # named by clang_runtime
  # Node.js from another archive may bring npm along under its own name.
  if [ "$package" = npm ] && command -v npm >/dev/null; then continue; fi
  installed "$package" || missing+=("$package")
done
runtime=
if $wants_ci; then
  runtime=$(clang_runtime)
  if [ -n "$runtime" ] && ! installed "$runtime"; then missing+=("$runtime"); fi
fi
if [ ${#missing[@]} -eq 0 ] && { ! $wants_ci || [ -n "$runtime" ]; }; then exit 0; fi

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]:-the clang runtime}; run this script as root" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
if $wants_ci && [ -z "$runtime" ]; then
  runtime=$(clang_runtime)
  [ -n "$runtime" ] || { echo "no clang in the package lists" >&2; exit 1; }
  installed "$runtime" || missing+=("$runtime")
fi
# No recommends: qemu-user would otherwise bring the binfmt handlers, which
# must never be registered on a shared machine.
apt-get install -y -q --no-install-recommends "${missing[@]}"

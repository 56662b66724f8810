#!/usr/bin/env bash
# Makes the Debian packages of a built tree, inspects them, unpacks them into
# a throw-away root and runs what they install: ghostdpy with a real client,
# the manual page, and the jar with its library. Then installs the tree with
# DESTDIR and a prefix, moves it, and runs it again from the new place.
#   check_packages.sh BUILD_DIR XPROBE
set -euo pipefail
build=$1
xprobe=$2
here=$(cd "$(dirname "$0")" && pwd)
# Beside the build: the private /tmp of run_ghostdpy binds back only the build.
work=$(mktemp -d -p "$build" package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

# Runs a command in a mount namespace of its own whose /tmp is a fresh tmpfs,
# so the machine's /tmp/.X11-unix is neither seen nor touched. Arguments that
# are paths under /tmp stay reachable: the top directory of each under /tmp is
# bound back from the machine's /tmp, held open on descriptor 3. Without root,
# in a user namespace in which this account is root.
in_private_tmp() {
  local userns=()
  [ "$(id -u)" -eq 0 ] || userns=(--map-root-user)
  unshare "${userns[@]}" --mount -- sh -c '
    set -e
    mount --make-rprivate /
    exec 3</tmp
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /tmp
    for path in "$@"; do
      case $path in /tmp/?*) ;; *) continue ;; esac
      top=${path#/tmp/}
      top=${top%%/*}
      [ ! -e "/tmp/$top" ] || continue
      if [ -d "/proc/self/fd/3/$top" ]; then mkdir "/tmp/$top"; else : >"/tmp/$top"; fi
      # Not canonicalised: that would resolve the source into the new /tmp.
      mount --no-canonicalize --rbind "/proc/self/fd/3/$top" "/tmp/$top"
    done
    exec 3<&-
    exec "$@"' sh "$@"
}

# Runs ghostdpy from a root with xprobe as its program, in a private /tmp,
# and checks the report.
run_ghostdpy() {
  local ghostdpy
  ghostdpy=$(realpath "$1")
  if ! in_private_tmp true 2>"$work/err"; then
    echo "skipped running $ghostdpy: no private /tmp: $(cat "$work/err")"
    return 0
  fi
  in_private_tmp "$ghostdpy" :7 "$(realpath "$xprobe")" >"$work/out" 2>"$work/err" ||
    fail "$ghostdpy exited with $?: $(cat "$work/err")"
  grep -qx 'Server listening on /tmp/.X11-unix/X7' "$work/out" || fail "no listening line from $ghostdpy"
  grep -qx 'Program successfully executed.' "$work/out" || fail "xprobe did not succeed under $ghostdpy"
  grep -q '390 visuals' "$work/out" || fail "xprobe saw the wrong screen"
}

run_java_check() {
  local jar=$1
  java -cp "$jar" "$here/InstalledFarcallCheck.java" >"$work/java.out" 2>&1 || fail "jar $jar: $(cat "$work/java.out")"
  grep -q '^installed Farcall works' "$work/java.out" || fail "jar $jar: $(cat "$work/java.out")"
}

# The packages.
(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail cpack; }
ghostdpy_deb=$(ls "$work"/debs/ghostdpy_*.deb)
farcall_deb=$(ls "$work"/debs/libfarcall-java_*.deb)

dpkg-deb --field "$ghostdpy_deb" Package Depends Section Description | tee "$work/ghostdpy.info"
grep -q '^Package: ghostdpy$' "$work/ghostdpy.info" || fail "ghostdpy package name"
grep -q '^Depends:.*libc6' "$work/ghostdpy.info" || fail "ghostdpy depends on no C library"
dpkg-deb --field "$farcall_deb" Package Depends Recommends | tee "$work/farcall.info"
grep -q '^Depends:.*libc6' "$work/farcall.info" || fail "libfarcall-java depends on no C library"

dpkg-deb --contents "$ghostdpy_deb" >"$work/ghostdpy.contents"
dpkg-deb --contents "$farcall_deb" >"$work/farcall.contents"
for path in ./usr/bin/ghostdpy ./usr/share/man/man1/ghostdpy.1.gz ./usr/lib/systemd/system/ghostdpy@.service \
            ./usr/share/doc/ghostdpy/copyright; do
  grep -q " $path\$" "$work/ghostdpy.contents" || fail "ghostdpy package lacks $path"
done
for path in ./usr/lib/libFarcall.so ./usr/share/java/farcall.jar ./usr/share/doc/libfarcall-java/copyright; do
  grep -q " $path\$" "$work/farcall.contents" || fail "libfarcall-java package lacks $path"
done
if command -v lintian >/dev/null; then
  lintian --no-tag-display-limit "$ghostdpy_deb" "$farcall_deb" || true
fi

dpkg -x "$ghostdpy_deb" "$work/root"
dpkg -x "$farcall_deb" "$work/root"
run_ghostdpy "$work/root/usr/bin/ghostdpy"
man -l "$work/root/usr/share/man/man1/ghostdpy.1.gz" 2>/dev/null | grep -q 'stub X11 display server' || fail "manual page"
grep -q '^ExecStart=/usr/bin/ghostdpy :%i$' "$work/root/usr/lib/systemd/system/ghostdpy@.service" || fail "unit"
grep -q '^KillSignal=SIGINT$' "$work/root/usr/lib/systemd/system/ghostdpy@.service" || fail "unit stop signal"
run_java_check "$work/root/usr/share/java/farcall.jar"

# cmake --install with a prefix and DESTDIR, then the tree moved elsewhere.
DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/ghostdpy >"$work/install.log"
mv "$work/stage/opt/ghostdpy" "$work/moved"
run_ghostdpy "$work/moved/bin/ghostdpy"
run_java_check "$work/moved/share/java/farcall.jar"
# Text files only: debugging information in the binaries may name the sources.
if grep -rIqs -- "$build" "$work/moved"; then fail "the installed tree names the build directory"; fi
echo "packages and installed trees work"

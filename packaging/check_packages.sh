#!/usr/bin/env bash
# Makes the Debian packages of a built tree, inspects them (fields, contents,
# lintian), unpacks them into a throw-away root and runs what they install:
# ghostdpy with a real client, the manual page, and the jar with its library,
# found both through the jar's place and through java.library.path. Then
# installs the tree with DESTDIR and a prefix, moves it, and runs it again
# from the new place.
# With --contents-only (a cross build, whose programs cannot run here), only
# the packages' fields, architecture, contents and lintian's verdict count.
#   check_packages.sh BUILD_DIR XPROBE
#   check_packages.sh --contents-only ARCHITECTURE BUILD_DIR
set -euo pipefail
if [ "$1" = --contents-only ]; then
  architecture=$2
  build=$3
  xprobe=
else
  architecture=$(dpkg --print-architecture)
  build=$1
  xprobe=$2
fi
here=$(cd "$(dirname "$0")" && pwd)
# Beside the build: the private /tmp of run_ghostdpy binds back only the build.
work=$(mktemp -d -p "$build" package-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAILED: $*" >&2; exit 1; }

# Runs a command in a mount namespace of its own whose /tmp is a fresh tmpfs,
# so the machine's /tmp/.X11-unix and lock files are neither seen nor
# touched, and in a network namespace of its own, where the abstract socket
# names of X displays are this command's alone. Arguments that
# are paths under /tmp stay reachable: the top directory of each under /tmp is
# bound back from the machine's /tmp, held open on descriptor 3. Without root,
# in a user namespace in which this account is root.
in_private_tmp() {
  local userns=()
  [ "$(id -u)" -eq 0 ] || userns=(--map-root-user)
  unshare "${userns[@]}" --mount --net -- sh -c '
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

# Runs the installed jar's check, loading libFarcall the given way
# (installed, the default, or library-path), with the java options that follow.
run_java_check() {
  local jar=$1 how=${2:-installed}
  shift $(($# < 2 ? $# : 2))
  java "$@" -cp "$jar" "$here/InstalledFarcallCheck.java" "$how" >"$work/java.out" 2>&1 ||
    fail "jar $jar ($how): $(cat "$work/java.out")"
  grep -q "^installed Farcall works ($how)" "$work/java.out" || fail "jar $jar ($how): $(cat "$work/java.out")"
}

# loadFromLibraryPath from the package's JNI directory, where the runtime's
# own default java.library.path looks: as root, that directory of the
# unpacked root is mounted over the machine's in a private mount namespace.
run_java_library_path_check() {
  local jar=$1 jnidir=$2
  java -XshowSettings:properties -version 2>&1 | grep -q "^ *$jnidir\$" ||
    fail "$jnidir is not on the Java runtime's default java.library.path"
  if [ "$(id -u)" -ne 0 ] || [ ! -d "$jnidir" ]; then
    echo "loadFromLibraryPath with -Djava.library.path (mounting over $jnidir needs root and the directory)"
    run_java_check "$jar" library-path "-Djava.library.path=$work/root$jnidir"
    return 0
  fi
  unshare -m sh -c 'mount --make-rprivate / && mount --bind "$0" "$1" && shift && exec "$@"' \
    "$work/root$jnidir" "$jnidir" java -cp "$jar" "$here/InstalledFarcallCheck.java" library-path \
    >"$work/java.out" 2>&1 || fail "loadFromLibraryPath: $(cat "$work/java.out")"
  grep -q '^installed Farcall works (library-path)' "$work/java.out" || fail "loadFromLibraryPath: $(cat "$work/java.out")"
}

# lintian, pedantic and with the informational tags, must report no error and
# no warning. Without lintian, root installs it; anyone else skips this step.
run_lintian() {
  if ! command -v lintian >/dev/null && [ "$(id -u)" -eq 0 ]; then
    flock /tmp/apt.lock "$here/../tools/install-deps.sh" ci >"$work/install-deps.log" 2>&1 ||
      fail "installing lintian: $(cat "$work/install-deps.log")"
  fi
  if ! command -v lintian >/dev/null; then
    echo "skipped lintian: it is not installed, and installing it needs root"
    return 0
  fi
  # Its own temporary files go with the work folder (it leaves some behind).
  TMPDIR=$work lintian -I --pedantic --fail-on none "$@" >"$work/lintian.out" 2>&1 || fail "lintian: $(cat "$work/lintian.out")"
  grep -v '^running with root privileges' "$work/lintian.out" || true
  if grep -q '^[EW]: ' "$work/lintian.out"; then fail "lintian reports errors or warnings"; fi
}

# The packages.
(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail cpack; }
ghostdpy_deb=$(ls "$work"/debs/ghostdpy_*.deb)
farcall_deb=$(ls "$work"/debs/libfarcall-java_*.deb)

for deb in "$ghostdpy_deb" "$farcall_deb"; do
  [ "$(dpkg-deb --field "$deb" Architecture)" = "$architecture" ] || fail "$deb is not for $architecture"
done
dpkg-deb --field "$ghostdpy_deb" Package Version Depends Section Description | tee "$work/ghostdpy.info"
grep -q '^Package: ghostdpy$' "$work/ghostdpy.info" || fail "ghostdpy package name"
grep -q '^Depends:.*libc6' "$work/ghostdpy.info" || fail "ghostdpy depends on no C library"
dpkg-deb --field "$farcall_deb" Package Version Architecture Depends Recommends | tee "$work/farcall.info"
grep -q '^Depends:.*libc6' "$work/farcall.info" || fail "libfarcall-java depends on no C library"
version=$(dpkg-deb --field "$farcall_deb" Version)
upstream_version=${version%-*}
multiarch=$(dpkg-architecture -a "$(dpkg-deb --field "$farcall_deb" Architecture)" -qDEB_HOST_MULTIARCH 2>/dev/null) ||
  fail "no multiarch triplet for the package's architecture"
jnidir=/usr/lib/$multiarch/jni

dpkg-deb --contents "$ghostdpy_deb" >"$work/ghostdpy.contents"
dpkg-deb --contents "$farcall_deb" >"$work/farcall.contents"
for path in ./usr/bin/ghostdpy ./usr/share/man/man1/ghostdpy.1.gz ./usr/lib/systemd/system/ghostdpy@.service \
            ./usr/lib/sysusers.d/ghostdpy.conf ./usr/share/ghostdpy/x11-unix.conf \
            ./usr/share/doc/ghostdpy/copyright ./usr/share/doc/ghostdpy/changelog.Debian.gz; do
  grep -q " $path\$" "$work/ghostdpy.contents" || fail "ghostdpy package lacks $path"
done
for path in ".$jnidir/libFarcall.so" "./usr/share/java/farcall-$upstream_version.jar" \
            "./usr/share/java/farcall.jar -> farcall-$upstream_version.jar" \
            ./usr/share/doc/libfarcall-java/copyright ./usr/share/doc/libfarcall-java/changelog.Debian.gz \
            ./usr/share/doc/libfarcall-java/api/index.html ./usr/share/doc-base/libfarcall-java; do
  grep -qF " $path" "$work/farcall.contents" || fail "libfarcall-java package lacks $path"
done
run_lintian "$ghostdpy_deb" "$farcall_deb"
if [ -z "$xprobe" ]; then
  echo "$architecture packages: fields, contents and lintian as expected"
  exit 0
fi

dpkg -x "$ghostdpy_deb" "$work/root"
dpkg -x "$farcall_deb" "$work/root"
for package in ghostdpy libfarcall-java; do
  zcat "$work/root/usr/share/doc/$package/changelog.Debian.gz" | head -1 | grep -qF "($version)" ||
    fail "the changelog of $package does not start with version $version"
done
# Loaded by the virtual machine only: no soname, so no ldconfig either.
if readelf -d "$work/root$jnidir/libFarcall.so" | grep -q SONAME; then fail "libFarcall.so has a soname"; fi
(mkdir "$work/jar" && cd "$work/jar" && jar --extract --file "$work/root/usr/share/java/farcall.jar" META-INF/MANIFEST.MF)
tr -d '\r' <"$work/jar/META-INF/MANIFEST.MF" >"$work/manifest"
grep -qx 'Automatic-Module-Name: com.tamsor.cobol.rununit' "$work/manifest" || fail "jar manifest: no module name"
grep -qx "Implementation-Version: $upstream_version" "$work/manifest" || fail "jar manifest: no version"
run_ghostdpy "$work/root/usr/bin/ghostdpy"
man -l "$work/root/usr/share/man/man1/ghostdpy.1.gz" 2>/dev/null | grep -q 'stub X11 display server' || fail "manual page"
grep -q '^ExecStart=/usr/bin/ghostdpy :%i$' "$work/root/usr/lib/systemd/system/ghostdpy@.service" || fail "unit"
grep -q '^KillSignal=SIGINT$' "$work/root/usr/lib/systemd/system/ghostdpy@.service" || fail "unit stop signal"
grep -q '^ExecStartPre=+/usr/bin/systemd-tmpfiles --create /usr/share/ghostdpy/x11-unix.conf$' \
  "$work/root/usr/lib/systemd/system/ghostdpy@.service" || fail "unit socket directory rule"
grep -q '^User=ghostdpy$' "$work/root/usr/lib/systemd/system/ghostdpy@.service" || fail "unit account"
dpkg-deb --ctrl-tarfile "$ghostdpy_deb" | tar -tv >"$work/ghostdpy.control"
grep -q '^-rwxr-xr-x .* \./postinst$' "$work/ghostdpy.control" || fail "ghostdpy package makes no account"
run_java_check "$work/root/usr/share/java/farcall.jar"
run_java_library_path_check "$work/root/usr/share/java/farcall.jar" "$jnidir"

# cmake --install with a prefix and DESTDIR, then the tree moved elsewhere.
DESTDIR="$work/stage" cmake --install "$build" --prefix /opt/ghostdpy >"$work/install.log"
mv "$work/stage/opt/ghostdpy" "$work/moved"
run_ghostdpy "$work/moved/bin/ghostdpy"
run_java_check "$work/moved/share/java/farcall.jar"
# Text files only: debugging information in the binaries may name the sources.
if grep -rIqs -- "$build" "$work/moved"; then fail "the installed tree names the build directory"; fi
echo "packages and installed trees work"

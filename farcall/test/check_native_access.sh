#!/usr/bin/env bash
# The restricted-method warning of JDK 24 and later: printed when the jar
# loads libFarcall without a grant of native access (so that its absence
# below means something), and not printed, nor anything else on standard
# error, with each of the three grants: the command-line option for the
# class path, the same option naming the module for the module path, and
# the main manifest's attribute for an executable jar.
#   check_native_access.sh WORK JAVA JAR_TOOL FARCALL_JAR CHECKS_JAR
set -euo pipefail
work=$1 java=$2 jar_tool=$3 farcall_jar=$4 checks_jar=$5
rm -rf "$work"
mkdir -p "$work/app"

fail() { echo "FAILED: $*" >&2; exit 1; }

# Runs the jar-only check with the given java options; its standard error
# is left in $work/err.
run() {
  local what=$1
  shift
  "$java" -XX:-UsePerfData "$@" >"$work/out" 2>"$work/err" || fail "$what: $(cat "$work/out" "$work/err")"
  grep -qx 'FarcallJarLoadCheck: 2 checks, 0 failed' "$work/out" || fail "$what: $(cat "$work/out")"
}

run "no grant" -cp "$farcall_jar:$checks_jar" FarcallJarLoadCheck
grep -qx 'WARNING: A restricted method in java.lang.System has been called' "$work/err" &&
  grep -q 'java.lang.System::load has been called by com.tamsor.cobol.rununit.Farcall' "$work/err" ||
  fail "no restricted-method warning without a grant: $(cat "$work/err")"
echo "without a grant: $(grep -c "^WARNING: " "$work/err") lines of warning"

run "class path" --enable-native-access=ALL-UNNAMED -cp "$farcall_jar:$checks_jar" FarcallJarLoadCheck
[ ! -s "$work/err" ] || fail "--enable-native-access=ALL-UNNAMED: $(cat "$work/err")"

run "module path" --module-path "$farcall_jar" --add-modules com.tamsor.cobol.rununit \
  --enable-native-access=com.tamsor.cobol.rununit -cp "$checks_jar" FarcallJarLoadCheck
[ ! -s "$work/err" ] || fail "--enable-native-access=com.tamsor.cobol.rununit: $(cat "$work/err")"

# An executable jar whose Class-Path holds the two jars beside it.
cp "$farcall_jar" "$work/app/farcall.jar"
cp "$checks_jar" "$work/app/checks.jar"
printf '%s\n' 'Main-Class: FarcallJarLoadCheck' 'Class-Path: farcall.jar checks.jar' \
  'Enable-Native-Access: ALL-UNNAMED' >"$work/manifest"
mkdir "$work/empty"
"$jar_tool" --create --file "$work/app/app.jar" --manifest "$work/manifest" -C "$work/empty" .
run "executable jar" -jar "$work/app/app.jar"
[ ! -s "$work/err" ] || fail "Enable-Native-Access: ALL-UNNAMED: $(cat "$work/err")"
echo "no warning with --enable-native-access=ALL-UNNAMED, with --enable-native-access=com.tamsor.cobol.rununit on the module path, nor with Enable-Native-Access: ALL-UNNAMED in an executable jar"

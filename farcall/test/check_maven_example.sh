#!/usr/bin/env bash
# The build's Maven repository as Maven sees it: checks its files (the
# checksums beside each, the sources and javadoc jars, the POM's licence
# against the Debian copyright file), then builds the example project of
# farcall/examples/maven with a plain `mvn package` and runs it. Nothing
# comes from the network: the local repository is made of the Maven plugins
# of Debian's packages (/usr/share/maven-repo), and a mirror that leads
# nowhere stands for every remote repository but the build's own, so that
# anything missing fails at once by name.
#   check_maven_example.sh WORK MVN JAVA JAR_TOOL REPOSITORY EXAMPLE FARCALL_JAR COPYRIGHT VERSION
set -euo pipefail
work=$(realpath -m "$1") mvn=$2 java=$3 jar_tool=$4 repository=$5 example=$6 farcall_jar=$7 copyright=$8 version=$9
debian_repository=/usr/share/maven-repo
rm -rf "$work"
mkdir -p "$work/nowhere"

fail() { echo "FAILED: $*" >&2; exit 1; }

# The repository's files, each with the checksums Maven 3.8 verifies.
artifact=$repository/com/tamsor/cobol/farcall
base=$artifact/$version/farcall-$version
for file in "$base.jar" "$base.pom" "$base-sources.jar" "$base-javadoc.jar" "$artifact/maven-metadata.xml"; do
  [ -f "$file" ] || fail "the repository lacks $file"
  [ "$(cat "$file.md5")" = "$(md5sum <"$file" | cut -d' ' -f1)" ] || fail "wrong $file.md5"
  [ "$(cat "$file.sha1")" = "$(sha1sum <"$file" | cut -d' ' -f1)" ] || fail "wrong $file.sha1"
done
cmp -s "$base.jar" "$farcall_jar" || fail "the repository's jar is not the build's $farcall_jar"
"$jar_tool" --list --file "$base-sources.jar" | grep -qx 'com/tamsor/cobol/rununit/Farcall.java' || fail "no Farcall.java in the sources jar"
"$jar_tool" --list --file "$base-javadoc.jar" | grep -qx 'com/tamsor/cobol/rununit/Farcall.html' || fail "no Farcall.html in the javadoc jar"
licence=$(sed -n 's/^License: //p' "$copyright" | head -n 1)
grep -qF "<name>$licence</name>" "$base.pom" || fail "the POM's licence is not the copyright file's $licence"
sed -n '/^License: /,/^[^ ]/{/^ [^.]/p}' "$copyright" | sed 's/^ *//' | while read -r line; do
  grep -qF "$line" "$base.pom" || fail "the POM's licence lacks: $line"
done

# A plain `mvn package` in a copy of the example, outside the source tree.
cp -r "$example" "$work/project"
cp -rs "$debian_repository/." "$work/local-repository"
cat >"$work/settings.xml" <<SETTINGS
<settings>
  <mirrors>
    <mirror>
      <id>no-network</id>
      <mirrorOf>*,!farcall</mirrorOf>
      <url>file://$work/nowhere</url>
    </mirror>
  </mirrors>
</settings>
SETTINGS
(cd "$work/project" && "$mvn" --batch-mode --no-transfer-progress --settings "$work/settings.xml" \
  "-Dmaven.repo.local=$work/local-repository" "-Dfarcall.repository=file://$repository" package) \
  >"$work/maven.log" 2>&1 || fail "mvn package: $(cat "$work/maven.log")"
grep -q 'BUILD SUCCESS' "$work/maven.log" || fail "mvn package: $(cat "$work/maven.log")"
resolved=$work/local-repository/com/tamsor/cobol/farcall/$version/farcall-$version.jar
cmp -s "$resolved" "$farcall_jar" || fail "Maven did not take the build's jar: $resolved"

# The program, with the jar Maven resolved beside it.
"$java" -cp "$work/project/target/farcall-example-1.0.jar:$resolved" example.LibcHello >"$work/run.out" 2>&1 ||
  fail "the example: $(cat "$work/run.out")"
grep -qx "libc's getuid says $(id -u)" "$work/run.out" || fail "the example: $(cat "$work/run.out")"
echo "mvn package resolved com.tamsor.cobol:farcall:$version from $repository; the example says: $(cat "$work/run.out")"

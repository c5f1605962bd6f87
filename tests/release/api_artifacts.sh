#!/bin/bash
# What a Java team takes from a release, from the build as packaging installs
# it (the archives hold the same files): every jar's manifest carries the
# project's version; the API's Javadoc passes javadoc -Xdoclint:all without a
# warning; the folder maven/ is a Maven repository holding exactly the jar,
# the POM, the sources and Javadoc jars under the API's coordinates, and the
# library's jar of this platform's classifier with its POM under jqel-native,
# each with .md5 and .sha1 files that match; and Debian's Maven, with no
# network and checksums checked, resolves all of it from that folder and
# compiles a small consumer against it (tests/release/consumer), failing on a
# checksum that does not match.
# usage: api_artifacts.sh <scratch> <build-dir> <version> <javadoc> <java sources...>
set -uo pipefail
work=$1 build=$2 version=$3 javadoc=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../lib.sh
source "$here/../lib.sh"

rm -rf "$work" && mkdir -p "$work"
install=$work/install
cmake --install "$build" --prefix "$install" >/dev/null || { fail "cmake --install"; exit 1; }

# The manifests' main attributes.
manifest() {
  python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).read("META-INF/MANIFEST.MF").decode().replace("\r", ""), end="")' "$1"
}
native=com/brenn/varnis/tq/api/jqel-native/$version/jqel-native-$version
for jar in jqel-api.jar jqel-doctor.jar maven/com/brenn/varnis/tq/api/jqel-api/$version/jqel-api-$version-sources.jar \
           maven/com/brenn/varnis/tq/api/jqel-api/$version/jqel-api-$version-javadoc.jar "maven/$native-linux-x86_64.jar"; do
  m=$(manifest "$install/$jar")
  wanted=("Implementation-Version: $version" "Implementation-Vendor: .+" "Implementation-Title: .+")
  [ "$jar" = jqel-api.jar ] && wanted+=("Automatic-Module-Name: com.brenn.varnis.tq.api.jqel")
  missing=()
  for line in "${wanted[@]}"; do grep -qxE -- "$line" <<<"$m" || missing+=("$line"); done
  if [ ${#missing[@]} -eq 0 ]; then ok "$(basename "$jar")'s manifest: version $version"; else fail "$jar's manifest lacks: ${missing[*]}"; printf '     %s\n' "$m"; fi
done

if out=$("$javadoc" --release 8 -Xdoclint:all -quiet -notimestamp -d "$work/javadoc" "$@" 2>&1) && [ -z "$out" ]; then ok "javadoc -Xdoclint:all: no warning"; else fail "javadoc -Xdoclint:all:"; printf '     %s\n' "$out"; fi

# The repository layout, exactly.
dir=com/brenn/varnis/tq/api/jqel-api/$version
base=$dir/jqel-api-$version
files=("$base.jar" "$base.pom" "$base-sources.jar" "$base-javadoc.jar" "$native.pom" "$native-linux-x86_64.jar")
expected=$(for f in "${files[@]}"; do printf '%s\n' "$f" "$f.md5" "$f.sha1"; done | LC_ALL=C sort)
actual=$(cd "$install/maven" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" = "$expected" ]; then ok "maven/ holds $(wc -l <<<"$actual") files under $dir and jqel-native"; else fail "maven/ holds:"; mapfile -t names <<<"$actual"; printf '     %s\n' "${names[@]}"; fi
for f in "${files[@]}"; do
  [ -f "$install/maven/$f" ] || continue
  for sum in md5 sha1; do
    if [ "$(cat "$install/maven/$f.$sum")" = "$(${sum}sum <"$install/maven/$f" | cut -d' ' -f1)" ]; then :; else fail "$f.$sum does not match"; fi
  done
done
if cmp -s "$install/jqel-api.jar" "$install/maven/$base.jar"; then ok "the repository's jar is jqel-api.jar"; else fail "the repository's jar differs from jqel-api.jar"; fi
entries() { python3 -c 'import sys, zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.startswith("META-INF/"))))' "$1"; }
if [ "$(entries "$install/maven/$base-sources.jar")" = "$(for s in "$@"; do echo "com/${s#*/com/}"; done | LC_ALL=C sort)" ]; then
  ok "the sources jar holds the sources"; else fail "the sources jar holds: $(entries "$install/maven/$base-sources.jar")"; fi
pages=$(entries "$install/maven/$base-javadoc.jar" |
        grep -cxE 'com/brenn/varnis/tq/api/jqel/JQel(Agent|AgentMessage|Exception|Library|Message|MonValue)\.html|index\.html')
if [ "$pages" = 7 ]; then ok "the Javadoc jar holds the public classes' pages"; else fail "the Javadoc jar holds $pages of the seven pages"; fi
pom=$(python3 - "$install/maven/$base.pom" <<'PY'
import sys, xml.etree.ElementTree as ET
ns = {"m": "http://maven.apache.org/POM/4.0.0"}
p = ET.parse(sys.argv[1]).getroot()
print(*(p.findtext("m:" + k, namespaces=ns) for k in ("groupId", "artifactId", "version", "packaging")),
      len(p.findall("m:dependencies", ns)))
PY
)
if [ "$pom" = "com.brenn.varnis.tq.api jqel-api $version jar 0" ]; then ok "the POM: $pom"; else fail "the POM: $pom"; fi

# Debian's Maven with its packaged plugins, the newest of each, and no network.
plugin() {
  printf '%s\n' /usr/share/maven-repo/org/apache/maven/plugins/maven-"$1"-plugin/* | sed 's|.*/||' |
    grep -E '^[0-9.]+$' | sort -V | tail -n 1
}
consumer=$work/consumer
cp -r "$here/consumer" "$consumer"
sed -i -e "s|@REPOSITORY@|file://$install/maven|" -e "s|@VERSION@|$version|g" \
  -e "s|@COMPILER@|$(plugin compiler)|" -e "s|@RESOURCES@|$(plugin resources)|" "$consumer/pom.xml"
cat >"$work/settings.xml" <<XML
<settings>
  <localRepository>$work/m2</localRepository>
  <mirrors>
    <mirror><id>debian</id><mirrorOf>central</mirrorOf><url>file:///usr/share/maven-repo</url></mirror>
  </mirrors>
</settings>
XML
if (cd "$consumer" && mvn -B -q -s "$work/settings.xml" compile) >"$work/mvn.log" 2>&1 &&
   [ -f "$consumer/target/classes/com/example/Consumer.class" ] &&
   [ -f "$work/m2/$base-javadoc.jar" ] && [ -f "$work/m2/$base-sources.jar" ] &&
   cmp -s "$work/m2/$native-linux-x86_64.jar" "$install/maven/$native-linux-x86_64.jar"; then
  ok "Maven resolved the jar, its sources and Javadoc and the library's jar from maven/ and compiled a consumer"
else
  fail "Maven did not resolve maven/ and compile the consumer:"; sed 's/^/     /' "$work/mvn.log" | head -n 40
fi

# The guide's install:install-file commands (Debian's maven-install-plugin),
# into a local repository of their own, from which alone the consumer then
# resolves everything it asks for: its repository is an empty folder.
cat >"$work/settings-local.xml" <<XML
<settings>
  <localRepository>$work/m2-local</localRepository>
  <mirrors>
    <mirror><id>debian</id><mirrorOf>central</mirrorOf><url>file:///usr/share/maven-repo</url></mirror>
  </mirrors>
</settings>
XML
mkdir -p "$work/empty"
local_consumer=$work/consumer-local
cp -r "$here/consumer" "$local_consumer"
sed -i -e "s|@REPOSITORY@|file://$work/empty|" -e "s|@VERSION@|$version|g" \
  -e "s|@COMPILER@|$(plugin compiler)|" -e "s|@RESOURCES@|$(plugin resources)|" "$local_consumer/pom.xml"
m=$install/maven
if (mvn -B -q -s "$work/settings-local.xml" install:install-file -Dfile="$m/$base.jar" -DpomFile="$m/$base.pom" \
      -Dsources="$m/$base-sources.jar" -Djavadoc="$m/$base-javadoc.jar" &&
    mvn -B -q -s "$work/settings-local.xml" install:install-file -Dfile="$m/$native-linux-x86_64.jar" \
      -DpomFile="$m/$native.pom" -Dclassifier=linux-x86_64 &&
    cd "$local_consumer" && mvn -B -q -s "$work/settings-local.xml" compile) >"$work/mvn-local.log" 2>&1 &&
   [ -f "$local_consumer/target/classes/com/example/Consumer.class" ]; then
  ok "Maven installed the jars with install:install-file and compiled the consumer from the local repository"
else
  fail "install:install-file, or the consumer from the local repository:"; sed 's/^/     /' "$work/mvn-local.log" | head -n 40
fi

# Debian's Gradle, offline, where it is installed.
if ! command -v gradle >/dev/null; then
  echo "skip the Gradle consumer: Debian's gradle is not installed"
  exit "$status"
fi
gradle_consumer=$work/gradle
cp -r "$here/consumer" "$gradle_consumer"
sed -i -e "s|@REPOSITORY@|file://$install/maven|" -e "s|@VERSION@|$version|g" "$gradle_consumer/build.gradle"
if (cd "$gradle_consumer" && GRADLE_USER_HOME=$work/gradle-home gradle --offline -q compileJava idea runtimeJars) \
     >"$work/gradle.log" 2>&1 &&
   [ -f "$gradle_consumer/build/classes/java/main/com/example/Consumer.class" ] &&
   [ "$(sed -n 's/^runtime: //p' "$work/gradle.log" | LC_ALL=C sort | tr '\n' ' ')" = \
     "jqel-api-$version.jar jqel-native-$version-linux-x86_64.jar " ] &&
   grep -q "jqel-api-$version-sources.jar" "$gradle_consumer"/*.iml && grep -q "jqel-api-$version-javadoc.jar" "$gradle_consumer"/*.iml; then
  ok "Gradle $(gradle --version 2>/dev/null | sed -n 's/^Gradle //p') compiled the consumer, put the library's jar on its run-time class path, and gave the IDE the sources and Javadoc"
else
  fail "Gradle did not build the consumer:"; sed 's/^/     /' "$work/gradle.log" | head -n 40
fi
exit "$status"

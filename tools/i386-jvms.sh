#!/bin/bash
# The JVMs that the tests run besides the machine's own 64-bit Java 17, as
# Debian builds them, each in a private root folder of its suite:
#   - 32-bit HotSpot 8, 11, 17 and 21 for i386, run under qemu-i386 (the
#     kernel runs no 32-bit program itself);
#   - 64-bit HotSpot 8, 11, 21 and 25 for amd64: 8, 21 and 25 run by their
#     root's own dynamic loader, on the C library they were built for
#     (bookworm's is older than that of trixie and sid, whose programs cannot
#     run on it); bullseye's 11 directly, on the machine's.
# Nothing is installed: apt runs on a configuration of its own (its own
# sources, lists, cache and an empty dpkg status), resolves the JDK package
# and what it depends on by name, checks the suite's Release file against
# Debian's archive keyring and downloads the packages, which dpkg-deb then
# unpacks into the root. The machine's dpkg and apt state are not touched, and
# no i386 architecture is added to it.
#
# The mirror is the machine's own: the address its apt sources give for its
# Debian release (deb822 .sources files or sources.list alike), or
# $JQEL_DEBIAN_MIRROR if set.
#
# The emulator comes the same way: qemu-i386 from Debian trixie's qemu-user
# (10.0), a static program, of which only that one file is kept. Bookworm's
# (7.2) gives a thread, when a signal handler returns, the thread pointer of
# the thread created last, since it keeps one descriptor table for all
# threads: every fault a JVM handles in any other thread (an implicit null
# check, a safepoint poll) then runs that thread on another's Thread* and
# JNIEnv ("Using JNIEnv in the wrong thread", or a crash).
#
# A JVM is named by its Java release, for i386 (8, 11, 17, 21), or with
# "amd64:" before it for amd64 (amd64:8, amd64:11, amd64:21, amd64:25).
#
#   bash tools/i386-jvms.sh <jvm>...          fetch the roots these JDKs need, and
#                                             the emulator if an i386 one is among
#                                             them (once; a second run downloads
#                                             nothing)
#   bash tools/i386-jvms.sh --qemu            fetch the emulator if need be, and
#                                             print where it is
#   bash tools/i386-jvms.sh --command <jvm>   print the command line that starts
#                                             its java, a word a line (fetches nothing)
#   bash tools/i386-jvms.sh --cmake           print, for CMake, where the emulator
#                                             is and each JVM's command line
#   bash tools/i386-jvms.sh --mirror          print the mirror it would use
#   bash tools/i386-jvms.sh --cache           print the cache folder
#
# <java> below is <home>/bin/java, or for Java 8 <home>/jre/bin/java.
# An i386 JVM runs as: <emulator> -L <root> <java> ...
# Without -L (and the root's merged-/usr links and empty loader cache) it
# would take the host's i386 C library, if any, and fail.
# An amd64 JVM (but bullseye's 11, run as <java>) runs as:
# <java's folder>/ld-linux-x86-64.so.2 --inhibit-cache
# --library-path <root's library folders> <java> ...
# That is a copy of the root's own dynamic loader, which then loads java and
# its libraries, not the kernel, so the JVM and what it loads run on the
# root's C library; nothing is set in the environment for the programs it
# starts, and the machine's own programs run as before.
#
# Cache: $JQEL_I386_CACHE, default ${XDG_CACHE_HOME:-~/.cache}/jqel/i386-jvms.
# When a JDK cannot be had, it prints one line naming the package and the
# suite and exits with status 1.
set -euo pipefail

cache=${JQEL_I386_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jqel/i386-jvms}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

# The suite that holds each JDK. Those for i386 come from a suite whose C and
# C++ libraries are at least bookworm's, so that the i386 libraries built
# here load into them: 8 and 11 from unstable, 17 from bookworm itself, 21
# from trixie. For amd64, 8 is only in unstable, 11 only in bullseye, 21 and
# 25 are in trixie.
suite_of() {
  case $1 in
    8|11|amd64:8) echo sid ;;
    17) echo bookworm ;;
    21|amd64:21|amd64:25) echo trixie ;;
    amd64:11) echo bullseye ;;
    *) echo "i386-jvms.sh: no suite known for the JVM $1 (8, 11, 17, 21, amd64:8, amd64:11, amd64:21 or amd64:25)" >&2; exit 2 ;;
  esac
}
arch_of() { case $1 in amd64:*) echo amd64 ;; *) echo i386 ;; esac; }
feature_of() { echo "${1#amd64:}"; }
# The runtime alone: the tests compile nothing with these JVMs (Java 25's JDK
# would add 190 MB to the download).
package_of() { echo "openjdk-$(feature_of "$1")-jre-headless"; }
# The i386 roots are named by their suite alone, as before there were amd64 ones.
dir_of() {
  if [ "$(arch_of "$1")" = amd64 ]; then echo "$cache/$(suite_of "$1")-amd64"; else echo "$cache/$(suite_of "$1")"; fi
}
root_of() { echo "$(dir_of "$1")/root"; }
qemu_suite=trixie
qemu_of() { echo "$cache/qemu/qemu-i386"; }
home_of() { echo "$(root_of "$1")/usr/lib/jvm/java-$(feature_of "$1")-openjdk-$(arch_of "$1")"; }
# Java 8's runtime keeps its programs in the JDK's jre folder.
java_of() {
  if [ "$(feature_of "$1")" = 8 ]; then echo "$(home_of "$1")/jre/bin/java"; else echo "$(home_of "$1")/bin/java"; fi
}

# True for the amd64 JVMs that run on the machine's own C library, as any
# program of the machine: bullseye's, whose C library is older than
# bookworm's. Its own (2.31) would not do for the tests: the stand-in agent
# built here calls mallinfo2, new in 2.33 (the library itself needs 2.2.5).
runs_directly() { [ "$1" = amd64:11 ]; }

# The command line that starts the JVM, a word a line.
command_of() {
  local root
  suite_of "$1" >/dev/null
  root=$(root_of "$1")
  if runs_directly "$1"; then
    java_of "$1"
  elif [ "$(arch_of "$1")" = amd64 ]; then
    printf '%s\n' "$(dirname "$(java_of "$1")")/ld-linux-x86-64.so.2" --inhibit-cache \
      --library-path "$root/usr/lib/x86_64-linux-gnu:$root/usr/lib" "$(java_of "$1")"
  else
    printf '%s\n' "$(qemu_of)" -L "$root" "$(java_of "$1")"
  fi
}

# The mirror: $JQEL_DEBIAN_MIRROR, else the address the machine's apt sources
# give for its own Debian release (apt reads both formats of sources; the
# security and updates suites are another archive, or lack the JDKs).
mirror_of_machine() {
  if [ -n "${JQEL_DEBIAN_MIRROR:-}" ]; then
    echo "$JQEL_DEBIAN_MIRROR"
    return 0
  fi
  local codename uri
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  # shellcheck disable=SC2016 # $(REPO_URI) and $(RELEASE) are apt-get's fields, not the shell's
  uri=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' 2>/dev/null |
        awk -v c="$codename" '$2 == c || $2 ~ /^(stable|oldstable|testing|unstable|sid)$/ { print $1; exit }')
  if [ -z "$uri" ]; then
    echo "i386-jvms.sh: the machine's apt sources name no Debian mirror for ${codename:-its release} (see apt-get indextargets)." >&2
    echo "Set JQEL_DEBIAN_MIRROR to a Debian mirror's address (the folder that holds dists/ and pool/)." >&2
    exit 1
  fi
  echo "${uri%/}"
}

# Runs apt on the suite's private configuration.
private_apt() {
  local dir=$1
  shift
  APT_CONFIG=$dir/apt.conf apt-get -q -o Debug::NoLocking=1 "$@"
}

# Makes the private apt configuration of a suite and an architecture: only
# its own files count, but for how old a Release file may be, which follows
# the machine's own apt (a machine that reads a snapshot of the mirror
# accepts expired Release files), and for its proxy.
# Their signatures are checked either way.
configure() {
  local dir=$1 suite=$2 arch=$3 valid_until=true check_date=true
  eval "$(apt-config shell valid_until Acquire::Check-Valid-Until check_date Acquire::Check-Date)"
  [ -n "${mirror:-}" ] || mirror=$(mirror_of_machine)
  mkdir -p "$dir"/{etc/apt.conf.d,etc/preferences.d,etc/sources.list.d,lists/partial,archives/partial}
  : >"$dir/status"
  echo "deb [signed-by=$keyring] $mirror $suite main" >"$dir/etc/sources.list"
  cat >"$dir/apt.conf" <<EOF
Dir::Etc "$dir/etc";
Dir::Etc::Parts "$dir/etc/apt.conf.d";
Dir::Etc::SourceList "$dir/etc/sources.list";
Dir::Etc::SourceParts "$dir/etc/sources.list.d";
Dir::Etc::Preferences "$dir/etc/preferences";
Dir::Etc::PreferencesParts "$dir/etc/preferences.d";
Dir::State "$dir";
Dir::State::Lists "$dir/lists";
Dir::State::status "$dir/status";
Dir::Cache "$dir";
Dir::Cache::Archives "$dir/archives";
Dir::Log "$dir";
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
APT::Install-Recommends "false";
APT::Get::Assume-Yes "true";
Acquire::Languages "none";
Acquire::Retries "3";
Acquire::Check-Valid-Until "$valid_until";
Acquire::Check-Date "$check_date";
APT::Sandbox::User "root";
EOF
  # And through the machine's proxy, if its apt has one.
  apt-config dump | grep -E '^Acquire::https?::Proxy' >>"$dir/apt.conf" || true
}

# Fetches the suite's package lists into `dir`; `what` names the packages
# wanted, for the message if it fails.
update() {
  local dir=$1 suite=$2 what=$3
  if ! private_apt "$dir" update >"$dir/update.log" 2>&1; then
    # Lists from an earlier run still resolve the packages; without any, give up.
    if ! ls "$dir"/lists/*_Packages* >/dev/null 2>&1; then
      sed 's/^/  /' "$dir/update.log" >&2
      echo "Cannot get $what: the package list of Debian $suite could not be fetched from $mirror (see above)" >&2
      exit 1
    fi
    echo "  apt-get update failed; going on with the lists of an earlier run" >&2
  fi
}

# Fetches the emulator: trixie's qemu-user for amd64, of which only the
# static qemu-i386 is kept (the package holds forty emulators, 450 MB).
# Its package is downloaded alone, checked against the signed lists, with
# the apt configuration of trixie's amd64 root.
fetch_qemu() {
  local dir=$cache/$qemu_suite-amd64 qemu
  qemu=$(qemu_of)
  if [ -x "$qemu" ]; then
    return 0
  fi
  mkdir -p "$(dirname "$qemu")"
  configure "$dir" "$qemu_suite" amd64
  echo "Fetching qemu-user (amd64) from Debian $qemu_suite at $mirror for its qemu-i386 into $(dirname "$qemu")" >&2
  update "$dir" "$qemu_suite" "qemu-user for amd64"
  rm -f "$dir"/archives/qemu-user_*.deb
  if ! (cd "$dir/archives" && private_apt "$dir" download qemu-user) >"$dir/qemu.log" 2>&1; then
    sed 's/^/  /' "$dir/qemu.log" >&2
    echo "Cannot get qemu-user for amd64 from Debian $qemu_suite (see above)" >&2
    exit 1
  fi
  rm -rf "$dir/extract"
  dpkg-deb -x "$dir"/archives/qemu-user_*.deb "$dir/extract"
  mv "$dir/extract/usr/bin/qemu-i386" "$qemu.new"
  rm -rf "$dir/extract" "$dir"/archives/qemu-user_*.deb
  if ! "$qemu.new" --version >/dev/null; then
    echo "Cannot run $qemu.new, the qemu-i386 of Debian $qemu_suite's qemu-user" >&2
    exit 1
  fi
  mv "$qemu.new" "$qemu"
}

# True if the stamp lists every package given.
unpacked() {
  local stamp=$1 p
  shift
  [ -f "$stamp" ] || return 1
  for p in "$@"; do grep -qx "$p" "$stamp" || return 1; done
}

# Fetches and unpacks the JDKs of `jvms` (all of one suite and architecture)
# into their root.
fetch_suite() {
  local suite arch dir root packages=() f
  suite=$(suite_of "$1") arch=$(arch_of "$1") dir=$(dir_of "$1") root=$(root_of "$1")
  for f in "$@"; do packages+=("$(package_of "$f")"); done
  local stamp=$dir/unpacked
  # Done before, with these packages among those unpacked: nothing to do.
  if unpacked "$stamp" "${packages[@]}"; then
    return 0
  fi
  # The packages asked for before stay in the root.
  if [ -f "$stamp" ]; then
    mapfile -t old <"$stamp"
    packages+=("${old[@]}")
  fi
  configure "$dir" "$suite" "$arch"
  echo "Fetching ${packages[*]} ($arch) from Debian $suite at $mirror into $root"
  update "$dir" "$suite" "${packages[*]} for $arch"
  if ! private_apt "$dir" install --download-only "${packages[@]}" >"$dir/install.log" 2>&1; then
    sed 's/^/  /' "$dir/install.log" >&2
    echo "Cannot get ${packages[*]} for $arch from Debian $suite (see above)" >&2
    exit 1
  fi
  rm -rf "$root.new" && mkdir -p "$root.new"
  local deb
  for deb in "$dir"/archives/*.deb; do
    dpkg-deb -x "$deb" "$root.new"
  done
  # Merged /usr: the programs look for /lib/ld-linux.so.2 and the like.
  local d
  for d in bin sbin lib lib64; do
    if [ -d "$root.new/$d" ] && [ ! -L "$root.new/$d" ]; then
      mkdir -p "$root.new/usr/$d"
      cp -a "$root.new/$d/." "$root.new/usr/$d/"
      rm -rf "$root.new/$d"
    fi
    [ ! -d "$root.new/usr/$d" ] || ln -sfn "usr/$d" "$root.new/$d"
  done
  # Links to absolute paths point into the root instead: the host's kernel,
  # not qemu, follows them (Debian's JDKs link their conf files to
  # /etc/java-<n>-openjdk).
  local link target
  find "$root.new" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
    target=$(readlink "$link")
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root.new$target")" "$link"
  done
  # An empty loader cache: qemu-i386 -L would otherwise hand the JVM's ld.so
  # the host's /etc/ld.so.cache, which may name the host's own i386 C library
  # (g++-multilib's /usr/lib32). Without a cache ld.so takes the root's
  # default folders. (An amd64 root's loader is told --inhibit-cache.)
  mkdir -p "$root.new/etc" && : >"$root.new/etc/ld.so.cache"
  # Java 8's launcher finds its runtime from the program the kernel ran (as
  # /proc/self/exe names it): a copy of the root's loader, which starts the
  # JVM, stands in java's folder.
  local java
  if [ "$arch" = amd64 ]; then
    for f in "$@"; do
      ! runs_directly "$f" || continue
      java=$(java_of "$f")
      cp "$root.new/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2" "$(dirname "$root.new${java#"$root"}")/"
    done
  fi
  # The packages' files are kept in the root; their archives are not needed.
  rm -f "$dir"/archives/*.deb
  rm -rf "$root" && mv "$root.new" "$root"
  printf '%s\n' "${packages[@]}" | sort -u >"$stamp"
}

# Runs a command (a function of this script) alone among those that use the
# apt folder `dir`, which apt here uses without locks of its own: two ctest
# entries may fetch at once, and the emulator comes through trixie's amd64
# folder too.
locked() {
  local dir=$1
  shift
  (
    exec 9>"$dir.lock"
    flock 9
    "$@"
  )
}

# For CMake (cmake/I386Jvms.cmake): the emulator, and each JVM's command line
# as a list, computed here once for every JVM of every build.
cmake_paths() {
  local jvm name
  echo "set(JQEL_JVM_CACHE \"$cache\")"
  echo "set(JQEL_QEMU_I386 \"$(qemu_of)\")"
  for jvm in 8 11 17 21 amd64:8 amd64:11 amd64:21 amd64:25; do
    name=${jvm/amd64:/amd64_}
    echo "set(JQEL_JVM_$name \"$(command_of "$jvm" | paste -sd';')\")"
  done
}

case ${1:-} in
  --cache) echo "$cache"; exit 0 ;;
  --mirror) mirror_of_machine; exit 0 ;;
  --command) command_of "$2"; exit 0 ;;
  --cmake) cmake_paths; exit 0 ;;
  --qemu|[0-9]*|amd64:*) ;;
  *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
esac

mkdir -p "$cache"
if [ "$1" = --qemu ]; then
  locked "$cache/$qemu_suite-amd64" fetch_qemu
  qemu_of
  exit 0
fi

# Group the JVMs by root, so that each root is resolved once; the roots are
# fetched at once, one download overlapping another's unpacking.
declare -A by_root=()
need_qemu=false
for jvm in "$@"; do
  suite_of "$jvm" >/dev/null
  [ "$(arch_of "$jvm")" = amd64 ] || need_qemu=true
  by_root[$(dir_of "$jvm")]+=" $jvm"
done
jobs=()
if $need_qemu; then
  locked "$cache/$qemu_suite-amd64" fetch_qemu &
  jobs+=($!)
fi
for dir in "${!by_root[@]}"; do
  # shellcheck disable=SC2086 # by_root holds a space-separated list of JVMs, one argument each
  locked "$dir" fetch_suite ${by_root[$dir]} &
  jobs+=($!)
done
failed=0
for job in "${jobs[@]}"; do wait "$job" || failed=1; done
[ $failed = 0 ] || exit 1
for jvm in "$@"; do
  if [ ! -x "$(java_of "$jvm")" ]; then
    echo "Cannot get $(package_of "$jvm") for $(arch_of "$jvm") from Debian $(suite_of "$jvm"): its root holds no $(java_of "$jvm")" >&2
    exit 1
  fi
done

#!/bin/bash
# The 32-bit JVMs that the tests run under qemu-i386: HotSpot 8, 11 and 17 for
# i386, as Debian builds them, each in a private root folder of its suite.
# Nothing is installed: apt runs on a configuration of its own (its own
# sources, lists, cache and an empty dpkg status), resolves the JDK package
# and what it depends on by name, checks the suite's Release file against
# Debian's archive keyring and downloads the packages, which dpkg-deb then
# unpacks into the root. The machine's dpkg and apt state are not touched, and
# no i386 architecture is added to it.
#
# The emulator they run under comes the same way: qemu-i386 from Debian
# trixie's qemu-user (10.0), a static program, of which only that one file is
# kept. Bookworm's (7.2) gives a thread, when a signal handler returns, the
# thread pointer of the thread created last, since it keeps one descriptor
# table for all threads: every fault a JVM handles in any other thread (an
# implicit null check, a safepoint poll) then runs that thread on another's
# Thread* and JNIEnv ("Using JNIEnv in the wrong thread", or a crash).
#
#   bash tools/i386-jvms.sh <feature>...       fetch the roots these JDKs need, and
#                                              the emulator (once; a second run
#                                              downloads nothing)
#   bash tools/i386-jvms.sh --qemu             fetch the emulator if need be, and
#                                              print where it is
#   bash tools/i386-jvms.sh --home <feature>   print where that JDK is (fetches nothing)
#   bash tools/i386-jvms.sh --root <feature>   print its root, for the emulator's -L
#   bash tools/i386-jvms.sh --cache            print the cache folder
#
# A JVM runs as: <emulator> -L <root> <home>/bin/java ...
# Without -L (and the root's merged-/usr links and empty loader cache) it
# would take the host's i386 C library, if any, and fail.
#
# Cache: $JQEL_I386_CACHE, default ${XDG_CACHE_HOME:-~/.cache}/jqel/i386-jvms.
# When a JDK cannot be had, it prints one line naming the package and the
# suite and exits with status 1.
set -euo pipefail

cache=${JQEL_I386_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/jqel/i386-jvms}
mirror=${JQEL_DEBIAN_MIRROR:-http://deb.debian.org/debian}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg

# The suite that holds each feature release's i386 JDK. 8 and 11 come from
# unstable, whose C and C++ libraries are newer than bookworm's, so that the
# i386 libraries built here load into them; 17 from bookworm itself.
suite_of() {
  case $1 in
    8|11) echo sid ;;
    17) echo bookworm ;;
    *) echo "i386-jvms.sh: no suite known for Java $1" >&2; exit 2 ;;
  esac
}
package_of() { echo "openjdk-$1-jdk-headless"; }
root_of() { echo "$cache/$(suite_of "$1")/root"; }
qemu_suite=trixie
qemu_of() { echo "$cache/qemu/qemu-i386"; }
home_of() { echo "$(root_of "$1")/usr/lib/jvm/java-$1-openjdk-i386"; }

# Runs apt on the suite's private configuration.
private_apt() {
  local dir=$1
  shift
  APT_CONFIG=$dir/apt.conf apt-get -q -o Debug::NoLocking=1 "$@"
}

# Makes the private apt configuration of a suite and an architecture: only
# its own files count, but for how old a Release file may be, which follows
# the machine's own apt (a machine that reads a snapshot of the mirror
# accepts expired Release files).
# Their signatures are checked either way.
configure() {
  local dir=$1 suite=$2 arch=$3 valid_until=true check_date=true
  eval "$(apt-config shell valid_until Acquire::Check-Valid-Until check_date Acquire::Check-Date)"
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
# Its package is downloaded alone, checked against the signed lists.
fetch_qemu() {
  local dir=$cache/qemu qemu
  qemu=$(qemu_of)
  if [ -x "$qemu" ]; then
    return 0
  fi
  configure "$dir" "$qemu_suite" amd64
  echo "Fetching qemu-user (amd64) from Debian $qemu_suite for its qemu-i386 into $dir" >&2
  update "$dir" "$qemu_suite" "qemu-user for amd64"
  if ! (cd "$dir/archives" && private_apt "$dir" download qemu-user) >"$dir/install.log" 2>&1; then
    sed 's/^/  /' "$dir/install.log" >&2
    echo "Cannot get qemu-user for amd64 from Debian $qemu_suite (see above)" >&2
    exit 1
  fi
  rm -rf "$dir/extract"
  dpkg-deb -x "$dir"/archives/qemu-user_*.deb "$dir/extract"
  mv "$dir/extract/usr/bin/qemu-i386" "$qemu.new"
  rm -rf "$dir/extract" "$dir"/archives/*.deb
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

# Fetches and unpacks the JDKs of `features` (all of one suite) into its root.
fetch_suite() {
  local suite=$1
  shift
  local dir=$cache/$suite root=$cache/$suite/root packages=() f
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
  configure "$dir" "$suite" i386
  echo "Fetching ${packages[*]} (i386) from Debian $suite into $root"
  update "$dir" "$suite" "${packages[*]} for i386"
  if ! private_apt "$dir" install --download-only "${packages[@]}" >"$dir/install.log" 2>&1; then
    sed 's/^/  /' "$dir/install.log" >&2
    echo "Cannot get ${packages[*]} for i386 from Debian $suite (see above)" >&2
    exit 1
  fi
  rm -rf "$root.new" && mkdir -p "$root.new"
  local deb
  for deb in "$dir"/archives/*.deb; do
    dpkg-deb -x "$deb" "$root.new"
  done
  # Merged /usr: the programs look for /lib/ld-linux.so.2 and the like.
  local d
  for d in bin sbin lib; do
    if [ -d "$root.new/$d" ] && [ ! -L "$root.new/$d" ]; then
      mkdir -p "$root.new/usr/$d"
      cp -a "$root.new/$d/." "$root.new/usr/$d/"
      rm -rf "$root.new/$d"
    fi
    ln -sfn "usr/$d" "$root.new/$d"
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
  # default folders.
  mkdir -p "$root.new/etc" && : >"$root.new/etc/ld.so.cache"
  # The packages' files are kept in the root; their archives are not needed.
  rm -f "$dir"/archives/*.deb
  rm -rf "$root" && mv "$root.new" "$root"
  printf '%s\n' "${packages[@]}" | sort -u >"$stamp"
}

case ${1:-} in
  --cache) echo "$cache"; exit 0 ;;
  --qemu) fetch_qemu; qemu_of; exit 0 ;;
  --home) home_of "$2"; exit 0 ;;
  --root) root_of "$2"; exit 0 ;;
  ""|-*) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
esac

fetch_qemu
# Group the features by suite, so that each suite's root is resolved once.
declare -A by_suite=()
for feature in "$@"; do
  suite=$(suite_of "$feature")
  by_suite[$suite]+=" $feature"
done
for suite in "${!by_suite[@]}"; do
  # shellcheck disable=SC2086
  fetch_suite "$suite" ${by_suite[$suite]}
done
for feature in "$@"; do
  if [ ! -x "$(home_of "$feature")/bin/java" ]; then
    echo "Cannot get $(package_of "$feature") for i386 from Debian $(suite_of "$feature"): its root holds no $(home_of "$feature")/bin/java" >&2
    exit 1
  fi
done

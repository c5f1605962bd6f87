#!/bin/bash
# shellcheck disable=SC2034 # the JQEL_*_PACKAGES lists are read by the scripts that source this file
# Installs the Debian packages that the build and the tests need, where they
# are missing. Sourced by demo.sh, test.sh, build-dll.sh, release.sh and
# bench.sh; run as root on Debian 12 (or as a user who may sudo).
#   jqel_install <package>...
#
# A mirror that is being synced can fail `apt-get update` for a while ("File
# has unexpected size ... Mirror sync in progress?"). So the lists are fetched
# up to three times, and when they still fail, the install goes on with the
# lists the machine has, if they hold every package asked for. If the install
# fails all the same, it says which packages and what to try.

jqel_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  local try
  for try in 1 2 3; do
    $sudo apt-get update -q && break
    if [ $try -lt 3 ]; then
      echo "apt-get update failed; trying again in $((try * 20)) s"
      sleep $((try * 20))
    elif jqel_known "${missing[@]}"; then
      echo "apt-get update failed; going on with the package lists this machine has"
    else
      echo "apt-get update failed three times, and the package lists this machine has do not"
      echo "hold all of: ${missing[*]}. The mirror may be in the middle of a sync: try again"
      echo "later, or point /etc/apt/sources.list(.d) at another Debian mirror."
      return 1
    fi
  done
  if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    echo "Could not install: ${missing[*]}"
    echo "If apt said a package or version was not found, the lists or the mirror are"
    echo "out of step: run 'apt-get update' and this command again, later if the mirror"
    echo "is syncing. If it said dependencies were unmet, run 'apt-get -f install'."
    return 1
  fi
}

# True if the machine's package lists know every package given.
jqel_known() {
  local p
  for p in "$@"; do
    apt-cache show --no-all-versions "$p" >/dev/null 2>&1 || return 1
  done
}

# What every build needs: compiler, CMake, the JDK, GoogleTest's sources and
# the JUnit 5 jars.
JQEL_CORE_PACKAGES=(g++ make cmake binutils openjdk-17-jdk-headless googletest junit5)

# What the Windows builds add: Debian's MinGW-w64 cross compilers (the posix
# thread-model variants) and binutils for 32- and 64-bit Windows, Wine to run
# the 64-bit tests, Python for the DLL table checks, osslsigncode to sign the
# DLL (tools/release.sh) and openssl to make the tests' throwaway certificate.
JQEL_WINDOWS_PACKAGES=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine64 python3 osslsigncode openssl)

# What the 32-bit runs add: g++'s 32-bit libraries, and what
# tools/i386-jvms.sh needs to fetch the 32-bit JVMs and the emulator that runs
# every i386 program (the build machines' kernel runs no 32-bit program
# itself) into a private folder, without adding the i386 architecture to
# dpkg: apt, dpkg-deb and Debian's archive keyring. The emulator is not
# bookworm's qemu-user, whose qemu-i386 loses a thread's thread pointer after
# a signal (the script says more).
JQEL_I386_PACKAGES=(g++-multilib debian-archive-keyring)

# The instruction count (bench/count, the ctest entry native_cost and
# tools/bench.sh): callgrind.
JQEL_COUNT_PACKAGES=(valgrind)

# The check of the release's Maven folder (ctest api_artifacts): Debian's
# Maven and the plugins that compile a project and install files into a
# repository, which it uses offline, and Debian's Gradle.
JQEL_MAVEN_PACKAGES=(maven libmaven-compiler-plugin-java libmaven-resources-plugin-java libmaven-install-plugin-java
  gradle)

# The fuzzing build: clang and its sanitizer and libFuzzer runtimes.
JQEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# The layout and lint checks of the linux preset: the ctest entries
# clang_format and shellcheck.
JQEL_LINT_PACKAGES=(clang-format shellcheck)

#!/bin/bash
# Installs the Debian packages that the build and the tests need, where they
# are missing. Sourced by demo.sh and test.sh; run as root on Debian 12.
#   jqel_install <package>...
#   jqel_add_architecture <arch>   lets apt install packages of <arch> (before jqel_install)

jqel_install() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

jqel_add_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$1" && return 0
  echo "Adding architecture $1"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo dpkg --add-architecture "$1"
  # jqel_install updates the package lists, since the packages of $1 are missing.
}

# What every build needs: compiler, CMake, the JDK, GoogleTest's sources and
# the JUnit 5 jars.
JQEL_CORE_PACKAGES=(g++ make cmake binutils openjdk-17-jdk-headless googletest junit5)

# The 32-bit build (needs architecture i386): the multilib compiler, the
# 32-bit JDK (its JNI headers and its JVM) and qemu-i386, which runs 32-bit
# programs where the kernel does not.
JQEL_X86_PACKAGES=(g++-multilib qemu-user openjdk-17-jdk-headless:i386)

# The fuzzing build: clang and its sanitizer and libFuzzer runtimes.
JQEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

#!/bin/bash
# Installs the Debian packages that the build and the tests need, where they
# are missing. Sourced by demo.sh and test.sh; run as root on Debian 12.
#   jqel_install <package>...

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

# What every build needs: compiler, CMake, the JDK, GoogleTest's sources and
# the JUnit 5 jars.
JQEL_CORE_PACKAGES=(g++ make cmake binutils openjdk-17-jdk-headless googletest junit5)

# What the Windows builds add: Debian's MinGW-w64 cross compilers (the posix
# thread-model variants) and binutils for 32- and 64-bit Windows, Wine to run
# the 64-bit tests, and Python for the DLL table checks.
JQEL_WINDOWS_PACKAGES=(
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine64 python3)

# What the 32-bit Linux runs add: the i386 JDK, run under qemu-user (the build
# machines' kernel runs no 32-bit program directly), and g++'s 32-bit
# libraries. Installing them needs the i386 architecture in dpkg.
JQEL_I386_PACKAGES=(openjdk-17-jdk-headless:i386 qemu-user g++-multilib)
# The windows-x86 build's native-suite runs of the DLL's own code need only
# the last two: they are i386 Linux programs, run under qemu-user (its JUnit
# runs of the DLL need the i386 JDK as well, which tools/test.sh installs).
JQEL_DLL_TEST_PACKAGES=(qemu-user g++-multilib)
jqel_add_i386() {
  dpkg --print-foreign-architectures | grep -qx i386 && return 0
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo dpkg --add-architecture i386
}

# The fuzzing build: clang and its sanitizer and libFuzzer runtimes.
JQEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# The 32-bit JVMs that tests run under qemu-i386: Debian's HotSpot 8, 11 and
# 17 for i386, in private root folders that tools/i386-jvms.sh fetches from
# Debian's mirror into a cache folder. Nothing is installed on the machine.
# The ctest entry `i386_jvms` fetches them (once: a later run finds them in
# the cache) before any test that runs one. Included by the builds whose
# tests run a 32-bit JVM.
set(JQEL_I386_JVMS_SCRIPT ${PROJECT_SOURCE_DIR}/tools/i386-jvms.sh)
execute_process(COMMAND bash ${JQEL_I386_JVMS_SCRIPT} --cache
  OUTPUT_VARIABLE cache OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(JQEL_I386_CACHE ${cache} CACHE PATH "Folder that holds the 32-bit JVMs' root folders")

# The emulator every i386 program of the tests runs under, the JVMs and the
# test programs alike: trixie's qemu-i386, which the script fetches into the
# same cache now, at configure time, since ctest needs it for every test of
# an i386 build (bookworm's loses a thread's thread pointer after a signal;
# the script says how, and the entry emulator_keeps_tls checks it).
execute_process(
  COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT} --qemu
  OUTPUT_VARIABLE JQEL_QEMU_I386 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(CMAKE_CROSSCOMPILING_EMULATOR STREQUAL "qemu-i386")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JQEL_QEMU_I386})
endif()

# Sets `out` to the command line (a list) that starts the 32-bit JVM of Java
# `feature` (8, 11 or 17) under the emulator: its root folder stands in for /
# (-L), so that it runs on the C library it was built for. It starts
# processes with vfork, so that it runs the emulator itself rather than its
# 32-bit jspawnhelper, which this kernel cannot run.
#
# It interprets only. With its compilers on, under this emulator, every
# preset's tests passed as well, but took as long on 2 cores (linux-x86 113 s
# against 111, windows-x86 231 against 200 to 247: compiling under emulation
# eats what compiled code saves), and the soak's resident memory moved by up
# to 2.3 MiB with the compilers' work, against 0.2 interpreted, which blunts
# its judgement of native leaks. (Under bookworm's emulator the compilers
# crashed the JVM about one run in three, and Java 8 took -XX:+UseMembar and
# Java 11 -Xshare:off to fail less often: all three were its lost thread
# pointer, and none recurs under this one.)
function(jqel_i386_java out feature)
  foreach(what root home)
    execute_process(
      COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT} --${what} ${feature}
      OUTPUT_VARIABLE ${what} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  set(${out} ${JQEL_QEMU_I386} -L ${root} ${home}/bin/java -Xint
    -Djdk.lang.Process.launchMechanism=VFORK PARENT_SCOPE)
endfunction()

# The entry that fetches them, which every test that runs one of them needs
# (FIXTURES_REQUIRED i386_jvms).
if(JQEL_TESTS)
  add_test(NAME i386_jvms
    COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT} 8 11 17)
  set_tests_properties(i386_jvms PROPERTIES FIXTURES_SETUP i386_jvms)
endif()

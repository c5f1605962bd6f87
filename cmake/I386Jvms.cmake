# The JVMs that tests run besides the build machine's own 64-bit Java 17:
# Debian's HotSpot 8, 11, 17 and 21 for i386, run under qemu-i386, and 8, 11,
# 21 and 25 for amd64, in private root folders that tools/i386-jvms.sh
# fetches from the machine's Debian mirror into a cache folder. Nothing is
# installed on the machine. Configuring downloads nothing: the ctest entries
# `i386_jvms` and `amd64_jvms` fetch them (once: a later run finds them in the
# cache) before any test that runs one. Included by the builds whose tests
# run one of them, or any i386 program.
set(JQEL_I386_JVMS_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../tools/i386-jvms.sh)

# Where the emulator and each JVM will be, and the command line that starts
# each: computed by the script, once, without fetching anything.
set(env)
if(JQEL_I386_CACHE)
  set(env env JQEL_I386_CACHE=${JQEL_I386_CACHE})
endif()
execute_process(COMMAND ${env} bash ${JQEL_I386_JVMS_SCRIPT} --cmake
  OUTPUT_VARIABLE jvm_paths COMMAND_ERROR_IS_FATAL ANY)
cmake_language(EVAL CODE "${jvm_paths}")
set(JQEL_I386_CACHE ${JQEL_JVM_CACHE} CACHE PATH "Folder that holds the JVMs' root folders")

# The emulator every i386 program of the tests runs under, the JVMs and the
# test programs alike: trixie's qemu-i386 (bookworm's loses a thread's
# thread pointer after a signal; the script says how, and the entry
# emulator_keeps_tls checks it). The entry i386_jvms fetches it, and every
# test of the linux-x86 build needs that entry (top-level CMakeLists.txt).
if(CMAKE_CROSSCOMPILING_EMULATOR STREQUAL "qemu-i386")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${JQEL_QEMU_I386})
endif()

# Sets `out` to the command line (a list) that starts the 32-bit JVM of Java
# `feature` (8, 11, 17 or 21) under the emulator: its root folder stands in
# for / (-L), so that it runs on the C library it was built for. It starts
# processes with vfork, so that it runs the emulator itself rather than its
# 32-bit jspawnhelper, which this kernel cannot run.
#
# It interprets only: under the emulator its compilers' work costs as much
# as their code saves, and moves the process's resident memory, by which the
# soak test judges native leaks.
function(jqel_i386_java out feature)
  if(NOT DEFINED JQEL_JVM_${feature})
    message(FATAL_ERROR "No 32-bit JVM of Java ${feature} (tools/i386-jvms.sh knows 8, 11, 17 and 21)")
  endif()
  set(${out} ${JQEL_JVM_${feature}} -Xint -Djdk.lang.Process.launchMechanism=VFORK PARENT_SCOPE)
endfunction()

# Sets `out` to the command line (a list) that starts the 64-bit JVM of Java
# `feature` (8, 11, 21 or 25) through its root's own dynamic loader, on the C
# library it was built for. It starts processes with fork, so that it runs
# what it starts itself rather than its jspawnhelper, which the kernel would
# hand to the machine's older C library.
function(jqel_amd64_java out feature)
  if(NOT DEFINED JQEL_JVM_amd64_${feature})
    message(FATAL_ERROR "No 64-bit JVM of Java ${feature} (tools/i386-jvms.sh knows 8, 11, 21 and 25)")
  endif()
  set(${out} ${JQEL_JVM_amd64_${feature}} -Djdk.lang.Process.launchMechanism=FORK PARENT_SCOPE)
endfunction()

# The entries that fetch them, which every test that runs one of them needs
# (FIXTURES_REQUIRED i386_jvms, or amd64_jvms); the 64-bit ones only where a
# 64-bit Linux build runs them. i386_jvms fetches the emulator too, which in
# linux-x86 every entry needs. What is in the cache is not fetched again.
if(JQEL_TESTS)
  add_test(NAME i386_jvms
    COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT} 8 11 17 21)
  set_tests_properties(i386_jvms PROPERTIES FIXTURES_SETUP i386_jvms)
  if(JQEL_JVM_TESTS AND NOT WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_test(NAME amd64_jvms
      COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT}
        amd64:8 amd64:11 amd64:21 amd64:25)
    set_tests_properties(amd64_jvms PROPERTIES FIXTURES_SETUP amd64_jvms)
  endif()
endif()

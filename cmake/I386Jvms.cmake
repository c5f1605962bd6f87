# The 32-bit JVMs that tests run under qemu-i386: Debian's HotSpot 8, 11 and
# 17 for i386, in private root folders that tools/i386-jvms.sh fetches from
# Debian's mirror into a cache folder. Nothing is installed on the machine.
# The ctest entry `i386_jvms` fetches them (once: a later run finds them in
# the cache) before any test that runs one. Included by the builds whose
# tests run a 32-bit JVM.
find_program(JQEL_QEMU_I386 qemu-i386 REQUIRED)
set(JQEL_I386_JVMS_SCRIPT ${PROJECT_SOURCE_DIR}/tools/i386-jvms.sh)
execute_process(COMMAND bash ${JQEL_I386_JVMS_SCRIPT} --cache
  OUTPUT_VARIABLE cache OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(JQEL_I386_CACHE ${cache} CACHE PATH "Folder that holds the 32-bit JVMs' root folders")

# Sets `out` to the command line (a list) that starts the 32-bit JVM of Java
# `feature` (8, 11 or 17): its root folder stands in for / (qemu-i386 -L), so
# that it runs on the C library it was built for. It interprets only: under
# qemu-user, HotSpot's compilers crashed it in about one run in three (in a
# thread handling another's safepoint poll, whose fault signal qemu delivers
# unreliably). It starts processes with vfork, so that it runs qemu-i386
# itself rather than its 32-bit jspawnhelper, which this kernel cannot run.
function(jqel_i386_java out feature)
  foreach(what root home)
    execute_process(
      COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT} --${what} ${feature}
      OUTPUT_VARIABLE ${what} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  set(java ${JQEL_QEMU_I386} -L ${root} ${home}/bin/java -Xint
    -Djdk.lang.Process.launchMechanism=VFORK)
  # Java 8 alone still makes threads changing state write to a "serialize
  # page", which the VM write-protects at each safepoint, so that those
  # threads fault and wait. Under qemu-user that fault now and then comes back
  # with the thread's FPU control word and thread pointer wrong: "Floating
  # point control word changed by native JNI code", then "Using JNIEnv in the
  # wrong thread" in the JDK's own natives (Unsafe.park), with or without our
  # library; about one run of the JUnit suite in five. A real memory barrier
  # instead (the default from Java 10 on) never faults.
  if(feature EQUAL 8)
    list(APPEND java -XX:+UseMembar)
  endif()
  # Java 11 with -Xcheck:jni stops under qemu-user with "FATAL ERROR in native
  # method: Using JNIEnv in the wrong thread" before main, our library not
  # even loaded, for a few lengths of its command line: with one -D argument
  # of n characters, n = 76 to 87, 1120, 1136 and 2128 of 0 to 4200, every
  # time. Without the class-data sharing archive, which the JVM maps at a
  # fixed address, none of those lengths (nor any from 40 to 110) fails.
  if(feature EQUAL 11)
    list(APPEND java -Xshare:off)
  endif()
  set(${out} ${java} PARENT_SCOPE)
endfunction()

# The entry that fetches them, which every test that runs one of them needs
# (FIXTURES_REQUIRED i386_jvms).
if(JQEL_TESTS)
  add_test(NAME i386_jvms
    COMMAND env JQEL_I386_CACHE=${JQEL_I386_CACHE} bash ${JQEL_I386_JVMS_SCRIPT} 8 11 17)
  set_tests_properties(i386_jvms PROPERTIES FIXTURES_SETUP i386_jvms)
endif()

# Builds the library twice from the same sources, in two build folders, with
# SOURCE_DATE_EPOCH set, and fails unless the two DLLs are byte-identical and
# carry that moment as their BuildDate, in asctime's form.
#
#   cmake -DSOURCE=<source dir> -DWORK=<scratch dir> -DTOOLCHAIN=<file>
#         -DBUILD_TYPE=<config> -DWINDRES=<windres> -P reproducible.cmake

# 2026-12-08 16:29:22 UTC: a one-digit day, which asctime pads with a blank.
set(ENV{SOURCE_DATE_EPOCH} 1796747362)
set(expected_date "Tue Dec  8 16:29:22 2026")

foreach(tree first second)
  set(dir ${WORK}/${tree})
  file(REMOVE_RECURSE ${dir})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${dir} --toolchain ${TOOLCHAIN}
      -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DJQEL_JVM_TESTS=OFF -DJQEL_TESTS=OFF
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${dir} --target JQelAgtMsg
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND dlls ${dir}/lib/JQelAgtMsg.dll)
endforeach()

list(GET dlls 0 first)
list(GET dlls 1 second)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${first} ${second}
  RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "two builds of the same sources differ:\n  ${first}\n  ${second}")
endif()

execute_process(COMMAND ${WINDRES} --input-format=coff -i ${first} -O rc
  OUTPUT_VARIABLE rc COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "VALUE \"BuildDate\", \"([^\"]*)\"" _ "${rc}")
if(NOT CMAKE_MATCH_1 STREQUAL expected_date)
  message(FATAL_ERROR "BuildDate is \"${CMAKE_MATCH_1}\", not \"${expected_date}\"")
endif()
file(SIZE ${first} size)
message(STATUS "two builds are identical (${size} bytes), BuildDate \"${CMAKE_MATCH_1}\"")
file(REMOVE_RECURSE ${WORK})

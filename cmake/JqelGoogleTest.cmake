# GoogleTest, built from the sources Debian ships (package googletest) with
# the build's own compiler, so that the suites build the same way for every
# target, cross builds included. The sources are looked for under the
# system's prefixes (<prefix>/src/googletest); JQEL_GOOGLETEST_SOURCE names
# another folder.
if(NOT TARGET GTest::gtest_main)
  find_path(JQEL_GOOGLETEST_SOURCE CMakeLists.txt
    PATHS ${CMAKE_SYSTEM_PREFIX_PATH} PATH_SUFFIXES src/googletest
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED
    DOC "Folder of GoogleTest's sources (Debian's package googletest)")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${JQEL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its warnings are its own: a newer compiler's must not fail our build.
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
endif()

# What every program that calls the natives from C++ shares: the fake JNIEnv
# (fake_jni), the library under test loaded by file name (bridge_library:
# JQEL_BRIDGE_FILE, or the DLL that JQEL_BRIDGE_DLL names where JQEL_PE_DLL
# is defined), and the native suite's cases. Both are compiled into each
# program that links them, with that program's definitions. Included by the
# native suite (CMakeLists.txt here), the instruction count (bench/count) and
# the DLL's companion build (tests/dll_runner).
if(NOT TARGET jqel_native_support)
  add_library(jqel_native_support INTERFACE)
  target_sources(jqel_native_support INTERFACE
    ${CMAKE_CURRENT_LIST_DIR}/fake_jni.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge_library.cpp)
  target_include_directories(jqel_native_support INTERFACE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(jqel_native_support INTERFACE GTest::gtest ${CMAKE_DL_LIBS})

  # The suite's cases, each a family of rows against every native.
  add_library(jqel_native_suite INTERFACE)
  target_sources(jqel_native_suite INTERFACE
    ${CMAKE_CURRENT_LIST_DIR}/passthrough_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/cma_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/names_test.cpp)
  target_link_libraries(jqel_native_suite INTERFACE jqel_native_support GTest::gtest_main)
endif()

# Common part of the MinGW-w64 toolchain files: Debian's cross compilers for
# the target triple JQEL_MINGW_TRIPLE, and the binutils the build uses
# directly (dlltool for import libraries, windres for resources, objdump for
# the tests).
#
# The compilers are the "posix" thread-model variants: with GCC 12 only they
# provide std::mutex and std::thread, which the stand-ins and the tests use.
# The shipped library itself uses no threads and no C++ runtime.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${JQEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${JQEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${JQEL_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${JQEL_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${JQEL_MINGW_TRIPLE}-objdump)

# Libraries and headers come from the MinGW sysroot, <prefix>/<triple> beside
# the cross compiler's <prefix>/bin; programs from the host.
find_program(JQEL_MINGW_GCC ${CMAKE_C_COMPILER} REQUIRED)
cmake_path(GET JQEL_MINGW_GCC PARENT_PATH mingw_bin)
cmake_path(GET mingw_bin PARENT_PATH mingw_prefix)
set(CMAKE_FIND_ROOT_PATH ${mingw_prefix}/${JQEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

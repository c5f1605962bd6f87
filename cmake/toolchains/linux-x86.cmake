# 32-bit x86 Linux, built with the host's multilib GCC (g++ -m32). This
# kernel need not run 32-bit programs itself, so the test programs and the
# 32-bit JVM run under qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)

# ctest prefixes this to every test that runs a program built here.
# cmake/I386Jvms.cmake, which the top-level CMakeLists.txt includes for this
# build, puts the emulator it fetches in place of this name.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)

# Cross build for 32-bit Windows (x86), the platform the library ships for.
# Nothing built with it runs on the build machine; its tests read the DLL.
set(JQEL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

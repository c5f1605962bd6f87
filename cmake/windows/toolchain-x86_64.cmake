# Cross build for 64-bit Windows (x64). Its programs run under Wine, in a
# Wine prefix of their own inside the build tree (created on the first run),
# so that the native suite runs against a real Windows loader.
set(JQEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# Debian installs wine64 in the folder of Wine's libraries (<prefix>/lib/wine),
# not beside the programs on PATH.
find_program(JQEL_WINE64 wine64 PATH_SUFFIXES ../lib/wine REQUIRED)
# mscoree and mshtml are off so that Wine does not offer to install Mono or
# Gecko when it creates the prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR
  ${CMAKE_COMMAND} -E env
    WINEPREFIX=${CMAKE_BINARY_DIR}/wine
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=
  ${JQEL_WINE64})

# Helpers for the Windows builds (MinGW-w64 cross compilers, see
# cmake/windows/toolchain-*.cmake).

enable_language(RC)

# Programs and libraries that are not shipped (the stand-ins, the tests) link
# the MinGW C++ runtime, libgcc and winpthreads statically, so that they run
# from the build folder without MinGW's DLLs beside them. They still use
# MinGW's default C runtime DLL, msvcrt.dll.
add_library(jqel_static_mingw_runtime INTERFACE)
target_link_options(jqel_static_mingw_runtime INTERFACE -static)

# jqel_import_library(<name> <def-file>)
#
# Makes an INTERFACE library <name> that links the import library dlltool
# builds from the module-definition file <def-file>. This is how the bridge
# binds a DLL by ordinal alone, or under names the compiler cannot spell (the
# Visual C++ decorations of the converters): the .def file states exactly what
# the import table will name.
function(jqel_import_library name def)
  cmake_path(ABSOLUTE_PATH def NORMALIZE)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${name}.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --output-lib ${lib}
    DEPENDS ${def}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    COMMENT "Import library ${name} from ${def}"
    VERBATIM)
  add_custom_target(${name}_def DEPENDS ${lib})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${lib})
  add_dependencies(${name} ${name}_def)
endfunction()

# The Windows build of the library, included by bridge/CMakeLists.txt after
# the target and its sources are defined: JQelAgtMsg.dll, exporting exactly the
# JNI entry points, importing from the product's DLLs through import libraries
# made from module-definition files, with a version resource, entered at its
# own DllMain.

set(JQEL_LEGAL_COPYRIGHT "Copyright (C) Brenn" CACHE STRING "LegalCopyright of the version resource")
# The version of the side-by-side C runtime that the 32-bit DLL's manifest
# asks for: Visual C++ 2005 SP1. An installed later 2005 runtime redirects it
# to itself.
set(JQEL_VC80_CRT_VERSION "8.0.50727.762" CACHE STRING "Microsoft.VC80.CRT version named in the manifest")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(x86 TRUE)
else()
  set(x86 FALSE)
endif()

set_target_properties(JQelAgtMsg PROPERTIES PREFIX "")

# ---- exports ----------------------------------------------------------------
#
# The natives of bridge/CMakeLists.txt's list. On x86 they are __stdcall
# (JNICALL) and a Windows JVM looks them up as "_<JNI name>@<bytes>"; GCC
# names them "<JNI name>@<bytes>", so the module-definition file maps one to
# the other. On x64 the plain JNI names are exported. A byte count read wrong
# from the Java declarations cannot slip through: the linker then finds no
# symbol of that decorated name to export, and the link fails.
jqel_native_names(plain ${JQEL_NATIVES})
jqel_native_names(decorated ${JQEL_NATIVES} DECORATED)
set(def "LIBRARY \"JQelAgtMsg.dll\"\nEXPORTS\n")
foreach(name IN ZIP_LISTS plain decorated)
  if(x86)
    string(REGEX REPLACE "^_" "" gcc_name "${name_1}")
    string(APPEND def "  ${name_1} = ${gcc_name}\n")
  else()
    string(APPEND def "  ${name_0}\n")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/JQelAgtMsg.def CONTENT "${def}")
target_sources(JQelAgtMsg PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/JQelAgtMsg.def)
# The module-definition file is the whole export list: JNIEXPORT's dllexport
# would add GCC's own names (without the leading underscore) beside it.
target_compile_definitions(JQelAgtMsg PRIVATE JNIEXPORT=)

# ---- imports ----------------------------------------------------------------
#
# The agent operations by ordinal alone, the converters under their Visual C++
# decorated names, and the C runtime whose heap the product's libraries
# allocate from, for free(): on 32-bit Windows that is MSVCR80.dll, the shared
# runtime the product is built with. On x64 the only libraries that hand the
# bridge memory are our stand-ins, built by MinGW against msvcrt.dll, so the
# x64 bridge frees into msvcrt.dll too; two runtimes would be two heaps.
#
# Nothing else is linked: no MinGW start-up code, libstdc++ or libgcc DLL. The
# library needs no C runtime initialisation (no static constructors, no
# atexit, no thread-local data), so its entry point is DllMain itself. libgcc
# is linked statically for any helper the compiler may call.
jqel_import_library(jqel_qelagtapi_imports ${CMAKE_CURRENT_LIST_DIR}/../agent/libqelagtapi.def)
if(x86)
  jqel_import_library(jqel_jqelagtbase_imports ${CMAKE_CURRENT_LIST_DIR}/../agent/JQelAgtbase-x86.def)
  set(crt msvcr80)
  set(entry _DllMain@12)
  # The image says it has no structured exception handler, as is true: GCC's
  # x86 code unwinds with DWARF tables and registers none (no fs:[0] frame),
  # and GNU ld cannot make the SafeSEH table that scanners accept instead.
  # Windows then calls no handler inside the DLL.
  set(hardening -Wl,--no-seh)
else()
  jqel_import_library(jqel_jqelagtbase_imports ${CMAKE_CURRENT_LIST_DIR}/../agent/JQelAgtbase-x64.def)
  set(crt msvcrt)
  set(entry DllMain)
  # ASLR anywhere in the 64-bit address space.
  set(hardening -Wl,--high-entropy-va)
endif()
target_link_libraries(JQelAgtMsg PRIVATE
  jqel_qelagtapi_imports jqel_jqelagtbase_imports ${crt} gcc kernel32)
target_link_options(JQelAgtMsg PRIVATE
  -nostdlib -Wl,--entry=${entry}
  # ASLR (with the relocations it needs) and DEP, which GNU ld's defaults give
  # since binutils 2.36, stated so that an older linker gives them too; and
  # the image's exception handling as above. tests/windows/check_dll.py checks
  # these and the sections' access.
  -Wl,--dynamicbase -Wl,--nxcompat ${hardening}
  # No link time in the image, so that the same sources give the same bytes.
  -Wl,--no-insert-timestamp
  # The shipped build carries no symbol table.
  $<$<CONFIG:Release,MinSizeRel>:-s>)

# The image version in the PE header, as the version resource's FileVersion:
# CMake passes a DLL's VERSION to the linker as the image version (0.0 if unset).
set_target_properties(JQelAgtMsg PROPERTIES VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

# ---- resources --------------------------------------------------------------
#
# The version resource, with FileVersion and ProductVersion from the project
# version, and BuildDate from a header that the build rewrites when the date
# changes (see cmake/scripts/build_date.cmake). A DLL that links MSVCR80 also carries the
# manifest naming it, as resource 2 (ISOLATIONAWARE_MANIFEST_RESOURCE_ID) of
# type 24 (RT_MANIFEST), so that Windows loads that side-by-side assembly.
set(JQEL_RC_VERSION "")
foreach(part MAJOR MINOR PATCH TWEAK)
  set(number "${PROJECT_VERSION_${part}}")
  if(number STREQUAL "")
    set(number 0)
  endif()
  list(APPEND JQEL_RC_VERSION ${number})
endforeach()
list(JOIN JQEL_RC_VERSION "," JQEL_RC_VERSION)
if(x86)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/vc80crt.manifest.in
    ${CMAKE_CURRENT_BINARY_DIR}/vc80crt.manifest @ONLY)
  set(JQEL_RC_MANIFEST "2 24 \"${CMAKE_CURRENT_BINARY_DIR}/vc80crt.manifest\"")
else()
  set(JQEL_RC_MANIFEST "")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/JQelAgtMsg.rc.in
  ${CMAKE_CURRENT_BINARY_DIR}/JQelAgtMsg.rc @ONLY)

set(build_date ${CMAKE_CURRENT_BINARY_DIR}/build_date.h)
add_custom_target(JQelAgtMsg_build_date
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${build_date}
    -P ${PROJECT_SOURCE_DIR}/cmake/scripts/build_date.cmake
  BYPRODUCTS ${build_date}
  VERBATIM)
add_dependencies(JQelAgtMsg JQelAgtMsg_build_date)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/JQelAgtMsg.rc
  PROPERTIES OBJECT_DEPENDS ${build_date})
target_sources(JQelAgtMsg PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/JQelAgtMsg.rc)

# The library's natives, from their one source: the declarations of the
# three Java classes. Their JNI headers, which javac writes from the classes,
# are included by the library's sources (and the DLL shim's), so that a
# changed Java signature fails the C++ build; the list of natives that the
# export tables and their checks need is read from the same declarations.
set(JQEL_NATIVE_CLASSES JQelAgentMessage JQelMessage JQelMonValue)
cmake_path(SET JQEL_JAVA_SOURCE_ROOT NORMALIZE ${CMAKE_CURRENT_LIST_DIR}/../java/src)
set(JQEL_JAVA_PACKAGE com/brenn/varnis/tq/api/jqel)

# jqel_natives(<out>)
# Sets <out> to one entry per native method, "<class>;<method>;<bytes>", in
# the order the classes declare them; <bytes> is what its arguments take on
# the 32-bit x86 stack, as a 32-bit Windows JVM decorates its name
# ("_<JNI name>@<bytes>"): the JNIEnv* and the receiver 4 each, a long 8,
# any other argument (a String, an int) 4. Re-runs the configuration when a
# class changes.
function(jqel_natives out)
  set(natives)
  foreach(class IN LISTS JQEL_NATIVE_CLASSES)
    set(source ${JQEL_JAVA_SOURCE_ROOT}/${JQEL_JAVA_PACKAGE}/${class}.java)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(STRINGS ${source} lines REGEX "^[ \t]*[a-z ]*[ \t]native[ \t]")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "native[ \t]+[A-Za-z0-9_]+[ \t]+([A-Za-z0-9_]+)[ \t]*\\(([^)]*)\\)")
        message(FATAL_ERROR "${source}: a native declaration not on one line: ${line}")
      endif()
      set(method ${CMAKE_MATCH_1})
      set(parameters "${CMAKE_MATCH_2}")
      math(EXPR bytes "8")
      string(REPLACE "," ";" parameters "${parameters}")
      foreach(parameter IN LISTS parameters)
        string(STRIP "${parameter}" parameter)
        if(parameter MATCHES "^(long|double)[ \t]")
          math(EXPR bytes "${bytes} + 8")
        elseif(NOT parameter STREQUAL "")
          math(EXPR bytes "${bytes} + 4")
        endif()
      endforeach()
      list(APPEND natives "${class}|${method}|${bytes}")
    endforeach()
  endforeach()
  list(TRANSFORM natives REPLACE "\\|" ";")
  set(${out} ${natives} PARENT_SCOPE)
endfunction()

# jqel_native_names(<out> <natives> [DECORATED])
# Sets <out> to the natives' exported names: the plain JNI names, or with
# DECORATED as a 32-bit Windows JVM looks them up.
function(jqel_native_names out)
  cmake_parse_arguments(PARSE_ARGV 1 arg "DECORATED" "" "")
  set(entries ${arg_UNPARSED_ARGUMENTS})
  set(names)
  while(entries)
    list(POP_FRONT entries class method bytes)
    set(name Java_com_brenn_varnis_tq_api_jqel_${class}_${method})
    if(arg_DECORATED)
      set(name _${name}@${bytes})
    endif()
    list(APPEND names ${name})
  endwhile()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# jqel_natives_table(<file> <natives>)
# Writes <file>, one line per native, "JQEL_NATIVE(<class>, <method>,
# <bytes>)", for C++ code to expand as it needs (tests/dll_runner/shim.cpp).
function(jqel_natives_table file)
  set(entries ${ARGN})
  set(table "")
  while(entries)
    list(POP_FRONT entries class method bytes)
    string(APPEND table "JQEL_NATIVE(${class}, ${method}, ${bytes})\n")
  endwhile()
  file(CONFIGURE OUTPUT ${file} CONTENT "${table}")
endfunction()

# jqel_jni_headers(<target> <folder>)
# Adds <target>, which writes the classes' JNI headers into <folder>
# (com_brenn_varnis_tq_api_jqel_<class>.h) with the JDK's javac -h, with the
# flags the jars' classes are compiled with.
function(jqel_jni_headers target folder)
  set(sources)
  set(headers)
  foreach(class IN LISTS JQEL_NATIVE_CLASSES)
    list(APPEND sources ${JQEL_JAVA_SOURCE_ROOT}/${JQEL_JAVA_PACKAGE}/${class}.java)
    list(APPEND headers ${folder}/com_brenn_varnis_tq_api_jqel_${class}.h)
  endforeach()
  file(GLOB_RECURSE package CONFIGURE_DEPENDS ${JQEL_JAVA_SOURCE_ROOT}/*.java)
  add_custom_command(OUTPUT ${headers}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${folder} ${folder}-classes
    COMMAND ${Java_JAVAC_EXECUTABLE} ${JQEL_JAVAC_FLAGS} -encoding UTF-8 -implicit:none
      -sourcepath ${JQEL_JAVA_SOURCE_ROOT} -h ${folder} -d ${folder}-classes ${sources}
    DEPENDS ${package}
    COMMENT "Writing the JNI headers of the classes with natives"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${headers})
endfunction()

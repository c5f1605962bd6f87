# Jars that ship in the release archives, beside the library, and so run on
# the user's own JVM: compiled with JQEL_JAVAC_FLAGS (JqelJdk.cmake) and
# packed by scripts/jar.cmake so that two builds with SOURCE_DATE_EPOCH set
# give the same bytes. The API jar's Javadoc and sources jars are made the
# same way.
set(JQEL_JAR_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/scripts/jar.cmake)

# jqel_reproducible_jar(<target> <jar> SOURCES <java files>... [MANIFEST <file>]
#                       [KIND classes|javadoc|sources] [SOURCE_ROOT <dir>] [TITLE <text>])
# Builds <jar> from the sources, as target <target>, which add_jar's
# INCLUDE_JARS takes like one of its own: their classes (the default), their
# Javadoc, titled TITLE, or the sources themselves, under their paths below
# SOURCE_ROOT.
function(jqel_reproducible_jar target jar)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "MANIFEST;KIND;SOURCE_ROOT;TITLE" "SOURCES")
  if(NOT arg_KIND)
    set(arg_KIND classes)
  endif()
  set(script ${JQEL_JAR_SCRIPT})
  add_custom_command(OUTPUT ${jar}
    COMMAND ${CMAKE_COMMAND} -DKIND=${arg_KIND}
      -DJAVAC=${Java_JAVAC_EXECUTABLE} "-DJAVAC_FLAGS=${JQEL_JAVAC_FLAGS}" -DJAVADOC=${JQEL_JAVADOC} -DJAR=${Java_JAR_EXECUTABLE}
      "-DSOURCES=${arg_SOURCES}" -DSOURCE_ROOT=${arg_SOURCE_ROOT} "-DTITLE=${arg_TITLE}"
      -DCLASSES=${CMAKE_CURRENT_BINARY_DIR}/${target}-files
      -DMANIFEST=${arg_MANIFEST} -DOUTPUT=${jar}
      -P ${script}
    DEPENDS ${arg_SOURCES} ${script} ${arg_MANIFEST}
    COMMENT "Building ${target}.jar"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${jar})
  set_target_properties(${target} PROPERTIES JAR_FILE ${jar})
endfunction()

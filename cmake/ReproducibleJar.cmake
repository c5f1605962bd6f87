# Jars that ship in the release archives, beside the library, and so run on
# the user's own JVM: compiled for Java 8 (class files of major version 52),
# since the DLL runs in 32-bit Windows JVMs of Java 8, 11 and 17 (see "What
# must sit beside it" in packaging/DEPLOYMENT.md), and packed by jar.cmake so
# that two builds with SOURCE_DATE_EPOCH set give the same bytes.
find_package(Java 17 REQUIRED COMPONENTS Development)

# jqel_reproducible_jar(<target> <jar> SOURCES <java files>... [MANIFEST <file>])
# Builds <jar> from the sources, as target <target>, which add_jar's
# INCLUDE_JARS takes like one of its own.
function(jqel_reproducible_jar target jar)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "MANIFEST" "SOURCES")
  set(script ${PROJECT_SOURCE_DIR}/cmake/jar.cmake)
  add_custom_command(OUTPUT ${jar}
    COMMAND ${CMAKE_COMMAND}
      -DJAVAC=${Java_JAVAC_EXECUTABLE} -DJAR=${Java_JAR_EXECUTABLE}
      "-DSOURCES=${arg_SOURCES}" -DCLASSES=${CMAKE_CURRENT_BINARY_DIR}/${target}-classes
      -DMANIFEST=${arg_MANIFEST} -DOUTPUT=${jar}
      -P ${script}
    DEPENDS ${arg_SOURCES} ${script} ${arg_MANIFEST}
    COMMENT "Building ${target}.jar"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${jar})
  set_target_properties(${target} PROPERTIES JAR_FILE ${jar})
endfunction()

# Builds a jar that ships beside the library (ReproducibleJar.cmake):
#   cmake -DJAVAC= -DJAR= -DSOURCES=<list> -DCLASSES=<dir> [-DMANIFEST=] -DOUTPUT= -P jar.cmake
# Compiles SOURCES for Java 8 (class files of major version 52) into CLASSES,
# and packs them, with MANIFEST if given, into OUTPUT in sorted order, every
# entry stamped with the time of SOURCE_DATE_EPOCH when it is set
# (string(TIMESTAMP) reads it), else the build's.
file(REMOVE_RECURSE "${CLASSES}")
execute_process(
  COMMAND "${JAVAC}" -Xlint:all -Werror --release 8 -encoding UTF-8 -d "${CLASSES}" ${SOURCES}
  COMMAND_ERROR_IS_FATAL ANY)
file(GLOB_RECURSE classes RELATIVE "${CLASSES}" "${CLASSES}/*.class")
list(SORT classes)
string(TIMESTAMP date "%Y-%m-%dT%H:%M:%SZ" UTC)
file(REMOVE "${OUTPUT}")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
set(manifest)
if(MANIFEST)
  set(manifest --manifest "${MANIFEST}")
endif()
execute_process(
  COMMAND "${JAR}" --create --file "${OUTPUT}" ${manifest} --date "${date}" ${classes}
  WORKING_DIRECTORY "${CLASSES}"
  COMMAND_ERROR_IS_FATAL ANY)

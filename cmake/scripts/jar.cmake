# Builds a jar that ships beside the library (ReproducibleJar.cmake):
#   cmake -DKIND=classes|javadoc|sources -DJAVAC= -DJAVAC_FLAGS=<list> -DJAVADOC= -DJAR= -DSOURCES=<list>
#         -DSOURCE_ROOT=<dir> -DCLASSES=<dir> [-DMANIFEST=] [-DTITLE=] -DOUTPUT= -P jar.cmake
# KIND classes compiles SOURCES with JAVAC_FLAGS into CLASSES; javadoc writes their API documentation there, for Java 8's
# class library, failing on any warning of doclint's; sources copies them
# there, by their path under SOURCE_ROOT. Then it packs every file of CLASSES,
# with MANIFEST if given, into OUTPUT in sorted order, every entry stamped
# with the time of SOURCE_DATE_EPOCH when it is set (string(TIMESTAMP) reads
# it), else the build's.
file(REMOVE_RECURSE "${CLASSES}")
if(KIND STREQUAL "javadoc")
  # -notimestamp: the pages name no date, so that two builds give the same bytes.
  execute_process(
    COMMAND "${JAVADOC}" --release 8 -Xdoclint:all -Werror -quiet -notimestamp
      -encoding UTF-8 -docencoding UTF-8 -charset UTF-8
      -doctitle "${TITLE}" -windowtitle "${TITLE}" -d "${CLASSES}" ${SOURCES}
    COMMAND_ERROR_IS_FATAL ANY)
elseif(KIND STREQUAL "sources")
  foreach(source IN LISTS SOURCES)
    file(RELATIVE_PATH name "${SOURCE_ROOT}" "${source}")
    get_filename_component(folder "${CLASSES}/${name}" DIRECTORY)
    file(COPY "${source}" DESTINATION "${folder}")
  endforeach()
else()
  execute_process(
    COMMAND "${JAVAC}" ${JAVAC_FLAGS} -encoding UTF-8 -d "${CLASSES}" ${SOURCES}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
file(GLOB_RECURSE entries RELATIVE "${CLASSES}" "${CLASSES}/*")
list(SORT entries)
string(TIMESTAMP date "%Y-%m-%dT%H:%M:%SZ" UTC)
file(REMOVE "${OUTPUT}")
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
set(manifest)
if(MANIFEST)
  set(manifest --manifest "${MANIFEST}")
endif()
execute_process(
  COMMAND "${JAR}" --create --file "${OUTPUT}" ${manifest} --date "${date}" ${entries}
  WORKING_DIRECTORY "${CLASSES}"
  COMMAND_ERROR_IS_FATAL ANY)

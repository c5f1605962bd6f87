# Install step: the Maven artifact jqel-native, the installed library carried
# in a jar of the platform's classifier, for teams that take everything from
# Maven (JQelLibrary loads it from the class path when no folder holds the
# library). It packs the file as installed, so a release's jar carries the
# very bytes of its archive's library: stripped, and signed if the DLL was.
# Its entries are sorted and stamped with SOURCE_DATE_EPOCH when set, as
# jar.cmake stamps the other jars, so that two builds give the same bytes.
# Set before it runs: JQEL_JAR (the jar tool), JQEL_NATIVE_LIBRARY (the
# library's installed name), JQEL_NATIVE_PLATFORM, JQEL_NATIVE_MANIFEST,
# JQEL_NATIVE_POM (configured files), JQEL_NATIVE_MAVEN (the artifact's
# folder below the prefix) and JQEL_NATIVE_STAGE (a scratch folder).
set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
# Installs into different prefixes may run at once (the tests install one
# build into a prefix each, in parallel): each stages in a folder of its own.
string(SHA1 stage_key "${prefix}")
string(SUBSTRING "${stage_key}" 0 12 stage_key)
set(JQEL_NATIVE_STAGE "${JQEL_NATIVE_STAGE}/${stage_key}")
file(REAL_PATH "${prefix}/${JQEL_NATIVE_LIBRARY}" library)
get_filename_component(maven_dir "${prefix}/${JQEL_NATIVE_MAVEN}" ABSOLUTE)
get_filename_component(version_dir "${maven_dir}" NAME)
set(entry META-INF/native/jqel/${JQEL_NATIVE_PLATFORM}/${JQEL_NATIVE_LIBRARY})
file(REMOVE_RECURSE "${JQEL_NATIVE_STAGE}")
get_filename_component(folder "${JQEL_NATIVE_STAGE}/${entry}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
file(COPY_FILE "${library}" "${JQEL_NATIVE_STAGE}/${entry}")
set(output "${maven_dir}/jqel-native-${version_dir}-${JQEL_NATIVE_PLATFORM}.jar")
file(MAKE_DIRECTORY "${maven_dir}")
file(REMOVE "${output}")
string(TIMESTAMP date "%Y-%m-%dT%H:%M:%SZ" UTC)
execute_process(
  COMMAND "${JQEL_JAR}" --create --file "${output}" --manifest "${JQEL_NATIVE_MANIFEST}" --date "${date}" ${entry}
  WORKING_DIRECTORY "${JQEL_NATIVE_STAGE}"
  COMMAND_ERROR_IS_FATAL ANY)
file(COPY_FILE "${JQEL_NATIVE_POM}" "${maven_dir}/jqel-native-${version_dir}.pom")
message(STATUS "Installing: ${output}")

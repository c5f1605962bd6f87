# The JDK that builds every jar: release 17 or later, whose javac compiles
# for Java 8 with --release. Every class that runs on a user's JVM (the jars
# shipped beside the library) is compiled with JQEL_JAVAC_FLAGS: class files
# of major version 52, since the DLL runs in 32-bit Windows JVMs of Java 8 to
# 21, and every lint warning an error.
find_package(Java 17 REQUIRED COMPONENTS Development)
get_filename_component(jqel_jdk_bin "${Java_JAVAC_EXECUTABLE}" DIRECTORY)
find_program(JQEL_JAVADOC javadoc HINTS "${jqel_jdk_bin}" REQUIRED)
set(JQEL_JAVAC_FLAGS -Xlint:all -Werror --release 8)

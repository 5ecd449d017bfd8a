# SPDX-License-Identifier: Apache-2.0
# Java tool discovery and a helper that compiles Java sources into a jar, generating the JNI headers
# of their native methods with `javac -h` on the way. The headers are what the C++ entry points include,
# so a Java declaration and its C++ definition that disagree fail the build.

find_package(Java 17 REQUIRED COMPONENTS Development)

# JNI headers come from the JDK that provides javac; only the include directories are used, never libjvm,
# so the same headers serve the x86_64 and the i386 build.
get_filename_component(_trov_javac_real "${Java_JAVAC_EXECUTABLE}" REALPATH)
get_filename_component(TROV_JDK_HOME "${_trov_javac_real}" DIRECTORY)
get_filename_component(TROV_JDK_HOME "${TROV_JDK_HOME}" DIRECTORY)
find_path(TROV_JNI_INCLUDE_DIR jni.h PATHS "${TROV_JDK_HOME}/include" NO_DEFAULT_PATH REQUIRED)
find_path(TROV_JNI_MD_INCLUDE_DIR jni_md.h PATHS "${TROV_JDK_HOME}/include/linux" NO_DEFAULT_PATH REQUIRED)
set(TROV_JNI_INCLUDE_DIRS "${TROV_JNI_INCLUDE_DIR}" "${TROV_JNI_MD_INCLUDE_DIR}")

# trov_add_jar(<target> OUTPUT <jar> SOURCES <java files...> [HEADER_DIR <dir>] [CLASSPATH <jars...>]
#              [DEPENDS <targets...>] [MANIFEST <file>])
# Compiles SOURCES (release 17) into <jar>. With HEADER_DIR, the JNI headers of their native methods are
# generated into that directory; with MANIFEST, the jar's manifest takes the attributes of that file.
# <target> is a custom target that builds the jar.
function(trov_add_jar target)
  cmake_parse_arguments(ARG "" "OUTPUT;HEADER_DIR;MANIFEST" "SOURCES;CLASSPATH;DEPENDS" ${ARGN})
  set(classes "${CMAKE_CURRENT_BINARY_DIR}/${target}.classes")
  set(header_args "")
  if(ARG_HEADER_DIR)
    set(header_args -h "${ARG_HEADER_DIR}")
  endif()
  set(cp_args "")
  if(ARG_CLASSPATH)
    list(JOIN ARG_CLASSPATH ":" cp)
    set(cp_args -cp "${cp}")
  endif()
  set(jar_args cf "${ARG_OUTPUT}")
  if(ARG_MANIFEST)
    set(jar_args cfm "${ARG_OUTPUT}" "${ARG_MANIFEST}")
  endif()
  # Compiling and packing are two steps, so that a new manifest repacks the classes without compiling
  # them again (and without rewriting the JNI headers, which would rebuild the library).
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp")
  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${classes}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${classes}"
    COMMAND "${Java_JAVAC_EXECUTABLE}" --release 17 -Xlint:all -Werror -encoding UTF-8
            ${cp_args} ${header_args} -d "${classes}" ${ARG_SOURCES}
    COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
    DEPENDS ${ARG_SOURCES} ${ARG_CLASSPATH} ${ARG_DEPENDS}
    COMMENT "Compiling ${target}"
    VERBATIM)
  add_custom_command(
    OUTPUT "${ARG_OUTPUT}"
    COMMAND "${Java_JAR_EXECUTABLE}" ${jar_args} -C "${classes}" .
    DEPENDS "${stamp}" ${ARG_MANIFEST}
    COMMENT "Packing ${target}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${ARG_OUTPUT}")
endfunction()

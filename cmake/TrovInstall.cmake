# SPDX-License-Identifier: Apache-2.0
# What `cmake --install` puts where, and what the Debian package holds (cmake/TrovPackage.cmake packs
# the same tree). An application needs the jar on its class path and the library on java.library.path;
# integrators get the diagnostic tool, the udev rule and the documents. The simulator and the test and
# demo jars stay in the build tree.
#
#   lib/<multiarch>/jni/libTrovJPOS.so    the native library (lib/x86_64-linux-gnu/jni, lib/i386-linux-gnu/jni)
#   share/java/TrovJPOS.jar               the Java service classes
#   share/java/TrovJPOS-sources.jar       their sources
#   share/java/TrovJPOS-javadoc.jar       their API documentation
#   bin/trovjpos-diag                     the diagnostic tool
#   share/man/man1/trovjpos-diag.1.gz     its manual page
#   lib/udev/rules.d/60-trovjpos.rules    the udev rule (under the prefix: udev reads /usr/lib/udev/rules.d)
#   share/doc/trovjpos/                   the documents, the example application's source, the copyright
#                                         notice and the change log
#   share/lintian/overrides/trovjpos      the package checker's exceptions, with their reasons
#   /etc/trovjpos/trovjpos.properties     the terminal's settings, all commented out (under a prefix other
#                                         than /usr: <prefix>/etc/trovjpos); a conffile in the package

# Debian's multiarch directory whatever the prefix. GNUInstallDirs chooses it only for the prefix /usr of
# a native build, and it may have been included by another directory already, leaving plain "lib" in the
# cache; that is replaced unless TROV_MULTIARCH_LIBDIR is OFF. Any other CMAKE_INSTALL_LIBDIR given is
# kept.
option(TROV_MULTIARCH_LIBDIR "Install the library into lib/<multiarch> (Debian) rather than lib" ON)
if(TROV_MULTIARCH_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE
   AND (NOT DEFINED CMAKE_INSTALL_LIBDIR OR CMAKE_INSTALL_LIBDIR STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (lib)" FORCE)
endif()
include(GNUInstallDirs)

# The library goes to the jni directory below it: it is a JNI library that only a JVM loads, not one
# that programs link against, so it has no SONAME, and the dynamic linker's own directories are for
# libraries that do. Debian's JVMs have /usr/lib/<multiarch>/jni on java.library.path.
set(TROV_INSTALL_JNIDIR "${CMAKE_INSTALL_LIBDIR}/jni")
set(TROV_INSTALL_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/trovjpos")

install(TARGETS TrovJPOS LIBRARY DESTINATION "${TROV_INSTALL_JNIDIR}" COMPONENT runtime)
install(FILES "${TROV_JAR}" "${TROV_SOURCES_JAR}" "${TROV_JAVADOC_JAR}" DESTINATION "${CMAKE_INSTALL_DATADIR}/java"
        COMPONENT runtime)

find_program(TROV_GZIP gzip REQUIRED)
if(TARGET trovjpos-diag)
  install(TARGETS trovjpos-diag RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tools)
  set(_trov_man "${CMAKE_BINARY_DIR}/trovjpos-diag.1.gz")
  add_custom_command(OUTPUT "${_trov_man}"
    COMMAND "${TROV_GZIP}" -9 -n -c "${PROJECT_SOURCE_DIR}/tools/diag/trovjpos-diag.1" > "${_trov_man}"
    DEPENDS "${PROJECT_SOURCE_DIR}/tools/diag/trovjpos-diag.1"
    COMMENT "Compressing the manual page of trovjpos-diag")
  add_custom_target(trovjpos_diag_man ALL DEPENDS "${_trov_man}")
  install(FILES "${_trov_man}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT tools)
endif()
# <prefix>/lib/udev/rules.d, not the multiarch library directory; relative, so that
# `cmake --install --prefix` moves it along.
install(FILES "${PROJECT_SOURCE_DIR}/udev/60-trovjpos.rules" DESTINATION "lib/udev/rules.d" COMPONENT tools)

file(GLOB _trov_docs "${PROJECT_SOURCE_DIR}/doc/*.md")
# How the project tests itself is for its developers, not for integrators.
list(FILTER _trov_docs EXCLUDE REGEX "/testing\\.md$")
install(FILES ${_trov_docs} DESTINATION "${TROV_INSTALL_DOCDIR}" COMPONENT doc)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/tools/example/com" DESTINATION "${TROV_INSTALL_DOCDIR}/example"
        COMPONENT doc FILES_MATCHING PATTERN "*.java")

# The copyright notice and the change log, where Debian keeps them for every package. The change log is
# kept by hand in Debian's format; its newest entry must name the version being built.
file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/changelog" _trov_changelog_head LIMIT_COUNT 1)
if(NOT _trov_changelog_head MATCHES "^trovjpos \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog starts with '${_trov_changelog_head}': "
                      "add an entry for version ${PROJECT_VERSION} at its top")
endif()
set(_trov_changelog_gz "${CMAKE_BINARY_DIR}/changelog.gz")
add_custom_command(OUTPUT "${_trov_changelog_gz}"
  COMMAND "${TROV_GZIP}" -9 -n -c "${PROJECT_SOURCE_DIR}/packaging/changelog" > "${_trov_changelog_gz}"
  DEPENDS "${PROJECT_SOURCE_DIR}/packaging/changelog"
  COMMENT "Compressing the change log")
add_custom_target(trovjpos_changelog ALL DEPENDS "${_trov_changelog_gz}")
install(FILES "${PROJECT_SOURCE_DIR}/packaging/copyright" "${_trov_changelog_gz}"
        DESTINATION "${TROV_INSTALL_DOCDIR}" COMPONENT doc)
# lintian's exceptions for the package, each with its reason.
install(FILES "${PROJECT_SOURCE_DIR}/packaging/lintian-overrides" DESTINATION "${CMAKE_INSTALL_DATADIR}/lintian/overrides"
        RENAME trovjpos COMPONENT doc)

# The terminal's settings file. Its place follows the prefix given at install time, as GNUInstallDirs'
# sysconfdir does at configure time: /etc for the prefix /usr (also below a staging directory, as CPack
# installs the package's tree), <prefix>/etc otherwise, so that `cmake --install --prefix` keeps
# everything under the prefix. The package marks it a conffile (packaging/conffiles), so an integrator's
# edits survive upgrades.
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"/usr/?$\")
    string(REGEX REPLACE \"usr/?$\" \"etc/trovjpos\" _trov_etc \"\${CMAKE_INSTALL_PREFIX}\")
  else()
    set(_trov_etc \"\${CMAKE_INSTALL_PREFIX}/etc/trovjpos\")
  endif()
  file(INSTALL DESTINATION \"\${_trov_etc}\" TYPE FILE PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       FILES \"${PROJECT_SOURCE_DIR}/packaging/trovjpos.properties\")
" COMPONENT runtime)

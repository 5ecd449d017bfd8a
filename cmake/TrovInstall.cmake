# What `cmake --install` puts where. An application needs the jar on its class path and the library on
# java.library.path; integrators get the diagnostic tool, the udev rule and the documents. The simulator
# and the test and demo jars stay in the build tree.
#
#   lib/<multiarch>/libTrovJPOS.so        the native library (lib/x86_64-linux-gnu, lib/i386-linux-gnu)
#   share/java/TrovJPOS.jar               the Java service classes
#   bin/trovjpos-diag                     the diagnostic tool
#   lib/udev/rules.d/60-trovjpos.rules    the udev rule (under the prefix: udev reads /usr/lib/udev/rules.d)
#   share/doc/TrovJPOS/                   the documents and the example application's source

# Debian's multiarch directory for the library whatever the prefix: the dynamic linker looks in
# /usr/lib/<multiarch> and /usr/local/lib/<multiarch>, and Debian's JVMs have /usr/lib/<multiarch> on
# java.library.path. GNUInstallDirs chooses it only for the prefix /usr of a native build, and it may
# have been included by another directory already, leaving plain "lib" in the cache; that is replaced
# unless TROV_MULTIARCH_LIBDIR is OFF. Any other CMAKE_INSTALL_LIBDIR given is kept.
option(TROV_MULTIARCH_LIBDIR "Install the library into lib/<multiarch> (Debian) rather than lib" ON)
if(TROV_MULTIARCH_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE
   AND (NOT DEFINED CMAKE_INSTALL_LIBDIR OR CMAKE_INSTALL_LIBDIR STREQUAL "lib"))
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (lib)" FORCE)
endif()
include(GNUInstallDirs)

install(TARGETS TrovJPOS
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime)
install(FILES "${TROV_JAR}" DESTINATION "${CMAKE_INSTALL_DATADIR}/java" COMPONENT runtime)

if(TARGET trovjpos-diag)
  install(TARGETS trovjpos-diag RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT tools)
endif()
# <prefix>/lib/udev/rules.d, not the multiarch library directory; relative, so that
# `cmake --install --prefix` moves it along.
install(FILES "${PROJECT_SOURCE_DIR}/udev/60-trovjpos.rules" DESTINATION "lib/udev/rules.d" COMPONENT tools)

file(GLOB _trov_docs "${PROJECT_SOURCE_DIR}/doc/*.md")
install(FILES ${_trov_docs} DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT doc)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/tools/example/com" DESTINATION "${CMAKE_INSTALL_DOCDIR}/example"
        COMPONENT doc FILES_MATCHING PATTERN "*.java")

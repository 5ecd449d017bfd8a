# SPDX-License-Identifier: Apache-2.0
# The Debian package of a build: `cpack -G DEB` in the build directory (tools/build-debs.sh runs it for
# x86_64 and i386) writes deb/trovjpos_<version>_<arch>.deb. It holds what `cmake --install` installs,
# with the prefix /usr and the binaries stripped. One package per architecture, not a library package
# per architecture beside an architecture-independent one for the jar: this CPack cannot mark a package
# Multi-Arch, and without that a jar package could depend only on the library of the terminal's own
# architecture, so an i386 JVM on an amd64 terminal could not have both. With one package it takes
# everything from trovjpos:i386; the price is that the amd64 and i386 packages exclude each other.
#
# Dependencies, read from the binaries by dpkg-shlibdeps: the C library, which is all the library
# needs, and the C++ runtime of the diagnostic tool; passwd for groupadd in the maintainer scripts. The
# postinst creates the group pos if it is missing and applies the udev rule; the postrm reloads udev
# when the rule goes and, at purge, removes the group only when the postinst created it (packaging/).

# Debian's name for the architecture of the binaries; i386 when built with cmake/i386-linux.cmake.
if(CMAKE_LIBRARY_ARCHITECTURE MATCHES "^x86_64-")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(CMAKE_LIBRARY_ARCHITECTURE MATCHES "^i386-")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()

# Whoever builds the package for terminals maintains it and names themselves at configure time
# (-DTROV_DEB_MAINTAINER="Name <address>"); the default stands in for them and reaches nobody.
set(TROV_DEB_MAINTAINER "Maintainer Placeholder <maintainer-placeholder@example.invalid>"
    CACHE STRING "Maintainer field of the Debian package: the person or team who packs it, Name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trovjpos)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/deb")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TROV_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS passwd)
# The rule does its work only where udev runs; a container that is handed the device node needs none.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
# The licence: packaging/copyright names it in the package (Debian's own generator has no licence
# field); other CPack generators show this file.
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "services for a USB POS keyboard with keylock, MSR and beeper")
set(CPACK_PACKAGE_DESCRIPTION
"Java classes and their native library for the keylock, POS keyboard, magnetic
stripe reader and tone indicator of one USB point-of-sale keyboard, reached
through the Linux hiddev driver. Applications put /usr/share/java/TrovJPOS.jar
on their class path; the JVM finds the library in its default library path.

Also: the diagnostic tool trovjpos-diag, a udev rule that gives the
keyboard's hiddev nodes to the group pos, the terminal's settings file
/etc/trovjpos/trovjpos.properties (the keyboard's beep bytes, the keylock's
positions), the sources and Javadoc of the Java classes, and the
integration and application guides.")
# conffiles: the terminal's settings file in /etc, kept across upgrades with the integrator's edits.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst"
                                        "${PROJECT_SOURCE_DIR}/packaging/postrm"
                                        "${PROJECT_SOURCE_DIR}/packaging/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

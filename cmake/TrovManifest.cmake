# SPDX-License-Identifier: Apache-2.0
# Writes the manifests of the product jars, run at every build (cmake -P) so that the revision they
# name is the one built:
#   cmake -DSOURCE_DIR=<repository> -DGIT=<git or empty> -DVERSION=<x.y.z> -DJDK=<javac version>
#         -DCLASSES=<manifest of TrovJPOS.jar> -DDOCS=<manifest of the sources and Javadoc jars>
#         -P TrovManifest.cmake
# A file is rewritten only when its text changes, so an unchanged revision does not rebuild the jars.
set(revision "unknown")
if(GIT)
  execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" describe --always --long --dirty --abbrev=12
                  OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND described)
    set(revision "${described}")
  endif()
endif()

# What every jar of the release says about itself: what it is, its version, who makes it under which
# licence (the SPDX identifier of the LICENSE file at the repository's root), and the build that made it.
set(common "Implementation-Title: TrovJPOS
Implementation-Version: ${VERSION}
Implementation-Vendor: the libTrovJPOS developers
Bundle-License: Apache-2.0
Build-Revision: ${revision}
Build-Jdk: ${JDK}
")

function(write_if_changed file text)
  if(EXISTS "${file}")
    file(READ "${file}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${file}" "${text}")
endfunction()

# The classes' jar is also the module com.trov.jpos on the module path.
write_if_changed("${CLASSES}" "Automatic-Module-Name: com.trov.jpos\n${common}")
write_if_changed("${DOCS}" "${common}")

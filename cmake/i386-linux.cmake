# SPDX-License-Identifier: Apache-2.0
# Toolchain for the 32-bit x86 Linux target, built on an x86_64 Debian machine with g++-multilib and the
# :i386 libraries. Test binaries run through tools/run-i386.sh, which executes them directly where the
# kernel runs 32-bit programs and under qemu-i386 where it does not; ./tools/test.sh runs them in the VM
# of tests/hil/run.sh, whose kernel does.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tools/run-i386.sh")
set(TROV_TARGET_JAVA "/usr/lib/jvm/java-17-openjdk-i386/bin/java" CACHE FILEPATH "JVM of the target")

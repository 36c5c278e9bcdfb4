# aarch64-linux-gnu.cmake: a toolchain file that cross-compiles for 64-bit Arm Linux with Debian's
# cross compiler (g++-aarch64-linux-gnu), against the arm64 libraries that Debian multiarch
# installs beside the host's (libboost-*-dev:arm64, libgtest-dev:arm64).
#
# Use: cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#        -DMARROWIND_BUILD_PYTHON=OFF
# Where qemu-aarch64-static is installed, the test programs run under it, so that the unit
# tests can be listed and run with ctest on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Multiarch: headers in /usr/include, libraries and package files in /usr/lib/aarch64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

find_program(MARROWIND_AARCH64_EMULATOR qemu-aarch64-static)
if(MARROWIND_AARCH64_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MARROWIND_AARCH64_EMULATOR})
endif()

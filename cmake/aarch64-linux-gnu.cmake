# Cross-building the Linux program for 64-bit ARM with Debian's cross
# compiler (g++-aarch64-linux-gnu) against a folder holding Debian's arm64
# packages (scripts/sysroot.sh), named by NAMEWHEEL_SYSROOT. Qt's code
# generators of the build machine (qtbase5-dev-tools) run in place of the
# arm64 ones the folder holds.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(NOT NAMEWHEEL_SYSROOT)
  set(NAMEWHEEL_SYSROOT "$ENV{NAMEWHEEL_SYSROOT}")
endif()
if(NOT IS_DIRECTORY "${NAMEWHEEL_SYSROOT}/usr/lib/aarch64-linux-gnu")
  message(FATAL_ERROR "NAMEWHEEL_SYSROOT ('${NAMEWHEEL_SYSROOT}') is not a folder of arm64 packages")
endif()
# The checks CMake compiles in test projects see the same folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NAMEWHEEL_SYSROOT)
set(CMAKE_SYSROOT "${NAMEWHEEL_SYSROOT}")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(NAMEWHEEL_QT_HOST_TOOLS /usr/lib/qt5/bin)

# Cross-building the Windows program with Debian's MinGW-w64, included by the
# toolchain file of each processor (mingw-i686.cmake, mingw-x86_64.cmake).
# The -posix variants: the plain names are the win32-threads compilers, whose
# library has no std::mutex and no std::thread.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${NAMEWHEEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NAMEWHEEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${NAMEWHEEL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${NAMEWHEEL_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${NAMEWHEEL_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${NAMEWHEEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The same program for 64-bit Windows: what the Wine tests run on machines
# whose Wine cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(NAMEWHEEL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# SQLite for the Windows program: the amalgamation made from Debian's own
# sqlite3 source package (scripts/sqlite-amalgamation.sh), compiled in.
# Provides SQLite::SQLite3, as find_package(SQLite3) does elsewhere.
set(NAMEWHEEL_SQLITE_DIR ${CMAKE_BINARY_DIR}/sqlite CACHE PATH "Folder holding sqlite3.c and sqlite3.h")
if(NOT EXISTS ${NAMEWHEEL_SQLITE_DIR}/sqlite3.c OR NOT EXISTS ${NAMEWHEEL_SQLITE_DIR}/sqlite3.h)
  message(STATUS "Making the SQLite amalgamation in ${NAMEWHEEL_SQLITE_DIR}")
  execute_process(
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../../scripts/sqlite-amalgamation.sh ${NAMEWHEEL_SQLITE_DIR}
    RESULT_VARIABLE NAMEWHEEL_SQLITE_RESULT)
  if(NOT NAMEWHEEL_SQLITE_RESULT EQUAL 0)
    message(FATAL_ERROR "No SQLite amalgamation: scripts/sqlite-amalgamation.sh failed")
  endif()
endif()

add_library(nwsqlite STATIC ${NAMEWHEEL_SQLITE_DIR}/sqlite3.c)
target_include_directories(nwsqlite SYSTEM PUBLIC ${NAMEWHEEL_SQLITE_DIR})
target_compile_definitions(nwsqlite PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0)
add_library(SQLite::SQLite3 ALIAS nwsqlite)

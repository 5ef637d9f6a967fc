# Fetches the DuckDB runtime library and its C header from the npm registry (pinned versions) into a
# cache outside the source tree. Nothing here is committed; the program dlopen()s the library at run time.
set(QEV_DUCKDB_BINDINGS_PKG "@duckdb/node-bindings-linux-x64@1.4.4-r.4")
set(QEV_DUCKDB_HEADER_PKG "duckdb@1.4.4")
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_qev_cache_root "$ENV{XDG_CACHE_HOME}")
else()
  set(_qev_cache_root "$ENV{HOME}/.cache")
endif()
set(QEV_DUCKDB_CACHE "${_qev_cache_root}/qev-scoreboard/duckdb-1.4.4-r.4" CACHE PATH "Where the fetched DuckDB files are kept")

function(_qev_npm_fetch pkg member dest)
  if(EXISTS "${dest}")
    return()
  endif()
  find_program(NPM_EXECUTABLE npm REQUIRED)
  set(work "${QEV_DUCKDB_CACHE}/tmp")
  file(REMOVE_RECURSE "${work}")
  file(MAKE_DIRECTORY "${work}")
  message(STATUS "Fetching ${pkg} with npm pack")
  execute_process(COMMAND "${NPM_EXECUTABLE}" pack "${pkg}" --silent
                  WORKING_DIRECTORY "${work}" RESULT_VARIABLE rc OUTPUT_VARIABLE tgz
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "npm pack ${pkg} failed (${rc})")
  endif()
  string(REGEX REPLACE ".*\n" "" tgz "${tgz}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf "${tgz}" "package/${member}"
                  WORKING_DIRECTORY "${work}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS "${work}/package/${member}")
    message(FATAL_ERROR "${pkg}: ${member} not found in ${tgz}")
  endif()
  # Rename into place last, so an interrupted fetch never leaves a half file in the cache.
  file(COPY_FILE "${work}/package/${member}" "${dest}.part")
  file(RENAME "${dest}.part" "${dest}")
  file(REMOVE_RECURSE "${work}")
endfunction()

file(MAKE_DIRECTORY "${QEV_DUCKDB_CACHE}/include")
_qev_npm_fetch("${QEV_DUCKDB_BINDINGS_PKG}" "libduckdb.so" "${QEV_DUCKDB_CACHE}/libduckdb.so")
_qev_npm_fetch("${QEV_DUCKDB_HEADER_PKG}" "src/duckdb/src/include/duckdb.h" "${QEV_DUCKDB_CACHE}/include/duckdb.h")

set(DUCKDB_INCLUDE_DIR "${QEV_DUCKDB_CACHE}/include")
set(DUCKDB_LIBRARY "${QEV_DUCKDB_CACHE}/libduckdb.so")
# The runtime goes into the private directory of the build tree, as it does when installed.
set(QEV_BUILD_DUCKDB_LIBRARY "${PROJECT_BINARY_DIR}/${QEV_PRIVATE_LIBDIR}/libduckdb.so")
add_custom_command(OUTPUT "${QEV_BUILD_DUCKDB_LIBRARY}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/${QEV_PRIVATE_LIBDIR}"
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${DUCKDB_LIBRARY}" "${QEV_BUILD_DUCKDB_LIBRARY}"
  DEPENDS "${DUCKDB_LIBRARY}")
add_custom_target(qev_duckdb_runtime DEPENDS "${QEV_BUILD_DUCKDB_LIBRARY}")

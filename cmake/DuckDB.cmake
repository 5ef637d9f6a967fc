# The DuckDB runtime and C header, fetched and checked by DuckDBFetch.cmake. Nothing here is committed;
# the program dlopen()s the library at run time.

# The DuckDB build that runs where this build's program runs: the target's, not the build machine's.
if(NOT QEV_DUCKDB_PLATFORM)
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" _qev_cpu)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND _qev_cpu MATCHES "^(x86_64|amd64)$")
    set(QEV_DUCKDB_PLATFORM linux-x64)
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND _qev_cpu MATCHES "^(aarch64|arm64)$")
    set(QEV_DUCKDB_PLATFORM linux-arm64)
  elseif(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND _qev_cpu MATCHES "^(x86_64|amd64)$")
    set(QEV_DUCKDB_PLATFORM win32-x64)
  else()
    message(FATAL_ERROR "No DuckDB build for ${CMAKE_SYSTEM_NAME} on ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/DuckDBFetch.cmake)

# The runtime goes into the private directory of the build tree, as it does when installed.
set(QEV_BUILD_DUCKDB_LIBRARY "${PROJECT_BINARY_DIR}/${QEV_PRIVATE_LIBDIR}/${DUCKDB_LIBRARY_NAME}")
add_custom_command(OUTPUT "${QEV_BUILD_DUCKDB_LIBRARY}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/${QEV_PRIVATE_LIBDIR}"
  # Checked again before the copy: the cache may have changed since configuration.
  COMMAND ${CMAKE_COMMAND} -DQEV_DUCKDB_PLATFORM=${QEV_DUCKDB_PLATFORM} -DQEV_DUCKDB_CACHE_DIR=${QEV_DUCKDB_CACHE_DIR}
          -P ${CMAKE_CURRENT_LIST_DIR}/DuckDBFetch.cmake
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${DUCKDB_LIBRARY}" "${QEV_BUILD_DUCKDB_LIBRARY}"
  DEPENDS "${DUCKDB_LIBRARY}")
add_custom_target(qev_duckdb_runtime DEPENDS "${QEV_BUILD_DUCKDB_LIBRARY}")

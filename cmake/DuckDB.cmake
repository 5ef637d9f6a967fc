# The DuckDB runtime and C header, fetched and checked by DuckDBFetch.cmake. Nothing here is committed;
# the program dlopen()s the library at run time.
include(${CMAKE_CURRENT_LIST_DIR}/DuckDBFetch.cmake)
# The runtime goes into the private directory of the build tree, as it does when installed.
set(QEV_BUILD_DUCKDB_LIBRARY "${PROJECT_BINARY_DIR}/${QEV_PRIVATE_LIBDIR}/libduckdb.so")
add_custom_command(OUTPUT "${QEV_BUILD_DUCKDB_LIBRARY}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/${QEV_PRIVATE_LIBDIR}"
  # Checked again before the copy: the cache may have changed since configuration.
  COMMAND ${CMAKE_COMMAND} -DQEV_DUCKDB_CACHE=${QEV_DUCKDB_CACHE} -P ${CMAKE_CURRENT_LIST_DIR}/DuckDBFetch.cmake
  COMMAND ${CMAKE_COMMAND} -E copy_if_different "${DUCKDB_LIBRARY}" "${QEV_BUILD_DUCKDB_LIBRARY}"
  DEPENDS "${DUCKDB_LIBRARY}")
add_custom_target(qev_duckdb_runtime DEPENDS "${QEV_BUILD_DUCKDB_LIBRARY}")

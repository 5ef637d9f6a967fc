# The DuckDB fetch refuses files that are not the pinned ones: a damaged cached copy and a tarball
# whose checksum differs both stop it with a message, and a good cache is used without fetching.
# Run with cmake -P; inputs: FETCH_SCRIPT (cmake/DuckDBFetch.cmake), LIBRARY and HEADER (the good
# cached files), SCRATCH (a directory this test owns).
cmake_minimum_required(VERSION 3.25)

# An npm that must not be called, and one whose "registry" serves a tampered tarball.
set(no_npm "${SCRATCH}/no-npm")
set(bad_npm "${SCRATCH}/bad-npm")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(WRITE "${no_npm}" "#!/bin/sh\necho 'npm called' >&2\nexit 99\n")
file(WRITE "${bad_npm}" "#!/bin/sh\nmkdir -p package/src/duckdb/src/include\necho tampered > package/libduckdb.so\n"
                        "echo tampered > package/src/duckdb/src/include/duckdb.h\n"
                        "tar czf tampered-1.0.0.tgz package && echo tampered-1.0.0.tgz\n")
file(CHMOD "${no_npm}" "${bad_npm}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(fetch cache npm)
  execute_process(COMMAND ${CMAKE_COMMAND} -DQEV_DUCKDB_CACHE=${cache} -DNPM_EXECUTABLE=${npm} -P "${FETCH_SCRIPT}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc "${rc}" PARENT_SCOPE)
  set(out "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_mismatch what file)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${what}: the fetch succeeded\n${out}")
  endif()
  # CMake wraps long message lines: compare with the white space folded.
  string(REGEX REPLACE "[ \t\n]+" " " flat "${out}")
  string(FIND "${flat}" "DuckDB checksum mismatch: ${file} expected SHA" at)
  if(at EQUAL -1 OR NOT flat MATCHES "expected SHA(256|512) [0-9a-f]+ actual SHA(256|512) [0-9a-f]+")
    message(FATAL_ERROR "${what}: no clear mismatch message for ${file}:\n${out}")
  endif()
endfunction()

# A good cache: accepted as it is.
set(good "${SCRATCH}/good")
file(MAKE_DIRECTORY "${good}/include")
file(CREATE_LINK "${LIBRARY}" "${good}/libduckdb.so" SYMBOLIC)
file(CREATE_LINK "${HEADER}" "${good}/include/duckdb.h" SYMBOLIC)
fetch("${good}" "${no_npm}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "a good cache was refused:\n${out}")
endif()

# A cached library with one byte more: refused, and left for the user to look at.
set(damaged "${SCRATCH}/damaged")
file(MAKE_DIRECTORY "${damaged}/include")
file(COPY_FILE "${LIBRARY}" "${damaged}/libduckdb.so")
file(APPEND "${damaged}/libduckdb.so" "x")
file(CREATE_LINK "${HEADER}" "${damaged}/include/duckdb.h" SYMBOLIC)
fetch("${damaged}" "${no_npm}")
expect_mismatch("damaged cached library" "${damaged}/libduckdb.so")
file(SIZE "${damaged}/libduckdb.so" damaged_size)
file(SIZE "${LIBRARY}" good_size)
math(EXPR good_size "${good_size} + 1")
if(NOT damaged_size EQUAL good_size)
  message(FATAL_ERROR "the damaged cached library was replaced or removed")
endif()

# A damaged header is caught too.
set(bad_header "${SCRATCH}/bad-header")
file(MAKE_DIRECTORY "${bad_header}/include")
file(CREATE_LINK "${LIBRARY}" "${bad_header}/libduckdb.so" SYMBOLIC)
file(WRITE "${bad_header}/include/duckdb.h" "/* not the pinned header */\n")
fetch("${bad_header}" "${no_npm}")
expect_mismatch("damaged cached header" "${bad_header}/include/duckdb.h")

# A fresh fetch of a tampered tarball: refused before anything enters the cache.
set(fresh "${SCRATCH}/fresh")
fetch("${fresh}" "${bad_npm}")
expect_mismatch("tampered tarball" "${fresh}/tmp/tampered-1.0.0.tgz")
if(EXISTS "${fresh}/libduckdb.so" OR EXISTS "${fresh}/libduckdb.so.part")
  message(FATAL_ERROR "a tampered tarball's library entered the cache")
endif()

file(REMOVE_RECURSE "${SCRATCH}")

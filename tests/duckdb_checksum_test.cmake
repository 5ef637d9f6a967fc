# The DuckDB fetch refuses files that are not the pinned ones: a damaged cached copy, another
# platform's library and a tarball whose checksum differs all stop it with a message, and a good cache is
# used without fetching.
# Run with cmake -P; inputs: FETCH_SCRIPT (cmake/DuckDBFetch.cmake), PLATFORM, LIBRARY and HEADER (the
# good cached files of that platform), SCRATCH (a directory this test owns).
cmake_minimum_required(VERSION 3.25)

# The cache keeps CACHE_DIR/<release>/<platform>/<library> and CACHE_DIR/<release>/include/duckdb.h.
get_filename_component(lib_name "${LIBRARY}" NAME)
get_filename_component(platform_dir "${LIBRARY}" DIRECTORY)
get_filename_component(release_dir "${platform_dir}" DIRECTORY)
get_filename_component(release "${release_dir}" NAME)
set(platforms linux-x64 linux-arm64 win32-x64)
if(NOT PLATFORM IN_LIST platforms)
  message(FATAL_ERROR "unexpected PLATFORM ${PLATFORM}")
endif()

# An npm that must not be called, and one whose "registry" serves a tampered tarball.
set(no_npm "${SCRATCH}/no-npm")
set(bad_npm "${SCRATCH}/bad-npm")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
file(WRITE "${no_npm}" "#!/bin/sh\necho 'npm called' >&2\nexit 99\n")
file(WRITE "${bad_npm}" "#!/bin/sh\nmkdir -p package/src/duckdb/src/include\n"
                        "echo tampered > package/libduckdb.so\necho tampered > package/duckdb.dll\n"
                        "echo tampered > package/src/duckdb/src/include/duckdb.h\n"
                        "tar czf tampered-1.0.0.tgz package && echo tampered-1.0.0.tgz\n")
file(CHMOD "${no_npm}" "${bad_npm}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(fetch cache npm)
  if(ARGC GREATER 2)
    set(platform "${ARGV2}")
  else()
    set(platform "${PLATFORM}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -DQEV_DUCKDB_PLATFORM=${platform} -DQEV_DUCKDB_CACHE_DIR=${cache}
                          -DNPM_EXECUTABLE=${npm} -P "${FETCH_SCRIPT}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(rc "${rc}" PARENT_SCOPE)
  set(out "${out}${err}" PARENT_SCOPE)
endfunction()

# The message must name the file `path`; a fresh tarball lies in a scratch directory of a random name:
# then `path` is that directory's parent and `name` the tarball's name.
function(expect_mismatch what path)
  if(rc EQUAL 0)
    message(FATAL_ERROR "${what}: the fetch succeeded\n${out}")
  endif()
  set(name "${ARGV2}")
  # CMake wraps long message lines: compare with the white space folded.
  string(REGEX REPLACE "[ \t\n]+" " " flat "${out}")
  string(FIND "${flat}" "DuckDB checksum mismatch: ${path}" at)
  if(NOT at EQUAL -1)
    string(LENGTH "DuckDB checksum mismatch: ${path}" skip)
    math(EXPR at "${at} + ${skip}")
    string(SUBSTRING "${flat}" ${at} -1 rest)
  endif()
  set(named "^ expected")
  if(name)
    set(named "^/\\.fetch-[A-Za-z0-9]+/${name} expected")
  endif()
  if(at EQUAL -1 OR NOT rest MATCHES "${named} SHA(256|512) [0-9a-f]+ actual SHA(256|512) [0-9a-f]+")
    message(FATAL_ERROR "${what}: no clear mismatch message for ${path}/${name}:\n${out}")
  endif()
endfunction()

# A cache for `platform` under `cache`, holding links to the good files (or what the caller puts there).
function(good_cache cache platform)
  file(MAKE_DIRECTORY "${cache}/${release}/include" "${cache}/${release}/${platform}")
  file(CREATE_LINK "${HEADER}" "${cache}/${release}/include/duckdb.h" SYMBOLIC)
  if(platform STREQUAL PLATFORM)
    file(CREATE_LINK "${LIBRARY}" "${cache}/${release}/${platform}/${lib_name}" SYMBOLIC)
  endif()
endfunction()

# A good cache: accepted as it is.
set(good "${SCRATCH}/good")
good_cache("${good}" "${PLATFORM}")
fetch("${good}" "${no_npm}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "a good cache was refused:\n${out}")
endif()

# A cached library with one byte more: refused, and left for the user to look at.
set(damaged "${SCRATCH}/damaged")
set(damaged_lib "${damaged}/${release}/${PLATFORM}/${lib_name}")
good_cache("${damaged}" none)
file(MAKE_DIRECTORY "${damaged}/${release}/${PLATFORM}")
file(COPY_FILE "${LIBRARY}" "${damaged_lib}")
file(APPEND "${damaged_lib}" "x")
fetch("${damaged}" "${no_npm}")
expect_mismatch("damaged cached library" "${damaged_lib}")
file(SIZE "${damaged_lib}" damaged_size)
file(SIZE "${LIBRARY}" good_size)
math(EXPR good_size "${good_size} + 1")
if(NOT damaged_size EQUAL good_size)
  message(FATAL_ERROR "the damaged cached library was replaced or removed")
endif()

# A damaged header is caught too.
set(bad_header "${SCRATCH}/bad-header")
good_cache("${bad_header}" "${PLATFORM}")
file(REMOVE "${bad_header}/${release}/include/duckdb.h")
file(WRITE "${bad_header}/${release}/include/duckdb.h" "/* not the pinned header */\n")
fetch("${bad_header}" "${no_npm}")
expect_mismatch("damaged cached header" "${bad_header}/${release}/include/duckdb.h")

# Every platform has its own pin: this platform's library, cached where another platform's belongs, is
# refused for that platform, and its library is never taken from this platform's place.
foreach(other IN LISTS platforms)
  if(other STREQUAL PLATFORM)
    continue()
  endif()
  set(mixed "${SCRATCH}/mixed-${other}")
  good_cache("${mixed}" "${PLATFORM}")
  set(other_lib "${mixed}/${release}/${other}/libduckdb.so")
  if(other MATCHES "^win")
    set(other_lib "${mixed}/${release}/${other}/duckdb.dll")
  endif()
  file(MAKE_DIRECTORY "${mixed}/${release}/${other}")
  file(CREATE_LINK "${LIBRARY}" "${other_lib}" SYMBOLIC)
  fetch("${mixed}" "${no_npm}" "${other}")
  expect_mismatch("${PLATFORM}'s library as ${other}'s" "${other_lib}")
endforeach()

# A fresh fetch of a tampered tarball, for every pinned platform: refused before anything enters the cache.
foreach(platform IN LISTS platforms)
  set(fresh "${SCRATCH}/fresh-${platform}")
  fetch("${fresh}" "${bad_npm}" "${platform}")
  expect_mismatch("tampered tarball for ${platform}" "${fresh}/${release}/${platform}" "tampered-1.0.0.tgz")
  foreach(name libduckdb.so duckdb.dll)
    if(EXISTS "${fresh}/${release}/${platform}/${name}")
      message(FATAL_ERROR "a tampered tarball's library entered the cache: ${fresh}/${release}/${platform}/${name}")
    endif()
  endforeach()
endforeach()

# A platform without a pin is named, not guessed at.
fetch("${good}" "${no_npm}" "linux-riscv64")
string(REGEX REPLACE "[ \t\n]+" " " flat "${out}")
if(rc EQUAL 0 OR NOT flat MATCHES "No DuckDB build is pinned for platform 'linux-riscv64'")
  message(FATAL_ERROR "an unpinned platform was not refused clearly:\n${out}")
endif()

file(REMOVE_RECURSE "${SCRATCH}")

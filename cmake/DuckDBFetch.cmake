# Fetches the DuckDB runtime library and its C header from the npm registry (pinned versions) into a
# cache outside the source tree, and checks every file against the checksums pinned here before the
# build uses it: a fresh tarball against the registry's integrity value, a cached file (fresh or from
# an earlier build) against its own SHA-256. Included by DuckDB.cmake; also runs on its own as
# `cmake [-DQEV_DUCKDB_CACHE=DIR] [-DNPM_EXECUTABLE=npm] -P cmake/DuckDBFetch.cmake`.
cmake_minimum_required(VERSION 3.25)

set(QEV_DUCKDB_BINDINGS_PKG "@duckdb/node-bindings-linux-x64@1.4.4-r.4")
# npm's dist.integrity: sha512-jBTL/WvfwxLToFa/pVHfT6elMtltJGnc3wSuxZD9OfMltit9YUdVFS37vBFQzXMT1Z8OWjtSjMh+zPKxOwHLHA==
set(QEV_DUCKDB_BINDINGS_SHA512
    "8c14cbfd6bdfc312d3a056bfa551df4fa7a532d96d2469dcdf04aec590fd39f325b62b7d614755152dfbbc1150cd7313d59f0e5a3b528cc87eccf2b13b01cb1c")
set(QEV_DUCKDB_LIBRARY_SHA256 "1ef33048e12235115ac0d277a0aaccbb560e33248144f488b5ac005cd9ba81b5")
set(QEV_DUCKDB_HEADER_PKG "duckdb@1.4.4")
# npm's dist.integrity: sha512-hEJJ5hyVF0VLj3dmOLpsWrQR0b3d4Ykqtygm6iUXjHJDDnSqg/USKxcb5qvNrOhFYPgktayU6dXCtgPqcmmpog==
set(QEV_DUCKDB_HEADER_PKG_SHA512
    "844249e61c9517454b8f776638ba6c5ab411d1bddde1892ab72826ea25178c72430e74aa83f5122b171be6abcdace84560f824b5ac94e9d5c2b603ea7269a9a2")
set(QEV_DUCKDB_HEADER_SHA256 "cbe6a827284375c5a646b8f27dbd3a00808ce8738b5bbb49c190cb1e08540281")

if(NOT QEV_DUCKDB_CACHE)
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(_qev_cache_root "$ENV{XDG_CACHE_HOME}")
  else()
    set(_qev_cache_root "$ENV{HOME}/.cache")
  endif()
  set(QEV_DUCKDB_CACHE "${_qev_cache_root}/qev-scoreboard/duckdb-1.4.4-r.4" CACHE PATH "Where the fetched DuckDB files are kept")
endif()

# Stops with a message naming the file, both digests and the way out when `file` is not the pinned one.
function(qev_duckdb_verify file algo expected)
  file(${algo} "${file}" actual)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR
      "DuckDB checksum mismatch: ${file}\n"
      "  expected ${algo} ${expected}\n"
      "  actual   ${algo} ${actual}\n"
      "The file is not the pinned release; refusing to build with it. If it is a damaged cache, "
      "delete it and configure again to fetch it anew.")
  endif()
endfunction()

function(_qev_npm_fetch pkg pkg_sha512 member dest dest_sha256)
  if(NOT EXISTS "${dest}")
    if(NOT NPM_EXECUTABLE)
      find_program(NPM_EXECUTABLE npm REQUIRED)
    endif()
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
    if(NOT EXISTS "${work}/${tgz}")
      message(FATAL_ERROR "npm pack ${pkg} left no tarball (said '${tgz}')")
    endif()
    qev_duckdb_verify("${work}/${tgz}" SHA512 "${pkg_sha512}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf "${tgz}" "package/${member}"
                    WORKING_DIRECTORY "${work}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT EXISTS "${work}/package/${member}")
      message(FATAL_ERROR "${pkg}: ${member} not found in ${tgz}")
    endif()
    # Rename into place last, so an interrupted fetch never leaves a half file in the cache.
    file(COPY_FILE "${work}/package/${member}" "${dest}.part")
    file(RENAME "${dest}.part" "${dest}")
    file(REMOVE_RECURSE "${work}")
  endif()
  qev_duckdb_verify("${dest}" SHA256 "${dest_sha256}")
endfunction()

file(MAKE_DIRECTORY "${QEV_DUCKDB_CACHE}/include")
_qev_npm_fetch("${QEV_DUCKDB_BINDINGS_PKG}" "${QEV_DUCKDB_BINDINGS_SHA512}" "libduckdb.so"
               "${QEV_DUCKDB_CACHE}/libduckdb.so" "${QEV_DUCKDB_LIBRARY_SHA256}")
_qev_npm_fetch("${QEV_DUCKDB_HEADER_PKG}" "${QEV_DUCKDB_HEADER_PKG_SHA512}" "src/duckdb/src/include/duckdb.h"
               "${QEV_DUCKDB_CACHE}/include/duckdb.h" "${QEV_DUCKDB_HEADER_SHA256}")

set(DUCKDB_INCLUDE_DIR "${QEV_DUCKDB_CACHE}/include")
set(DUCKDB_LIBRARY "${QEV_DUCKDB_CACHE}/libduckdb.so")

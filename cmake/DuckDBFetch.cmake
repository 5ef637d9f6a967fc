# Fetches the DuckDB runtime library of one platform and the C header from the npm registry (pinned
# versions) into a cache outside the source tree, and checks every file against the checksums pinned here
# before the build uses it: a fresh tarball against the registry's integrity value, a cached file (fresh
# or from an earlier build) against its own SHA-256. Every platform uses the same DuckDB release; only the
# platform a build asks for is fetched. Included by DuckDB.cmake (which picks the platform from the
# toolchain); also runs on its own as
#   cmake -DQEV_DUCKDB_PLATFORM=linux-x64|linux-arm64|win32-x64 [-DQEV_DUCKDB_CACHE_DIR=DIR]
#         [-DNPM_EXECUTABLE=npm] -P cmake/DuckDBFetch.cmake
# Layout of the cache: DIR/duckdb-<release>/include/duckdb.h and DIR/duckdb-<release>/<platform>/<library>.
cmake_minimum_required(VERSION 3.25)

set(QEV_DUCKDB_RELEASE "1.4.4-r.3")
set(QEV_DUCKDB_PLATFORMS linux-x64 linux-arm64 win32-x64)

# Per platform: the file taken from the bindings tarball, npm's dist.integrity of that tarball (as hex),
# and the file's own SHA-256.
# sha512-Z59zpUIcZilHBmcZpmwfFwi6/OAnKlVQCE9/NGgZCFSqYeb+3ij5HQy26hp10GIiv3HxUQGId8HVs92x2jvckQ==
set(QEV_DUCKDB_linux-x64_FILE "libduckdb.so")
set(QEV_DUCKDB_linux-x64_TGZ_SHA512
    "679f73a5421c662947066719a66c1f1708bafce0272a5550084f7f3468190854aa61e6fede28f91d0cb6ea1a75d06222bf71f151018877c1d5b3ddb1da3bdc91")
set(QEV_DUCKDB_linux-x64_SHA256 "1ef33048e12235115ac0d277a0aaccbb560e33248144f488b5ac005cd9ba81b5")
# sha512-qF2/WhB+i+8is60RrpTY/5ZnywIUayuBiVXSuQ4rrRn1m1gvfKqPvjySbiDjYgQo/6OXu/fax0KC1gXnNWoLEA==
set(QEV_DUCKDB_linux-arm64_FILE "libduckdb.so")
set(QEV_DUCKDB_linux-arm64_TGZ_SHA512
    "a85dbf5a107e8bef22b3ad11ae94d8ff9667cb02146b2b818955d2b90e2bad19f59b582f7caa8fbe3c926e20e3620428ffa397bbf7dac74282d605e7356a0b10")
set(QEV_DUCKDB_linux-arm64_SHA256 "c8e20af1e0064bdb7bf79af4d16f17ee8be16803bc98a4df58588bed1301c042")
# sha512-5CzkI3jPkwALPYS66/vj/3wgsICxALkqRdOEJc8wHqPPlpM/Ez7jFAovI7+S8JrTaxUANkiIAcCtYYAJPElbRQ==
set(QEV_DUCKDB_win32-x64_FILE "duckdb.dll")
set(QEV_DUCKDB_win32-x64_TGZ_SHA512
    "e42ce42378cf93000b3d84baebfbe3ff7c20b080b100b92a45d38425cf301ea3cf96933f133ee3140a2f23bf92f09ad36b150036488801c0ad6180093c495b45")
set(QEV_DUCKDB_win32-x64_SHA256 "bc68fcd80f618374fa6f2b4fb7215fdde2977b620a8d2324713c68e26b2f54f0")

set(QEV_DUCKDB_HEADER_PKG "duckdb@1.4.4")
# sha512-hEJJ5hyVF0VLj3dmOLpsWrQR0b3d4Ykqtygm6iUXjHJDDnSqg/USKxcb5qvNrOhFYPgktayU6dXCtgPqcmmpog==
set(QEV_DUCKDB_HEADER_PKG_SHA512
    "844249e61c9517454b8f776638ba6c5ab411d1bddde1892ab72826ea25178c72430e74aa83f5122b171be6abcdace84560f824b5ac94e9d5c2b603ea7269a9a2")
set(QEV_DUCKDB_HEADER_SHA256 "cbe6a827284375c5a646b8f27dbd3a00808ce8738b5bbb49c190cb1e08540281")

if(NOT QEV_DUCKDB_PLATFORM IN_LIST QEV_DUCKDB_PLATFORMS)
  list(JOIN QEV_DUCKDB_PLATFORMS ", " _qev_known)
  message(FATAL_ERROR "No DuckDB build is pinned for platform '${QEV_DUCKDB_PLATFORM}' (pinned: ${_qev_known})")
endif()

if(NOT QEV_DUCKDB_CACHE_DIR)
  if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(_qev_cache_root "$ENV{XDG_CACHE_HOME}")
  else()
    set(_qev_cache_root "$ENV{HOME}/.cache")
  endif()
  set(QEV_DUCKDB_CACHE_DIR "${_qev_cache_root}/qev-scoreboard" CACHE PATH "Where the fetched DuckDB files are kept")
endif()
set(_qev_release_dir "${QEV_DUCKDB_CACHE_DIR}/duckdb-${QEV_DUCKDB_RELEASE}")

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
    get_filename_component(dest_dir "${dest}" DIRECTORY)
    file(MAKE_DIRECTORY "${dest_dir}")
    # A name of its own, so that two builds fetching at once do not share a scratch directory.
    string(RANDOM LENGTH 8 tag)
    set(work "${dest_dir}/.fetch-${tag}")
    file(MAKE_DIRECTORY "${work}")
    message(STATUS "Fetching ${pkg} with npm pack")
    execute_process(COMMAND "${NPM_EXECUTABLE}" pack "${pkg}" --silent
                    WORKING_DIRECTORY "${work}" RESULT_VARIABLE rc OUTPUT_VARIABLE tgz
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      file(REMOVE_RECURSE "${work}")
      message(FATAL_ERROR "npm pack ${pkg} failed (${rc})")
    endif()
    string(REGEX REPLACE ".*\n" "" tgz "${tgz}")
    if(NOT EXISTS "${work}/${tgz}")
      file(REMOVE_RECURSE "${work}")
      message(FATAL_ERROR "npm pack ${pkg} left no tarball (said '${tgz}')")
    endif()
    # A refused tarball stays where the message says, for the user to look at.
    qev_duckdb_verify("${work}/${tgz}" SHA512 "${pkg_sha512}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xzf "${tgz}" "package/${member}"
                    WORKING_DIRECTORY "${work}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT EXISTS "${work}/package/${member}")
      file(REMOVE_RECURSE "${work}")
      message(FATAL_ERROR "${pkg}: ${member} not found in ${tgz}")
    endif()
    # Rename into place last, so an interrupted fetch never leaves a half file in the cache.
    file(RENAME "${work}/package/${member}" "${dest}")
    file(REMOVE_RECURSE "${work}")
  endif()
  qev_duckdb_verify("${dest}" SHA256 "${dest_sha256}")
endfunction()

set(DUCKDB_LIBRARY_NAME "${QEV_DUCKDB_${QEV_DUCKDB_PLATFORM}_FILE}")
set(DUCKDB_LIBRARY "${_qev_release_dir}/${QEV_DUCKDB_PLATFORM}/${DUCKDB_LIBRARY_NAME}")
set(DUCKDB_INCLUDE_DIR "${_qev_release_dir}/include")
_qev_npm_fetch("@duckdb/node-bindings-${QEV_DUCKDB_PLATFORM}@${QEV_DUCKDB_RELEASE}"
               "${QEV_DUCKDB_${QEV_DUCKDB_PLATFORM}_TGZ_SHA512}" "${DUCKDB_LIBRARY_NAME}"
               "${DUCKDB_LIBRARY}" "${QEV_DUCKDB_${QEV_DUCKDB_PLATFORM}_SHA256}")
_qev_npm_fetch("${QEV_DUCKDB_HEADER_PKG}" "${QEV_DUCKDB_HEADER_PKG_SHA512}" "src/duckdb/src/include/duckdb.h"
               "${DUCKDB_INCLUDE_DIR}/duckdb.h" "${QEV_DUCKDB_HEADER_SHA256}")

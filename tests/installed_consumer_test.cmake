# Installs the current build into a scratch prefix, builds tests/consumer against it with find_package
# and a C program with the flags pkg-config gives, runs both on fresh work directories and checks what
# they did. Run with cmake -P; every input comes in as -D<name>=<value> from tests/CMakeLists.txt:
#   BUILD_DIR CONSUMER_SRC SCRATCH VERSION GENERATOR CXX_COMPILER C_COMPILER CXX_FLAGS C_FLAGS
#   EXE_LINKER_FLAGS PKG_CONFIG LIBDIR
# Given PREFIX (an installed tree, e.g. unpacked packages) instead of BUILD_DIR, it checks that tree;
# PKGCONFIG_DIR (relative to the prefix) defaults to LIBDIR/pkgconfig; SYSROOT is the root of a staged
# tree whose pkg-config file names its final prefix. For a tree built for another machine, TOOLCHAIN_FILE
# builds the consumer for it, EMULATOR (a list) runs what was built, and PKG_CONFIG_LIBDIR names where
# pkg-config finds the target's own modules.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " line "${ARGN}")
    message(FATAL_ERROR "${line}\nexit: ${rc}\n${out}\n${err}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
endfunction()

# A work directory after a first sync holds every package notebook but the ingest one, byte for byte,
# and a stamp with the bare version.
function(check_synced ws)
  file(GLOB notebooks RELATIVE "${NB_DIR}" "${NB_DIR}/*.ipynb")
  list(REMOVE_ITEM notebooks nb_01_ingest.ipynb)
  file(GLOB installed RELATIVE "${ws}" "${ws}/*.ipynb")
  list(SORT notebooks)
  list(SORT installed)
  if(NOT "${installed}" STREQUAL "${notebooks}")
    message(FATAL_ERROR "${ws}: installed [${installed}], expected [${notebooks}]")
  endif()
  foreach(nb IN LISTS notebooks)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${NB_DIR}/${nb}" "${ws}/${nb}" RESULT_VARIABLE differs)
    if(differs)
      message(FATAL_ERROR "${ws}/${nb} differs from the package's")
    endif()
  endforeach()
  file(READ "${ws}/db/.nb_version" stamp)
  if(NOT stamp STREQUAL VERSION)
    message(FATAL_ERROR "${ws}: stamp '${stamp}', expected '${VERSION}'")
  endif()
endfunction()

if(DEFINED PREFIX)
  set(prefix "${PREFIX}")
else()
  set(prefix "${SCRATCH}/prefix")
endif()
if(NOT DEFINED PKGCONFIG_DIR)
  set(PKGCONFIG_DIR "${LIBDIR}/pkgconfig")
endif()
set(NB_DIR "${prefix}/share/qev-scoreboard/notebooks")
file(REMOVE_RECURSE "${SCRATCH}")
# The sync updates work directories; it makes none.
file(MAKE_DIRECTORY "${SCRATCH}/ws-cxx" "${SCRATCH}/ws-c" "${SCRATCH}/ws-pkgconfig" "${SCRATCH}/ws-failing")
file(WRITE "${SCRATCH}/ws-failing/db" "a file where the db directory belongs")

if(NOT DEFINED PREFIX)
  run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
endif()

# The consumer is built with the same compiler and flags as this build: a sanitizer build's library
# needs its runtime in the program that loads it.
set(toolchain "")
if(TOOLCHAIN_FILE)
  set(toolchain "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}")
endif()
run(${CMAKE_COMMAND} -S "${CONSUMER_SRC}" -B "${SCRATCH}/build" -G "${GENERATOR}" ${toolchain}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER}
    -DCMAKE_CXX_FLAGS=${CXX_FLAGS} -DCMAKE_C_FLAGS=${C_FLAGS} -DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS})
file(STRINGS "${SCRATCH}/build/CMakeCache.txt" found REGEX "^qev_scoreboard_DIR:")
if(NOT found STREQUAL "qev_scoreboard_DIR:PATH=${prefix}/${LIBDIR}/cmake/qev_scoreboard")
  message(FATAL_ERROR "package found elsewhere: ${found}")
endif()
run(${CMAKE_COMMAND} --build "${SCRATCH}/build")

run(${EMULATOR} "${SCRATCH}/build/consumer" "${SCRATCH}/ws-cxx" "${SCRATCH}/ws-c" "${SCRATCH}/ws-failing")
file(GLOB notebooks "${NB_DIR}/*.ipynb")
list(LENGTH notebooks n)
math(EXPR n "${n} - 1")
set(line "  [SYNC] Notebook'lar kopyalandı: v${VERSION} (${n} dosya)\n")
set(expected "${line}${line}failure: ${SCRATCH}/ws-failing/db: dizin oluşturulamadı: ")
string(LENGTH "${expected}" expected_length)
string(SUBSTRING "${run_out}" 0 ${expected_length} run_head)
if(NOT run_head STREQUAL expected OR NOT run_out MATCHES "dizin oluşturulamadı: [^\n]+\n$")
  message(FATAL_ERROR "consumer printed:\n${run_out}expected:\n${expected}")
endif()
check_synced("${SCRATCH}/ws-cxx")
check_synced("${SCRATCH}/ws-c")
if(EXISTS "${SCRATCH}/ws-failing/qev_pipeline.ipynb")
  message(FATAL_ERROR "the failing work directory was changed")
endif()

# pkg-config, from the installed tree only.
set(pc ${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${prefix}/${PKGCONFIG_DIR}")
if(DEFINED SYSROOT)
  list(APPEND pc "PKG_CONFIG_SYSROOT_DIR=${SYSROOT}")
endif()
if(DEFINED PKG_CONFIG_LIBDIR)
  list(APPEND pc "PKG_CONFIG_LIBDIR=${PKG_CONFIG_LIBDIR}")
endif()
list(APPEND pc "${PKG_CONFIG}")
run(${pc} --modversion qev_scoreboard)
if(NOT run_out STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config version: ${run_out}")
endif()
run(${pc} --cflags --libs qev_scoreboard)
string(STRIP "${run_out}" pc_flags)
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
set(resolved "")
foreach(flag IN LISTS pc_flags)
  if(flag MATCHES "^-([IL])(.*)$")
    get_filename_component(dir "${CMAKE_MATCH_2}" REALPATH)
    list(APPEND resolved "-${CMAKE_MATCH_1}${dir}")
  else()
    list(APPEND resolved "${flag}")
  endif()
endforeach()
get_filename_component(real_prefix "${prefix}" REALPATH)
if(NOT resolved STREQUAL "-I${real_prefix}/include;-L${real_prefix}/${LIBDIR};-lqev_scoreboard")
  message(FATAL_ERROR "pkg-config flags: ${resolved}")
endif()
run("${C_COMPILER}" ${c_flags} -DQEV_C_PART_MAIN "${CONSUMER_SRC}/c_part.c" ${pc_flags}
    "-Wl,-rpath,${prefix}/${LIBDIR}" -o "${SCRATCH}/c_consumer")
run(${EMULATOR} "${SCRATCH}/c_consumer" "${SCRATCH}/ws-pkgconfig")
if(NOT run_out STREQUAL line)
  message(FATAL_ERROR "C program printed: ${run_out}")
endif()
check_synced("${SCRATCH}/ws-pkgconfig")

# The installed tree holds a copy of the DuckDB runtime; do not keep it around after a pass.
file(REMOVE_RECURSE "${SCRATCH}")

# The installed library as a package: a CMake config (find_package(qev_scoreboard), target
# qev_scoreboard::qev_scoreboard) and a pkg-config file. Both are relocatable: they locate the prefix
# from where they were installed, so `cmake --install --prefix` anywhere gives a working tree.
include(CMakePackageConfigHelpers)

set(QEV_CMAKE_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qev_scoreboard)
# Where SHA-256 comes from, as the files tell their reader: what the platform layer's digest uses.
if(WIN32)
  set(QEV_DIGEST_NOTE "SHA-256 comes from the system's CNG (bcrypt.dll): consumers need nothing else to build, link or run.")
else()
  set(QEV_DIGEST_NOTE "SHA-256 comes from libcrypto (OpenSSL 3), loaded at run time when the first fingerprint is taken: consumers need neither its headers nor to link it.")
endif()
set(QEV_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig CACHE STRING "pkg-config file directory, relative to the prefix")

install(EXPORT qev_scoreboardTargets
  NAMESPACE qev_scoreboard::
  DESTINATION ${QEV_CMAKE_CONFIG_DIR})
configure_package_config_file(cmake/qev_scoreboardConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/qev_scoreboardConfig.cmake
  INSTALL_DESTINATION ${QEV_CMAKE_CONFIG_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/qev_scoreboardConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/package/qev_scoreboardConfig.cmake
    ${PROJECT_BINARY_DIR}/package/qev_scoreboardConfigVersion.cmake
  DESTINATION ${QEV_CMAKE_CONFIG_DIR})

# pkg-config expands ${pcfiledir} to the directory the .pc file was found in.
# A system package names its prefix instead: pkg-config then drops /usr/include and /usr/lib from the
# flags it gives, and a staged tree is reached through PKG_CONFIG_SYSROOT_DIR.
option(QEV_PKGCONFIG_RELOCATABLE "The pkg-config file finds the prefix from its own place" ON)
if(QEV_PKGCONFIG_RELOCATABLE)
  file(RELATIVE_PATH QEV_PC_PREFIX_FROM_PCDIR /prefix/${QEV_PKGCONFIG_DIR} /prefix)
  set(QEV_PC_PREFIX "\${pcfiledir}/${QEV_PC_PREFIX_FROM_PCDIR}")
else()
  set(QEV_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
endif()
configure_file(cmake/qev_scoreboard.pc.in ${PROJECT_BINARY_DIR}/package/qev_scoreboard.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/qev_scoreboard.pc DESTINATION ${QEV_PKGCONFIG_DIR})

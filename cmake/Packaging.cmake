# What an installed system offers beyond the library and the program: the Python module over the C
# interface, the manual page and the shell completions (cmake/Completions.cmake). scripts/package.sh
# turns an install to /usr into Debian packages.

# The Python module is pure Python (ctypes), so it goes where Debian's python3 looks for every
# version. It is staged in the build tree at the same place, so the build tree can be tested as is.
if(WIN32)
  # No system-wide place: the module sits in the tree, for PYTHONPATH or a .pth file to name.
  set(_qev_python_dir python)
  # Windows loads a DLL from beside the program, so that is where the library goes.
  set(QEV_SHLIB_DIR ${CMAKE_INSTALL_BINDIR})
  set(QEV_SHLIB_FILE qev_scoreboard.dll)
else()
  set(_qev_python_dir lib/python3/dist-packages)
  set(QEV_SHLIB_DIR ${CMAKE_INSTALL_LIBDIR})
  set(QEV_SHLIB_FILE libqev_scoreboard.so.${PROJECT_VERSION_MAJOR})
endif()
set(QEV_PYTHON_DIR ${_qev_python_dir} CACHE STRING "Python module directory, relative to the prefix")
set(_qev_py_pkg ${PROJECT_BINARY_DIR}/${QEV_PYTHON_DIR}/${QEV_PYTHON_PACKAGE})
file(RELATIVE_PATH QEV_LIB_FROM_PYTHON_PACKAGE ${_qev_py_pkg} ${PROJECT_BINARY_DIR}/${QEV_SHLIB_DIR})
file(RELATIVE_PATH QEV_BIN_FROM_PYTHON_PACKAGE ${_qev_py_pkg} ${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR})
foreach(_qev_py __init__.py __main__.py)
  configure_file(python/${QEV_PYTHON_PACKAGE}/${_qev_py}.in ${_qev_py_pkg}/${_qev_py} @ONLY)
  install(FILES ${_qev_py_pkg}/${_qev_py} DESTINATION ${QEV_PYTHON_DIR}/${QEV_PYTHON_PACKAGE})
endforeach()

include(cmake/Completions.cmake)

if(WIN32)
  return()  # no manual pages there
endif()
configure_file(packaging/qev-scoreboard.1.in ${PROJECT_BINARY_DIR}/man/qev-scoreboard.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/man/qev-scoreboard.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

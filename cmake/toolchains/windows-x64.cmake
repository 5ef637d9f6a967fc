# Cross-building for Windows x64 with MinGW-w64 (the -posix thread model, for std::thread), linked
# statically: the program and the DLL need no MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_qev_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_qev_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_qev_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_qev_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_qev_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_qev_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_qev_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_qev_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_qev_static}")

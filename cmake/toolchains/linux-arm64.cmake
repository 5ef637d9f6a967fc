# Linux arm64 (aarch64), cross-built on a Debian x86-64 machine with the packages scripts/setup.sh
# installs: g++-aarch64-linux-gnu, and the target's libraries and headers from Debian's arm64
# architecture (libssl-dev:arm64) in the multiarch directories beside the build machine's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QEV_TARGET_TRIPLET aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${QEV_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QEV_TARGET_TRIPLET}-g++)
set(CMAKE_AR ${QEV_TARGET_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QEV_TARGET_TRIPLET}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${QEV_TARGET_TRIPLET}-strip CACHE FILEPATH "")
# Multiarch: find_library() looks in /usr/lib/aarch64-linux-gnu before the build machine's directories.
set(CMAKE_LIBRARY_ARCHITECTURE ${QEV_TARGET_TRIPLET})
# pkg-config must describe the target's libraries, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${QEV_TARGET_TRIPLET}/pkgconfig:/usr/share/pkgconfig")

# Runs target programs (tests, checks) on this machine, on Debian's arm64 C library and loader (libc6:arm64)
# as an arm64 machine would. Not with -L: qemu would then hand the toolchain's directory to a program that
# opens "/", and every absolute path walked from there would be missing.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

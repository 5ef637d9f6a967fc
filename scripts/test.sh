#!/usr/bin/env bash
# Runs every check: the source layout (clang-format), the release build's tests, the same suite built
# on the portable POSIX fallbacks, the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# a short fuzzing pass, then the Debian packages' checks for every target: amd64, and arm64 cross-built
# and run under qemu-user, where the program must give the amd64 program's bytes; then the Windows x64
# build under wine, against the release build's bytes. Expects
# scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."

find src include tests bench fuzz tools -type f \( -name '*.c' -o -name '*.h' -o -name '*.cpp' -o -name '*.hpp' \) -print0 |
  xargs -0 clang-format --dry-run --Werror

cmake --build --preset release
ctest --preset release --timeout 300

# Once more on the portable POSIX calls alone, the paths a build for another system takes.
cmake --preset posix-fallbacks >/dev/null
cmake --build --preset posix-fallbacks
ctest --preset posix-fallbacks --timeout 300

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --timeout 600

./scripts/check_windows.sh
./scripts/fuzz.sh 15
./scripts/check_package.sh all

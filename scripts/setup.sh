#!/usr/bin/env bash
# Installs what the build, the tests and the Debian packaging need (Debian packages), fetches the DuckDB
# runtime (via the build) and builds the release preset. Safe to run again: it only does what is missing.
# Linux arm64 is cross-built: the cross compiler, the arm64 libraries the program loads (Debian's arm64
# architecture, added here) and qemu-user to run it.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
  added_arch=1
fi

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in g++ cmake ninja-build pkgconf libssl-dev nlohmann-json3-dev libgtest-dev libbenchmark-dev hyperfine git strace rsync attr acl time \
  dpkg-dev lintian file binutils man-db bash-completion zsh fish clang-15 libfuzzer-15-dev clang-format mingw-w64 python3-venv \
  g++-aarch64-linux-gnu qemu-user libssl-dev:arm64 libc6:arm64 libstdc++6:arm64 libgcc-s1:arm64 wine wine64 zip unzip; do
  have_pkg "$pkg" || need+=("$pkg")
done
command -v npm >/dev/null || need+=(npm)
command -v python3 >/dev/null || need+=(python3)
if [ "${#need[@]}" -gt 0 ] || [ -n "${added_arch:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=900 update -qq
fi
if [ "${#need[@]}" -gt 0 ]; then
  # apt brings libssl-dev up to the version of libssl-dev:arm64 if need be: the two must match.
  apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${need[@]}" </dev/null
fi

cmake --preset release >/dev/null
cmake --build --preset release

#!/usr/bin/env bash
# Installs what the build, the tests and the Debian packaging need (Debian packages), fetches the DuckDB
# runtime (via the build) and builds the release preset. Safe to run again: it only does what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in g++ cmake ninja-build pkgconf libssl-dev nlohmann-json3-dev libgtest-dev libbenchmark-dev hyperfine git strace rsync \
  dpkg-dev lintian file binutils man-db bash-completion clang-15 libfuzzer-15-dev clang-format python3-venv; do
  have_pkg "$pkg" || need+=("$pkg")
done
command -v npm >/dev/null || need+=(npm)
command -v python3 >/dev/null || need+=(python3)
if [ "${#need[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" </dev/null
fi

cmake --preset release >/dev/null
cmake --build --preset release

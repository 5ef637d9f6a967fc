#!/usr/bin/env bash
# Runs every test: the release build's, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the Debian packages' checks. Expects scripts/setup.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."

ctest --preset release --timeout 300

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan --timeout 600

./scripts/check_package.sh

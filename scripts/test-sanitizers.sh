#!/usr/bin/env bash
# Builds Quillpost and its tests with clang's AddressSanitizer and UndefinedBehaviorSanitizer
# in build-asan and runs every test there. scripts/test.sh runs it after the normal build's tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DQUILLPOST_SANITIZE=ON -DQUILLPOST_WERROR=ON \
  -DQUILLPOST_BUILD_TESTS=ON -DQUILLPOST_BUILD_BENCH=OFF
cmake --build build-asan -- -j2
ctest --test-dir build-asan --output-on-failure "$@"

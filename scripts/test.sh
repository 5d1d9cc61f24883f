#!/usr/bin/env bash
# Builds Quillpost with its tests and runs every test: the unit tests and the end-to-end test,
# which starts the real application under Xvfb. Then the same tests again in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for a short while.
# Arguments go to both ctest runs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLPOST_BUILD_TESTS=ON -DQUILLPOST_BUILD_BENCH=ON -DQUILLPOST_WERROR=ON
cmake --build build-tests
ctest --test-dir build-tests --output-on-failure "$@"

bash scripts/test-sanitizers.sh "$@"
bash scripts/fuzz.sh --ci

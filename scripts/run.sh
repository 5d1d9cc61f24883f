#!/usr/bin/env bash
# Builds Quillpost and starts it with its shipped page.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLPOST_BUILD_TESTS=OFF -DQUILLPOST_BUILD_BENCH=OFF
cmake --build build --target quillpost
exec ./build/bin/quillpost "$@"

#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_WERROR=ON
cmake --build build -j"$(nproc)"
cd build && ctest --output-on-failure -j"$(nproc)"

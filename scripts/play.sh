#!/usr/bin/env bash
# Installs what is missing, builds the engine and the bundled demo game, and plays it.
# Options are passed on to the program (see `build/tolvane --help`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec build/tolvane "$@" build/demo/game

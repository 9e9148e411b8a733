#!/usr/bin/env bash
# Installs what is missing, builds the engine and the bundled demo game, and plays it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
if [ ! -d build/demo/game ]; then
    echo "The bundled demo game is not part of this build yet; the engine is built in build/."
    exit 0
fi
exec build/tolvane "$@" build/demo/game

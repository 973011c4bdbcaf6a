#!/usr/bin/env bash
# Sets up what is missing, builds Zibu and starts it with its home beside the binary.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset release -G Ninja >/dev/null
cmake --build --preset release -j "$(nproc)" --target zibu
exec ./build/bin/zibu "$@"

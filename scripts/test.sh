#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

JOBS="${JOBS:-$(nproc)}"
cmake --preset release -G Ninja >/dev/null
cmake --build --preset release -j "$JOBS"
ctest --preset release -j "$JOBS" --timeout 300

# Sanitizer pass over the headless core tests that read untrusted input.
if [ "${ZIBU_SKIP_ASAN:-0}" != "1" ]; then
  cmake --preset asan -G Ninja >/dev/null
  cmake --build --preset asan -j "$JOBS" --target test_xml test_common
  ctest --preset asan -j "$JOBS" --timeout 300 -L 'xml|common'
fi

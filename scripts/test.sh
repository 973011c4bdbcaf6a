#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

JOBS="${JOBS:-$(nproc)}"
cmake --preset release -G Ninja >/dev/null
cmake --build --preset release -j "$JOBS"
ctest --preset release -j "$JOBS" --timeout 300

# The real program under Xvfb: start, first-run welcome, "Save all config", prompt exit.
# (tests/e2e/feeds_end_to_end.py, a several-minute run with real timer ticks, is run by hand.)
if [ "${ZIBU_SKIP_E2E:-0}" != "1" ]; then
  OUT="$(mktemp -d /tmp/zibu-e2e.XXXXXX)" tests/e2e/shell_start_save.sh build/bin/zibu
fi

# Sanitizer pass over the headless core tests that read untrusted input.
if [ "${ZIBU_SKIP_ASAN:-0}" != "1" ]; then
  cmake --preset asan -G Ninja >/dev/null
  cmake --build --preset asan -j "$JOBS" --target test_xml test_common
  ctest --preset asan -j "$JOBS" --timeout 300 -L 'xml|common'
fi

# A short fuzzing run of the XML scanner, when clang is installed.
if [ "${ZIBU_SKIP_FUZZ:-0}" != "1" ] && command -v clang++ >/dev/null 2>&1; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZIBU_FUZZ=ON \
    -DZIBU_BUILD_GUI=OFF -DZIBU_BUILD_TESTS=OFF -DZIBU_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "$JOBS" --target xml_fuzz
  mkdir -p build-fuzz/xml-corpus
  if ! build-fuzz/bin/fuzz/xml_fuzz -max_total_time="${ZIBU_FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix=build-fuzz/ build-fuzz/xml-corpus fuzz/corpus/xml >build-fuzz/xml_fuzz.log 2>&1; then
    tail -n 60 build-fuzz/xml_fuzz.log
    echo "xml_fuzz found a fault; the input is in build-fuzz/" >&2
    exit 1
  fi
  grep -E '^Done' build-fuzz/xml_fuzz.log || true
fi

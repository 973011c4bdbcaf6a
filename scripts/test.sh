#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh

JOBS="${JOBS:-$(nproc)}"
cmake --preset release -G Ninja >/dev/null
cmake --build --preset release -j "$JOBS"
ctest --preset release -j "$JOBS" --timeout 300

# The real program under Xvfb: start, first-run welcome, "Save all config", prompt exit; then
# homes with damaged files, which it must leave as they were.
# (tests/e2e/feeds_end_to_end.py, a several-minute run with real timer ticks, is run by hand.)
if [ "${ZIBU_SKIP_E2E:-0}" != "1" ]; then
  OUT="$(mktemp -d /tmp/zibu-e2e.XXXXXX)" tests/e2e/shell_start_save.sh build/bin/zibu
  OUT="$(mktemp -d /tmp/zibu-e2e.XXXXXX)" tests/e2e/damaged_home.sh build/bin/zibu
fi

# Sanitizer pass over the headless core tests that read untrusted input.
if [ "${ZIBU_SKIP_ASAN:-0}" != "1" ]; then
  cmake --preset asan -G Ninja >/dev/null
  cmake --build --preset asan -j "$JOBS" --target test_xml test_common
  ctest --preset asan -j "$JOBS" --timeout 300 -L 'xml|common'
fi

# A short fuzzing run of every fuzz target (bin/fuzz/targets.txt), JOBS at a time, when clang is
# installed. New inputs go to build-fuzz/corpus/<target>; the seeds are only read.
if [ "${ZIBU_SKIP_FUZZ:-0}" != "1" ] && command -v clang++ >/dev/null 2>&1; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZIBU_FUZZ=ON \
    -DZIBU_BUILD_GUI=OFF -DZIBU_BUILD_TESTS=OFF -DZIBU_BUILD_BENCH=OFF >/dev/null
  cmake --build build-fuzz -j "$JOBS" --target fuzz_all
  fuzz_failed=0
  pids=()
  names=()
  finish_batch() {
    for k in "${!pids[@]}"; do
      if wait "${pids[$k]}"; then
        grep -E '^Done' "build-fuzz/${names[$k]}.log" | sed "s/^/${names[$k]}: /" || true
      else
        tail -n 60 "build-fuzz/${names[$k]}.log"
        echo "${names[$k]} found a fault; the input is in build-fuzz/" >&2
        fuzz_failed=1
      fi
    done
    pids=()
    names=()
  }
  while IFS='|' read -r name args seeds; do
    [ -n "$name" ] || continue
    mkdir -p "build-fuzz/corpus/$name"
    # shellcheck disable=SC2086  # args and seeds are lists
    build-fuzz/bin/fuzz/"$name" -max_total_time="${ZIBU_FUZZ_SECONDS:-30}" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="build-fuzz/$name-" $args "build-fuzz/corpus/$name" $seeds >"build-fuzz/$name.log" 2>&1 &
    pids+=("$!")
    names+=("$name")
    if [ "${#pids[@]}" -ge "$JOBS" ]; then finish_batch; fi
  done <build-fuzz/bin/fuzz/targets.txt
  finish_batch
  if [ "$fuzz_failed" != 0 ]; then exit 1; fi
fi

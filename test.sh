#!/usr/bin/env bash
# Builds MAGLYX with its tests and runs them all: unit, window and end-to-end
# tests, then the cooperative-thread tests once more under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAGLYX_TSAN=ON >/dev/null
cmake --build build-tsan --target test_coop
TSAN_OPTIONS="halt_on_error=1" ctest --test-dir build-tsan -R '^Coop|^ProgramLock|^Thread' \
  --output-on-failure -j "$jobs" --timeout 300

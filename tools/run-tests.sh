#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs the whole suite twice:
# a normal build, then under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
tools/install-deps.sh
jobs=$(nproc)
for preset in ci asan; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs"
done
echo "all tests passed"

#!/usr/bin/env bash
# Builds the Linux program, the Windows programs, the sanitizer build and the
# fuzz targets, then runs the whole test suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and every fuzz target for a
# bounded time. Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."

FUZZ_SECONDS="${FUZZ_SECONDS:-20}"
status=0
step() { echo; echo "=== $*"; }

step "configure"
for preset in native win64 asan fuzz; do
  cmake --preset "$preset" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; exit 1; }
done
rm -f build-*.log

step "build (native, win64, asan, fuzz)"
for preset in native win64 asan fuzz; do
  echo "--- $preset"
  cmake --build --preset "$preset" -j "$(nproc)" || exit 1
done

step "test suite (native, Wine tests included)"
ctest --preset native || status=1

step "test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan || status=1

step "fuzz targets, ${FUZZ_SECONDS}s each"
scripts/run-fuzzers.sh "$FUZZ_SECONDS" || status=1

echo
if [ "$status" -eq 0 ]; then echo "all test stages passed"; else echo "some test stage FAILED"; fi
exit "$status"

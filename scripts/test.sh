#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every fuzz target for its share of a
# bounded time (120 s in all; KSTR_FUZZ_SECONDS changes it, 0 skips them) and
# then every test headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKSTR_SANITIZE=ON -DKSTR_BUILD_TESTS=ON
cmake --build build/test
fuzz_seconds="${KSTR_FUZZ_SECONDS:-120}"
if [ "$fuzz_seconds" != 0 ]; then
  scripts/fuzz.sh "$fuzz_seconds"
fi
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
# The system libraries' own leaks, not ours (see the file).
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/test --output-on-failure -j "$(nproc)" "$@"

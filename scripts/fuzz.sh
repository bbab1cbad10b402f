#!/usr/bin/env bash
# Builds the peer message fuzz target (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; build/fuzz) and runs it from the seed corpus in
# fuzz/corpus for a bounded time: 60 seconds, or the number of seconds given
# as the first argument. Exits non-zero when the fuzzer finds a crash, a leak,
# undefined behaviour or a hang; the input that did it is kept in
# build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi

scripts/setup.sh
build=build/fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++
cmake --build "$build" --target peer_message_fuzzer

# New inputs go to a corpus of this build; the checked-in seeds stay as they are.
mkdir -p "$build/corpus" "$build/artifacts"
log="$build/fuzz.log"
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "Fuzzing peer messages for ${seconds} s (log: $log)"
status=0
"$build/peer_message_fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
  -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
  "$build/corpus" fuzz/corpus >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  tail -n 80 "$log"
  echo "Fuzzing found a fault (exit status $status); the input is in $build/artifacts" >&2
  exit "$status"
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
echo "Fuzzing found no fault"

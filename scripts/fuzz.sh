#!/usr/bin/env bash
# Builds the fuzz targets once (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; one build folder, build/fuzz) and runs each
# from its seed corpus in fuzz/corpus/<name> for its share of a total time:
# 120 seconds, or the number given as the first argument (0 skips fuzzing).
# Further arguments name the targets to run (default: all of them).
# Exits non-zero when a target finds a crash, a leak, undefined behaviour, a
# hang or a broken oracle; the input that did it is kept in
# build/fuzz/artifacts/<name>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-120}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 [total-seconds] [target...]" >&2
  exit 2
fi
if [ "$seconds" -eq 0 ]; then
  echo "Fuzzing skipped"
  exit 0
fi
shift || true
all_targets=(peer_message server_message dnet data_file received_files)
targets=("${@:-${all_targets[@]}}")
for name in "${targets[@]}"; do
  if ! [[ " ${all_targets[*]} " == *" $name "* ]]; then
    echo "unknown fuzz target: $name (known: ${all_targets[*]})" >&2
    exit 2
  fi
done

scripts/setup.sh
build=build/fuzz
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++
cmake --build "$build" --target "${targets[@]/%/_fuzzer}"

share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for name in "${targets[@]}"; do
  # New inputs go to a corpus of this build; the checked-in seeds stay as
  # they are.
  corpus="$build/corpus/$name"
  artifacts="$build/artifacts/$name"
  log="$build/$name.log"
  mkdir -p "$corpus" "$artifacts"
  echo "Fuzzing $name for $share s (log: $log)"
  status=0
  "$build/${name}_fuzzer" -max_total_time="$share" -timeout=30 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$corpus" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "Fuzzing $name found a fault (exit status $status); the input is in $artifacts" >&2
    failed+=("$name")
    continue
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$log" | sed "s/^/  $name /" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
echo "Fuzzing found no fault"

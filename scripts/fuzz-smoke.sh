#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on, the
# library instrumented too) and runs each one briefly from its committed corpus. Fails on any
# crash, leak, timeout, broken property or sanitizer report, and names the input that caused it.
# The committed corpus is only read: new inputs go to a copy under the build folder.
# Usage: [JOBS=n] [SECONDS_PER_TARGET=s] scripts/fuzz-smoke.sh [build-folder]   (default: build/fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${1:-build/fuzz}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
seconds=${SECONDS_PER_TARGET:-10}
targets=(read_value state_file find_for_staging user_pattern hostile_pattern web_target)

command -v clang++ >/dev/null || { echo "fuzz-smoke: clang++ is missing (scripts/setup.sh)"; exit 2; }

echo "=== fuzz-smoke: build ${targets[*]} ==="
# The fuzz preset of CMakePresets.json (clang, the sanitizers, the fuzzers alone), in the folder
# asked for.
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/%/_fuzzer}"

# libFuzzer reports leaks itself; these make every sanitizer finding end the run.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

work="$repo/$build/smoke"
rm -rf "$work"
mkdir -p "$work"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  cp -R "fuzz/corpus/$t/." "$work/$t/corpus/"
  seeds=()
  # The reader's seeds include the public JSON conformance corpus of the tests.
  [ "$t" = read_value ] && seeds+=("$repo/tests/data/JSONTestSuite/test_parsing")
  log="$work/$t/fuzz.log"
  # From inside the work folder: libFuzzer drops its own files into the current folder.
  # Inputs stay short (a larger seed is cut) so that each second explores many of them; the
  # replay tests run the whole seeds.
  if (cd "$work/$t" && "$repo/$build/fuzz/${t}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$work/$t/artifacts/" corpus "${seeds[@]}" >"$log" 2>&1); then
    echo "$t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs in ${seconds}s, no finding"
  else
    echo "$t: FAILED; last lines of $log:"
    tail -n 40 "$log"
    find "$work/$t/artifacts" -type f -printf '  reproducer: %p\n'
    failed+=("$t")
  fi
done

if ((${#failed[@]})); then
  echo "fuzz-smoke: findings in ${failed[*]}; replay a reproducer with build/.../fuzz/<target>_replay <file>"
  exit 1
fi
echo "=== fuzz-smoke: ${#targets[@]} targets clean ==="

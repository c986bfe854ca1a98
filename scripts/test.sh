#!/usr/bin/env bash
# Sets up the machine, then configures, builds and runs the whole test suite twice: once plainly and
# once in a separate build with AddressSanitizer and UndefinedBehaviorSanitizer; then the Windows
# build of the library and its tests under Wine. Exits non-zero on any failure or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Each suite's configuration is a preset of CMakePresets.json, built in build/<preset>.
run_suite() {
  local preset=$1 dir=build/$1
  echo "=== $dir: configure, build, test ==="
  cmake --preset "$preset" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite ci-plain

# Any sanitizer report aborts the test that made it, so it shows as a failed test.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Its flags also turn off -Wmaybe-uninitialized: GCC 12 reports std::regex internals as
# maybe-uninitialized only when instrumented; the report is false, and with warnings as errors it
# would stop the build.
run_suite ci-sanitize

# A short fuzzing run of every target from its corpus, then the static analysers; each stops the
# run on any finding.
bash scripts/fuzz-smoke.sh build/ci-fuzz
bash scripts/static-analysis.sh build/ci-analysis

# The same library and tests built for Windows with MinGW-w64 and run under Wine; the first run on
# a machine builds the Windows dependencies from Debian's sources.
echo "=== build/windows: the Windows half, under Wine ==="
bash scripts/test-windows.sh

echo "=== all tests passed: Linux plain and sanitized, and Windows under Wine ==="

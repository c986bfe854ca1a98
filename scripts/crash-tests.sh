#!/usr/bin/env bash
# The full runs of the crash and concurrency tests, whose short versions the test suite runs:
# 1,000 kills of a state-file writer, 300 random kills of `rvk commit` plus one at every writing
# system call of a commit, 100 rounds of each pair of concurrent commands, and a shared history
# under 8 clients pushing at once and 100 random kills each of push and pull.
# Usage: scripts/crash-tests.sh [build-folder]   (default: build/dev, configured and built here)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
bash scripts/setup.sh
# The dev preset of CMakePresets.json, in the folder asked for.
cmake --preset dev -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target reliability_tests rvk

echo "=== state file: 1,000 kills of its writer ==="
RVK_STATE_KILLS=${RVK_STATE_KILLS:-1000} "$build/tests/reliability_tests" \
    --gtest_filter='CrashSafety.KilledWriterLeavesOneWholeState'
echo "=== rvk commit: random kills and kills at every writing system call ==="
bash tests/host/commit_crash_test.sh "$build/bin/rvk" "${RANDOM_KILLS:-300}" all
echo "=== rvk commands side by side ==="
bash tests/host/concurrency_test.sh "$build/bin/rvk" "${ROUNDS:-100}"
echo "=== shared history: 8 clients x 20 rounds pushing at once; 100 kills each of push and pull ==="
bash tests/host/shared_stress_test.sh "$build/bin/rvk" "${SHARED_ROUNDS:-20}" "${SHARED_KILLS:-100}"

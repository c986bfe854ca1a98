#!/usr/bin/env bash
# Runs the static analysers over the library's own sources (common/, corekit/, platform/) and
# fails on any finding: clang-tidy with the checks of the repository's .clang-tidy, then cppcheck.
# The compile commands come from a build folder of its own, configured (not built) here.
# Usage: [JOBS=n] scripts/static-analysis.sh [build-folder]   (default: build/analysis, JOBS=nproc)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${1:-build/analysis}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

for tool in clang-tidy cppcheck; do
  command -v "$tool" >/dev/null || { echo "static-analysis: $tool is missing (scripts/setup.sh)"; exit 2; }
done

# The analysis preset of CMakePresets.json (the library alone, its compile commands exported), in
# the folder asked for.
cmake --preset analysis -B "$build" >/dev/null

sources=()
while IFS= read -r file; do sources+=("$file"); done < <(
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
    grep -E "^$repo/(common|corekit|platform)/" | sort -u)
((${#sources[@]})) || { echo "static-analysis: no library sources in $build"; exit 2; }

echo "=== clang-tidy: ${#sources[@]} files, $jobs at a time ==="
# clang-tidy itself rather than run-clang-tidy, which forces coloured output into the CI log.
# Diagnostics from headers are shown only for the library's own headers.
tidy_log=$(mktemp)
trap 'rm -f "$tidy_log"' EXIT
tidy_status=0
printf '%s\0' "${sources[@]}" |
  xargs -0 -n 1 -P "$jobs" clang-tidy -p "$build" --quiet \
        --header-filter="^$repo/(common|corekit|platform)/" >"$tidy_log" 2>&1 || tidy_status=$?
# Keep the findings, drop clang-tidy's per-file "N warnings generated" chatter.
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings' \
  "$tidy_log" || true
if ((tidy_status != 0)); then
  echo "static-analysis: clang-tidy found problems"
  exit 1
fi

echo "=== cppcheck ==="
# The build folder is configured with nothing but the library, so its compile commands name the
# same sources as above.
# Suppressed, with the reason:
# - internalAstError in Expected.h: cppcheck 2.10 cannot parse the explicit destructor call on a
#   template parameter (m_value.~T()) and leaves out common/StateFile.cpp, the one source where
#   it stumbles on it; a parser limit, not a finding, and clang-tidy still covers that file.
# - passedByValue for the folder walk: its prefix is taken by value by design (each level makes
#   its own).
# - missingIncludeSystem: system headers are not analysed, only our sources.
cppcheck --project="$build/compile_commands.json" --std=c++17 --quiet \
         --enable=warning,performance,portability --inline-suppr --error-exitcode=1 \
         -j "$jobs" \
         --suppress=missingIncludeSystem \
         --suppress="internalAstError:*common/Expected.h" \
         --suppress="passedByValue:*common/WorkingTreeScan.cpp" \
         --template='{file}:{line}:{column}: {severity}: {message} [{id}]' || {
  echo "static-analysis: cppcheck found problems"
  exit 1
}
echo "=== static analysis clean ==="

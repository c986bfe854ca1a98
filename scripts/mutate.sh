#!/usr/bin/env bash
# Mutation run: applies one source mutation at a time from a list, rebuilds incrementally, runs the
# unit suites and tallies each mutant as killed (a test failed), survived (all passed) or not built.
# A suite that still passes with a fault in the code it covers has a gap; comparing two runs over
# the same list shows whether trimming the tests lost any of their power.
#
#   scripts/mutate.sh [--build DIR] [--list FILE] [--timeout SECONDS] [--all] [--only REGEX]
#
# --all runs the whole suite for every mutant and records every test that fails (slower), so that
# the tests that alone kill a mutant can be found; by default the suite stops at the first failure.
# --only runs just the mutants whose "path:line" matches REGEX.
# Each line of the list is path|line|from-text|to-text|kind, with a literal | written as \|.
# The source file is always restored, also on Ctrl-C.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build/mutate
list=scripts/mutants.txt
timeout=60
stop=--stop-on-failure
only=.
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=$2; shift 2 ;;
        --list) list=$2; shift 2 ;;
        --timeout) timeout=$2; shift 2 ;;
        --all) stop=; shift ;;
        --only) only=$2; shift 2 ;;
        *) echo "usage: $0 [--build DIR] [--list FILE] [--timeout SECONDS] [--all] [--only REGEX]" >&2
           exit 2 ;;
    esac
done

# Unit suites only: not the host's sessions, the crash and concurrency runs, the fuzz corpus
# replays or the export check of the linked library; nor the hashing of a 2 GiB file, which takes
# longest and reaches none of the listed files.
exclude='^(host\.|fuzz_replay\.|shared_library_exports$)|concurrency|commit_crash|FilesOfTwoGiB'

work=$(mktemp -d)
applied=""  # the file holding a mutation right now, if any

restore() {
    if [ -n "$applied" ]; then
        cp "$work/original" "$applied"
        applied=""
    fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'restore; exit 130' INT TERM

# The same configuration every run, so that runs compare: the mutate preset of CMakePresets.json.
# A mutant that only draws a warning (a parameter left unused) is still a program to test, so
# warnings never stop its build.
cmake --preset mutate -B "$build" >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
run_suite() {
    ctest --test-dir "$build" -E "$exclude" --timeout "$timeout" $stop -j2 >"$work/ctest.log" 2>&1
}
nice cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log"; exit 1; }
if ! run_suite; then
    echo "the unmutated suite fails; nothing to measure:" >&2
    tail -n 30 "$work/ctest.log" >&2
    exit 1
fi

results="$build/mutation-results.txt"
: >"$results"
killed=0 survived=0 notbuilt=0 notapplied=0 n=0
printf '%-4s %-34s %-10s %-11s %s\n' "#" "where" "kind" "result" "first failing tests"
while IFS= read -r entry; do
    case $entry in ''|'#'*) continue ;; esac
    # Split on the unescaped bars, then unescape.
    mapfile -t field < <(python3 -c '
import re, sys
for f in re.split(r"(?<!\\)\|", sys.argv[1]):
    print(f.replace("\\|", "|"))' "$entry")
    path=${field[0]} line=${field[1]} from=${field[2]} to=${field[3]} kind=${field[4]}
    where="$path:$line"
    [[ $where =~ $only ]] || continue
    n=$((n + 1))
    detail=""
    if [ ! -f "$path" ] || ! sed -n "${line}p" "$path" | grep -qF -- "$from"; then
        result="not applied"
        notapplied=$((notapplied + 1))
    else
        cp "$path" "$work/original"
        applied=$path
        python3 - "$path" "$line" "$from" "$to" <<'PY'
import sys
path, line, old, new = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
with open(path, encoding="utf-8") as f:
    lines = f.readlines()
lines[line - 1] = lines[line - 1].replace(old, new, 1)
with open(path, "w", encoding="utf-8") as f:
    f.writelines(lines)
PY
        if ! nice cmake --build "$build" -j2 >"$work/build.log" 2>&1; then
            result="not built"
            notbuilt=$((notbuilt + 1))
        elif run_suite; then
            result="survived"
            survived=$((survived + 1))
        else
            result="killed"
            killed=$((killed + 1))
            failed="$build/Testing/Temporary/LastTestsFailed.log"
            [ -f "$failed" ] && detail=$(cut -d: -f2- "$failed" | tr '\n' ' ')
        fi
        restore
    fi
    printf '%-4s %-34s %-10s %-11s %s\n' "$n" "$where" "$kind" "$result" "${detail:0:120}"
    printf '%s\t%s\t%s\t%s\n' "$where" "$kind" "$result" "$detail" >>"$results"
done <"$list"

# Leave the build matching the restored sources.
nice cmake --build "$build" -j2 >"$work/build.log" 2>&1

scored=$((killed + survived))
echo
echo "mutants: $n   killed: $killed   survived: $survived   not built: $notbuilt   not applied: $notapplied"
[ "$scored" -gt 0 ] && echo "killed share: $killed of $scored built ($((100 * killed / scored)) %)"
echo "per-mutant results: $results"

#!/usr/bin/env bash
# Runs real rvk commands side by side on one repository, round after round with random delays
# between their starts, and checks that every outcome is one that running them one after the
# other could give: nothing staged or committed is ever lost, and every commit stays reachable.
# Usage: concurrency_test.sh <path to rvk or rvk.exe> [rounds per pair, default 20]
# rvk.exe runs under Wine, where the repository lock is LockFileEx's between the two processes.
set -euo pipefail
# A command that fails outside a check ends the run: say which one, since `quiet` hides its words.
trap 'echo "FAILED: line $LINENO: \"$BASH_COMMAND\" exited with $?" >&2' ERR

program=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
if [[ $program == *.exe ]]; then
    export WINEDEBUG=${WINEDEBUG:--all}
    rvk() { wine "$program" "$@"; }
else
    rvk() { "$program" "$@"; }
fi
rounds=${2:-20}
base=$(mktemp -d "${TMPDIR:-/tmp}/rvk-concurrency-XXXXXX")
trap 'rm -rf "$base"' EXIT
mkdir "$base/repo"
cd "$base/repo"
# What the commands print is kept outside the working tree, where status does not see it.
o=$base
export RVK_LOCK_TIMEOUT=60

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
# A pause of 0 to 9 ms, so that either command may start first or both at once.
jitter() { sleep "0.00$((RANDOM % 10))"; }
quiet() { rvk "$@" >/dev/null 2>&1; }
staged() { rvk status | grep -c '^[AMD]+ ' || true; }
head_commit() { sed -n 's/^ *"commit" : \([0-9]*\).*/\1/p' .rvk/rvk.state; }
commits_in_db() { sqlite3 .rvk/rvk.db 'SELECT count(*) FROM commits'; }
tracked() { sqlite3 .rvk/rvk.db "SELECT count(*) FROM commit_files WHERE commit_id = $(head_commit) AND path = '$1'"; }

for i in $(seq 40); do printf 'file %d\n' "$i" >"f$i.txt"; done
quiet init
quiet stage --all
quiet commit -m base

# stage || stage of different files: both end up staged.
for r in $(seq "$rounds"); do
    printf 'round %d\n' "$r" >>f1.txt
    printf 'round %d\n' "$r" >>f2.txt
    { jitter; quiet stage f1.txt; } &
    { jitter; quiet stage f2.txt; } &
    wait
    [[ $(staged) == 2 ]] || fail "stage || stage, round $r: $(staged) of 2 files staged"
    quiet unstage --all
done

# commit || commit of the same staged files: one commits them, the other finds nothing to commit;
# every commit is reachable from HEAD and listed by log.
for r in $(seq "$rounds"); do
    printf 'a\n' >"c$r-a.txt"
    printf 'b\n' >"c$r-b.txt"
    quiet stage --all
    # A command that fails leaves its exit code beside its output, for the report below.
    { jitter; rvk commit -m "a$r" >"$o/out-a" 2>&1 || echo "(exit $?)" >>"$o/out-a"; } &
    { jitter; rvk commit -m "b$r" >"$o/out-b" 2>&1 || echo "(exit $?)" >>"$o/out-b"; } &
    wait
    made=$(cat "$o/out-a" "$o/out-b" | grep -c '^committed ' || true)
    nothing=$(cat "$o/out-a" "$o/out-b" | grep -c '^rvk: nothing to commit' || true)
    [[ $made == 1 && $nothing == 1 ]] || fail "commit || commit, round $r: $(cat "$o/out-a" "$o/out-b")"
    for f in "c$r-a.txt" "c$r-b.txt"; do
        [[ $(tracked "$f") == 1 ]] || fail "commit || commit, round $r: $f is not in HEAD's commit"
    done
done
[[ $(rvk log | wc -l) == $(commits_in_db) ]] ||
    fail "commit || commit: log lists $(rvk log | wc -l) commits, the database holds $(commits_in_db)"

# commit || stage: either order is fine, but the committed file is in HEAD and the newly staged
# one is in HEAD or still staged.
for r in $(seq "$rounds"); do
    printf 'p\n' >"p$r.txt"
    quiet stage "p$r.txt"
    printf 'q\n' >"q$r.txt"
    { jitter; quiet commit -m "p$r"; } &
    { jitter; quiet stage "q$r.txt"; } &
    wait
    [[ $(tracked "p$r.txt") == 1 ]] || fail "commit || stage, round $r: the committed file is lost"
    if [[ $(tracked "q$r.txt") == 0 ]]; then
        rvk status | grep -qxF "A+ q$r.txt" || fail "commit || stage, round $r: q$r.txt is lost"
        quiet commit -m "q$r"
    fi
done

# status || commit: status shows the repository before the commit or after it, nothing between.
for r in $(seq "$rounds"); do
    printf 's\n' >"s$r-1.txt"
    printf 's\n' >"s$r-2.txt"
    quiet stage --all
    rvk status >"$o/before"
    { jitter; quiet commit -m "s$r"; } &
    { jitter; rvk status >"$o/during" 2>/dev/null; } &
    wait
    rvk status >"$o/after"
    cmp -s "$o/during" "$o/before" || cmp -s "$o/during" "$o/after" ||
        fail "status || commit, round $r: status showed $(tr '\n' ' ' <"$o/during")"
done

[[ $(rvk log | wc -l) == $(commits_in_db) ]] || fail "a commit is unreachable from HEAD"
echo "concurrency: 4 pairs x $rounds rounds, $failures lost or unreachable results"
((failures == 0))

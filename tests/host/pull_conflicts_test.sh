#!/usr/bin/env bash
# Two drafters change the same drawing: pull refuses, naming the ways forward; --theirs takes the
# server's version and keeps the drafter's bytes beside it; --mine keeps the drafter's version in
# a new commit that push sends and a third clone receives.
# Usage: pull_conflicts_test.sh <path to rvk>
set -euo pipefail
# shellcheck source=server_session.sh
source "$(dirname "$0")/server_session.sh" "$1"
commit_all() { rvk stage --all >/dev/null && rvk commit -m "$1" >/dev/null; }
# unchanged DIR WHAT: the clone's state file and status are what they were before WHAT.
snapshot() { (cd "$1" && cat .rvk/rvk.state && rvk status 2>/dev/null) >"$base/before"; }
unchanged() {
    (cd "$1" && cat .rvk/rvk.state && rvk status 2>/dev/null) >"$base/after"
    cmp -s "$base/before" "$base/after" || fail "$2 changed the clone: $(diff "$base/before" "$base/after")"
}

rvk remote create "$pg_admin" >/dev/null
rvk clone "$pg_drafter1" "$base/s" >/dev/null
rvk clone "$pg_drafter2" "$base/t" >/dev/null
cd "$base/s"
head -c 40000 /dev/urandom >plan.dwg
commit_all "first plan" && rvk push >/dev/null
cd "$base/t" && rvk pull >/dev/null

# Both drafters lock in turn and change the drawing; s pushes first.
cd "$base/s"
rvk lock plan.dwg >/dev/null
head -c 40000 /dev/urandom >plan.dwg && cp plan.dwg "$base/theirs.dwg"
commit_all "s revises" && rvk push >/dev/null
cd "$base/t"
rvk lock plan.dwg >/dev/null
head -c 30000 /dev/urandom >plan.dwg && cp plan.dwg "$base/mine.dwg"

snapshot "$base/t"
expect 1 "changed both here and on the server:
  plan.dwg" -- rvk pull
grep -q -- "--theirs" "$out" && grep -q -- "--mine" "$out" ||
    fail "the refusal names no way forward: $(cat "$out")"
unchanged "$base/t" "a refused pull"
cmp -s plan.dwg "$base/mine.dwg" || fail "a refused pull touched the drafter's plan.dwg"
expect 2 "not both" -- rvk pull --theirs --mine
unchanged "$base/t" "a pull given both options"

# --theirs: the server's drawing, the drafter's beside it, untracked.
expect 0 "kept your plan.dwg as plan.mine.dwg" -- rvk pull --theirs
cmp -s plan.dwg "$base/theirs.dwg" || fail "pull --theirs did not bring the server's plan.dwg"
cmp -s plan.mine.dwg "$base/mine.dwg" || fail "pull --theirs did not keep the drafter's bytes"
# t still holds the drawing's lock, which status shows.
[ "$(rvk status | sed 's/ since [^)]*)/)/')" = "$(printf 'L  plan.dwg  (locked by you)\n?  plan.mine.dwg')" ] ||
    fail "after pull --theirs, status: $(rvk status)"
[ -w plan.mine.dwg ] || fail "the copy set aside is not writable"
expect 0 "already up to date" -- rvk pull --theirs
[ ! -e plan.mine-2.dwg ] || fail "a second pull --theirs set the bytes aside again"

# --mine: s revises the drawing again while t edits it; t gives its lock up, so keeping its version
# is refused until t locks it again; the version kept goes out with the next push.
rvk unlock plan.dwg >/dev/null
cd "$base/s"
rvk lock plan.dwg >/dev/null
head -c 40000 /dev/urandom >plan.dwg
commit_all "s revises again" && rvk push >/dev/null
cd "$base/t"
rvk lock plan.dwg >/dev/null
head -c 35000 /dev/urandom >plan.dwg && cp plan.dwg "$base/mine.dwg"
rvk unlock plan.dwg >/dev/null
snapshot "$base/t"
expect 1 "plan.dwg is not locked by you: lock it first" -- rvk pull --mine
unchanged "$base/t" "a pull --mine without the lock"
rvk lock plan.dwg >/dev/null
expect 0 "kept your versions in commit" -- rvk pull --mine
cmp -s plan.dwg "$base/mine.dwg" || fail "pull --mine changed the drafter's plan.dwg"
[ "$(rvk status | sed 's/ since [^)]*)/)/')" = "$(printf 'L  plan.dwg  (locked by you)\n?  plan.mine.dwg')" ] ||
    fail "after pull --mine, status: $(rvk status)"
rvk log | head -n1 | grep -q "kept my version of 1 file after pull" ||
    fail "pull --mine recorded no commit of its own: $(rvk log | head -n1)"
expect 0 "pushed 1 commit" -- rvk push
rvk clone "$pg_reader" "$base/u" >/dev/null
cmp -s "$base/u/plan.dwg" "$base/mine.dwg" || fail "a third clone did not get the kept plan.dwg"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "pull conflicts: all checks passed"

#!/usr/bin/env bash
# An office of Linux and Windows machines sharing one history: rvk on Linux and rvk.exe under Wine
# push, pull and lock through one throwaway PostgreSQL cluster. Paths travel with "/" and come
# out with each system's separator; a name that Windows cannot hold, pushed from Linux, is refused
# by the Windows clone, which changes nothing.
# Usage: mixed_office_test.sh <path to rvk> <path to rvk.exe>
set -euo pipefail
linux_rvk=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
windows_rvk=$(cd "$(dirname "$2")" && pwd -P)/$(basename "$2")
source "$(dirname "$0")/pg_cluster.sh"
export WINEDEBUG=${WINEDEBUG:--all}
lin() { "$linux_rvk" "$@"; }
win() { wine "$windows_rvk" "$@"; }

out=$base/out
# shellcheck source=session_checks.sh
source "$(dirname "$0")/session_checks.sh"
snapshot() { find . -path ./.rvk -prune -o -type f -print0 | sort -z | xargs -0 sha256sum; lin log 2>/dev/null || true; }

# Linux starts the history.
mkdir "$base/linux" && cd "$base/linux"
lin init >/dev/null
mkdir -p plans/level1
printf 'ground floor\n' >plans/level1/ground.dwg
printf 'notes\n' >notes.txt
lin stage --all >/dev/null && lin commit -m first >/dev/null
expect 0 "created an empty" -- lin remote create "$pg_admin"
expect 0 "remote set" -- lin remote set "$pg_drafter1"
expect 0 "pushed 1 commit" -- lin push

# Windows clones it: the same files, with its own separator, and nothing to commit.
cd "$base"
expect 0 "cloned 1 commit" -- win clone "$(by_address "$pg_drafter2")" "$base/windows"
cd "$base/windows"
for f in plans/level1/ground.dwg notes.txt; do
    cmp -s "$f" "$base/linux/$f" || fail "the Windows clone differs in $f"
done
win status >"$out" 2>&1 || fail "status failed in the Windows clone: $(cat "$out")"
[ ! -s "$out" ] || fail "a fresh Windows clone has changes: $(cat "$out")"

# Windows locks the drawing, edits and pushes it (which gives the lock back), and locks it again;
# Linux pulls the edit and sees the lock.
expect 0 'locked plans\level1\ground.dwg' -- win lock plans/level1/ground.dwg
printf 'from Windows\n' >>plans/level1/ground.dwg
expect 0 'M+ plans\level1\ground.dwg' -- win stage 'plans\level1\ground.dwg'
expect 0 "committed 2" -- win commit -m "windows edit"
expect 0 "pushed 1 commit" -- win push
expect 0 'locked plans\level1\ground.dwg' -- win lock plans/level1/ground.dwg
expect 0 'plans\level1\ground.dwg	drafter2' -- win locks
cd "$base/linux"
expect 0 "pulled 1 commit" -- lin pull
cmp -s plans/level1/ground.dwg "$base/windows/plans/level1/ground.dwg" ||
    fail "Linux did not get the Windows edit"
expect 0 "plans/level1/ground.dwg	drafter2" -- lin locks
printf 'from Linux\n' >>plans/level1/ground.dwg
lin stage plans/level1/ground.dwg >/dev/null && lin commit -m "linux on the lock" >/dev/null
expect 1 "locked by 'drafter2'" -- lin push
cd "$base/windows"
expect 0 'unlocked plans\level1\ground.dwg' -- win unlock plans/level1/ground.dwg
cd "$base/linux"
expect 1 "plans/level1/ground.dwg is not locked by you: lock it first" -- lin push
expect 0 "locked plans/level1/ground.dwg" -- lin lock plans/level1/ground.dwg
expect 0 "pushed 1 commit" -- lin push
cd "$base/windows"
expect 0 "pulled 1 commit" -- win pull
grep -q 'from Linux' plans/level1/ground.dwg || fail "Windows did not get the Linux edit"

# Linux pushes names Windows cannot hold: the Windows pull refuses, naming one, and changes nothing.
cd "$base/linux"
printf 'device\n' >aux.txt
printf 'colon\n' >'a:b.txt'
lin stage aux.txt 'a:b.txt' >/dev/null && lin commit -m "names for Linux only" >/dev/null
expect 0 "pushed 1 commit" -- lin push
cd "$base/windows"
before=$(snapshot)
expect 1 "which Windows cannot hold" -- win pull
[ "$(snapshot)" = "$before" ] || fail "a refused pull changed the Windows clone"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "mixed office: all checks passed"

#!/usr/bin/env bash
# Shared history under load and under faults, on a throwaway PostgreSQL cluster:
#   - 8 clones push at once, round after round: every push lands or is told to pull, and after
#     pulling lands; no commit is lost, the server's history stays linear and every copy it names
#     is there and whole;
#   - push and pull killed (SIGKILL) at random moments, and the server stopped in the middle of a
#     push: afterwards the server names only whole commits and copies, no working file is
#     half-written, and running the command again completes the work.
# Usage: shared_stress_test.sh <path to rvk> [rounds, default 20] [kills of each, default 40]
set -euo pipefail
rvk=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
rounds=${2:-20}
kills=${3:-40}
source "$(dirname "$0")/pg_cluster.sh"
export RVK_LOCK_TIMEOUT=60

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
sql() { psql -X -At "$pg_super" -c "$1"; }
# The server's invariants: a head at the newest commit, ids 1..head, every copy a change names
# present with all its bytes.
check_server() {
    local what=$1
    local problems
    problems=$(sql "SELECT 'head ' || coalesce(h.id, 0) || ' of ' || (SELECT count(*) FROM rvk.commits)
                    FROM rvk.head h WHERE coalesce(h.id, 0) <> (SELECT count(*) FROM rvk.commits)
                      OR coalesce(h.id, 0) <> (SELECT coalesce(max(id), 0) FROM rvk.commits)
                    UNION ALL
                    SELECT 'copy ' || c.url FROM rvk.changes c LEFT JOIN rvk.copies p USING (url, sha256)
                    WHERE c.url IS NOT NULL AND p.url IS NULL
                    UNION ALL
                    SELECT 'short ' || p.url FROM rvk.copies p
                    WHERE p.size <> (SELECT coalesce(sum(length(data)), 0) FROM rvk.copy_chunks k
                                     WHERE k.url = p.url AND k.sha256 = p.sha256)")
    [ -z "$problems" ] || fail "$what: the server is inconsistent: $problems"
}

"$rvk" remote create "$pg_admin" >/dev/null
mkdir "$base/origin"
cd "$base/origin"
"$rvk" init >/dev/null
printf 'start\n' >start.txt
"$rvk" stage --all >/dev/null && "$rvk" commit -m start >/dev/null
"$rvk" remote set "$pg_drafter1" >/dev/null && "$rvk" push >/dev/null

# Eight clients, each its own file, pushing at once.
clients=8
for i in $(seq "$clients"); do
    role=$pg_drafter1
    [ $((i % 2)) -eq 0 ] && role=$pg_drafter2
    "$rvk" clone "$role" "$base/w$i" >/dev/null
done
client() {
    local i=$1 r out
    cd "$base/w$i"
    for r in $(seq "$rounds"); do
        printf 'client %d round %d\n' "$i" "$r" >>"c$i.txt"
        "$rvk" stage "c$i.txt" >/dev/null && "$rvk" commit -m "c$i r$r" >/dev/null
        for attempt in $(seq 100); do
            if out=$("$rvk" push 2>&1); then
                echo landed >>"$base/outcomes"
                break
            fi
            if ! grep -q "run rvk pull first" <<<"$out"; then
                echo "client $i round $r: $out" >>"$base/odd"
                break
            fi
            echo "told to pull" >>"$base/outcomes"
            "$rvk" pull >/dev/null 2>>"$base/odd" || echo "client $i round $r: pull failed" >>"$base/odd"
        done
    done
}
started=$(date +%s)
for i in $(seq "$clients"); do client "$i" & done
wait
echo "concurrency: $clients clients x $rounds rounds in $(($(date +%s) - started)) s:" \
     "$(grep -c landed "$base/outcomes") pushes landed, $(grep -c 'told to pull' "$base/outcomes" || true) told to pull first"
[ ! -s "$base/odd" ] || fail "pushes that neither landed nor were told to pull: $(head -5 "$base/odd")"
want=$((1 + clients * rounds))
[ "$(sql 'SELECT count(*) FROM rvk.commits')" = "$want" ] ||
    fail "the server holds $(sql 'SELECT count(*) FROM rvk.commits') commits, not $want"
check_server concurrency
cd "$base"
"$rvk" clone "$pg_reader" "$base/final" >/dev/null
for i in $(seq "$clients"); do
    [ "$(wc -l <"$base/final/c$i.txt")" = "$rounds" ] || fail "client $i lost commits: $(cat "$base/final/c$i.txt")"
done

# Killed pushes: each kill leaves whole commits on the server, and a push run again lands. A
# drawing is locked before it changes, as a drafter must (a push that lands releases the lock).
cd "$base/w1"
"$rvk" pull >/dev/null
killed=0
for k in $(seq "$kills"); do
    "$rvk" lock "big$((k % 3)).dwg" >/dev/null
    head -c $((200000 + RANDOM * 30)) /dev/urandom >"big$((k % 3)).dwg"
    "$rvk" stage --all >/dev/null && "$rvk" commit -m "kill $k" >/dev/null
    "$rvk" push >/dev/null 2>&1 &
    pid=$!
    sleep "0.0$((RANDOM % 10))$((RANDOM % 10))"
    kill -KILL "$pid" 2>/dev/null && killed=$((killed + 1))
    wait "$pid" 2>/dev/null || true
    check_server "push killed ($k)"
    "$rvk" push >"$base/out" 2>&1 || fail "push after a kill: $(cat "$base/out")"
done
[ "$("$rvk" log | head -n 1 | cut -f1)" = "$(sql 'SELECT id FROM rvk.head')" ] || fail "pushes after kills did not all land"
echo "faults: push killed $killed times at random moments"

# Killed pulls: no working file half-written, and a pull run again completes.
cd "$base/w2"
killed=0
for k in $(seq "$kills"); do
    (cd "$base/w1" && "$rvk" lock "big$((k % 3)).dwg" >/dev/null &&
        head -c $((200000 + RANDOM * 30)) /dev/urandom >"big$((k % 3)).dwg" &&
        printf '%d\n' "$k" >>pulled.txt && "$rvk" stage --all >/dev/null &&
        "$rvk" commit -m "pull kill $k" >/dev/null && "$rvk" push >/dev/null)
    "$rvk" pull >/dev/null 2>&1 &
    pid=$!
    sleep "0.0$((RANDOM % 10))$((RANDOM % 10))"
    kill -KILL "$pid" 2>/dev/null && killed=$((killed + 1))
    wait "$pid" 2>/dev/null || true
    for f in big0.dwg big1.dwg big2.dwg; do
        [ -e "$f" ] || continue
        # Every working file is whole: as some commit of the server has it.
        sum=$(sha256sum "$f" | cut -d' ' -f1)
        [ -n "$(sql "SELECT 1 FROM rvk.changes WHERE path = '$f' AND sha256 = '$sum' LIMIT 1")" ] ||
            fail "pull killed ($k): $f is half-written"
    done
    "$rvk" pull >"$base/out" 2>&1 || fail "pull after a kill: $(cat "$base/out")"
    for f in big0.dwg big1.dwg big2.dwg pulled.txt; do
        [ ! -e "$base/w1/$f" ] || cmp -s "$f" "$base/w1/$f" || fail "pull after a kill ($k) left $f behind"
    done
    [ -z "$("$rvk" status)" ] || fail "pull after a kill ($k) left changes: $("$rvk" status)"
done
echo "faults: pull killed $killed times at random moments"

# Kills at every step: push killed at each of its sends to the server, pull at each rename and
# each write of its database; after each, the same checks and a rerun that completes.
steps=0
cut_off=0
if command -v strace >/dev/null && strace -f -o /dev/null true 2>/dev/null; then
    # LeakSanitizer cannot work under ptrace; a sanitized rvk would fail for that alone.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
    change() {  # a new commit in w1, pushed unless told not to
        (cd "$base/w1" && printf 'step %s\n' "$1" >>steps.txt && "$rvk" lock step.dwg >/dev/null &&
            head -c 100000 /dev/urandom >step.dwg && "$rvk" stage --all >/dev/null &&
            "$rvk" commit -m "step $1" >/dev/null && { [ "${2:-}" = keep ] || "$rvk" push >/dev/null; })
    }
    calls() {  # calls SYSCALL COMMAND...: how often one run makes the call
        strace -f -c -U name,calls -e trace="$1" "${@:2}" 2>&1 >/dev/null |
            awk -v c="$1" '$1 == c {print $2}'
    }
    kill_at() {  # kill_at SYSCALL N COMMAND...
        local code=0
        strace -f -o /dev/null -e trace="$1" -e inject="$1":signal=KILL:when="$2" "${@:3}" \
            >/dev/null 2>&1 &
        wait $! 2>/dev/null || code=$?
        ((code == 137)) && steps=$((steps + 1))
        return 0
    }
    cd "$base/w1"
    change counted keep
    total=$(calls sendto "$rvk" push)
    for n in $(seq "${total:-0}"); do
        change "push $n" keep
        kill_at sendto "$n" "$rvk" push
        check_server "push killed at send $n"
        "$rvk" push >"$base/out" 2>&1 || fail "push after a kill at send $n: $(cat "$base/out")"
    done
    cd "$base/w4"
    "$rvk" pull >/dev/null
    for call in rename pwrite64; do
        change "counting $call"
        total=$(calls "$call" "$rvk" pull)
        for n in $(seq "${total:-0}"); do
            change "pull $call $n"
            kill_at "$call" "$n" "$rvk" pull
            # Cut off with its commits stored, a pull holds back every command that changes
            # anything: status would show the server's files as changed or removed, and staging
            # them would undo a colleague's work. Status says why; the rerun, what it completed.
            completed=
            if [ -n "$(sqlite3 .rvk/rvk.db "SELECT value FROM remote WHERE key = 'pending'")" ]; then
                cut_off=$((cut_off + 1))
                completed="completed the pull that was cut off"
                for command in "restore --all" "stage --all" "unstage --all" "commit -m x"; do
                    # shellcheck disable=SC2086
                    ! "$rvk" $command >"$base/out" 2>&1 && grep -q "run rvk pull" "$base/out" ||
                        fail "$command after a pull cut off at $call $n: $(cat "$base/out")"
                done
                "$rvk" status 2>&1 >/dev/null | grep -q "pull was cut off" ||
                    fail "status after a pull cut off at $call $n says nothing of it"
            fi
            for f in step.dwg steps.txt; do
                [ ! -e "$f" ] || [ -n "$(sql "SELECT 1 FROM rvk.changes WHERE path = '$f' AND sha256 = '$(sha256sum "$f" | cut -d' ' -f1)' LIMIT 1")" ] ||
                    fail "pull killed at $call $n: $f is half-written"
            done
            "$rvk" pull >"$base/out" 2>&1 || fail "pull after a kill at $call $n: $(cat "$base/out")"
            [ -z "$completed" ] || grep -q "$completed" "$base/out" ||
                fail "the pull after a cut-off one at $call $n does not say it completed it: $(cat "$base/out")"
            cmp -s steps.txt "$base/w1/steps.txt" || fail "pull after a kill at $call $n is incomplete"
            [ -z "$("$rvk" status)" ] || fail "pull after a kill at $call $n left changes: $("$rvk" status)"
        done
    done
    echo "faults: $steps kills at each send of a push and each rename and database write of a pull" \
         "($cut_off pulls cut off between their commits and HEAD)"
else
    echo "faults: strace is missing or ptrace is not allowed; no kills at each step"
fi

# The server stopped in the middle of a push, and started again: stopped once the push is seen
# sending a copy, tried again with a new drawing when the push was quicker than the look.
cd "$base/w1"
stopped=
for attempt in 1 2 3; do
    "$rvk" lock huge.dwg >/dev/null
    head -c 60000000 /dev/urandom >huge.dwg
    "$rvk" stage huge.dwg >/dev/null && "$rvk" commit -m "huge $attempt" >/dev/null
    "$rvk" push >"$base/out" 2>&1 &
    pid=$!
    for _ in $(seq 500); do
        [ -n "$(sql "SELECT 1 FROM pg_stat_activity WHERE query LIKE 'SELECT rvk.put_chunk(%' AND state = 'active'")" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.01
    done
    bash "$pg_server" stop "$base/pg" >/dev/null
    code=0
    wait "$pid" || code=$?
    bash "$pg_server" start "$base/pg" >/dev/null
    check_server "server stopped"
    if [ "$code" != 0 ]; then
        stopped=1
        break
    fi
done
[ -n "$stopped" ] || fail "every push ended before the server stopped"
"$rvk" push >"$base/out" 2>&1 || fail "push after the server came back: $(cat "$base/out")"
check_server "push after the server came back"
cd "$base/w3"
"$rvk" pull >/dev/null || fail "pull of the pushes above"
cmp -s huge.dwg "$base/w1/huge.dwg" || fail "the drawing pushed after the server came back differs"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "shared history under load and faults: all checks passed"

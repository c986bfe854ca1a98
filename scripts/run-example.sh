#!/usr/bin/env bash
# Sets up the machine, builds the library and the reference host, and runs the host through a short
# session in a fresh sample folder: a repository is made, files are staged and committed, a drawing
# and a generic file change, the changes are listed again, a file edited by mistake is restored
# and the stored copies are verified; then two drafters share the history on a throwaway
# PostgreSQL cluster, and a reader's rvk serve answers for it over HTTP. Every command is shown
# with its output. RVK_JOBS sets the number of parallel compile jobs (default: all processors).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
bash scripts/setup.sh

build=build/example
echo "building the library librvkcore and the reference host rvk in $build (this takes a few"
echo "minutes the first time; later runs only rebuild what changed)"
# The example preset of CMakePresets.json, whose folder is $build.
cmake --preset example >/dev/null
cmake --build "$build" -j "${RVK_JOBS:-$(nproc 2>/dev/null || echo 2)}" --target rvk
rvk_binary=$PWD/$build/bin/rvk

sample=$(mktemp -d "${TMPDIR:-/tmp}/rvk-sample-XXXXXX")
trap 'rm -rf "$sample"' EXIT
sample=$(cd "$sample" && pwd -P)
cd "$sample"

rvk() { "$rvk_binary" "$@"; }
# Prints a command as a user would type it, quoting the words that hold spaces.
show() {
    local word line=
    for word in "$@"; do
        [[ $word == *[[:space:]]* ]] && word="'$word'"
        line+=${line:+ }$word
    done
    printf '\n$ %s\n' "$line"
}
# Shows a command, then runs it; its output follows.
step() {
    show "$@"
    "$@"
}
# The same for a command that is meant to fail: its exit code is shown instead of stopping here.
step_failing() {
    show "$@"
    local code=0
    "$@" 2>&1 || code=$?
    printf '(exit code %d)\n' "$code"
    ((code != 0))
}
note() { printf '\n# %s\n' "$*"; }

note "a sample working folder in $sample"
mkdir -p "plans/level 1" "plans/level 2" details
printf 'ground floor, level 1\n' >"plans/level 1/ground floor.dwg"
printf 'ground floor, level 2\n' >"plans/level 2/ground floor.dwg"
printf 'stair detail\n' >details/stair.dwg
printf 'backup of the stair detail\n' >details/stair.bak
printf 'Client meeting notes\n' >notes.txt
step find . -type f

step rvk init
note "stair.bak is left out by the default ignore rules"
step rvk status
note "a name that finds two files stages nothing"
step_failing rvk stage "ground floor"
step rvk stage "plans/level 1/ground floor" stair notes.txt
step rvk status
step rvk commit -m "First plans"
step rvk stage --all
step rvk commit -m "Level 2 and the ignore rules"
note "everything is committed: status lists nothing"
step rvk status

note "a drawing is saved again, the notes get a new line"
touch -d "@$(($(date +%s) + 60))" details/stair.dwg
printf 'Second meeting: stair moved\n' >>notes.txt
step rvk status
step rvk stage stair notes
step rvk show-state
step rvk commit -m "Stair moved"
step rvk status
step rvk log

note "the notes are overwritten by mistake: restore refuses to lose the change unless told to"
printf 'oops\n' >notes.txt
step rvk status
step_failing rvk restore notes.txt
step rvk restore --force notes.txt
step cat notes.txt
step rvk status
step rvk log notes.txt
note "every stored copy that a commit names is there and whole"
step rvk verify

# --- two drafters and one shared history --------------------------------------------------------
# A throwaway PostgreSQL cluster on this machine stands for the office's server; drafter1 works in
# the sample folder, drafter2 in a clone of it.
if ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
    printf '\nno PostgreSQL server on this machine: the shared part of the session is left out\n'
    printf '\nexample session finished\n'
    exit 0
fi
office=$(mktemp -d "${TMPDIR:-/tmp}/rvk-office-XXXXXX")
chmod 755 "$office"  # the server may run as another user, who must reach its folder
pg_server=$repo/scripts/pg-server.sh
trap 'bash "$pg_server" stop "$office/pg" >/dev/null 2>&1 || true; rm -rf "$sample" "$office"' EXIT
bash "$pg_server" start "$office/pg" >"$office/roles"
role() { sed -n "s/^$1 //p" "$office/roles"; }
admin=$(role admin) drafter1=$(role drafter1) drafter2=$(role drafter2)

note "the administrator makes the shared repository; drafter1 sends the history there"
step rvk remote create "$admin"
step rvk remote set "$drafter1"
step rvk push
note "drafter2 clones it: drawings are read-only until drafter2 holds their lock"
step rvk clone "$drafter2" "$office/clone"
cd "$office/clone"
step ls -l details
step rvk lock details/stair.dwg
step ls -l details
printf 'stair detail, revised by drafter2\n' >details/stair.dwg
step rvk status
step rvk stage stair
step rvk commit -m "Stair revised"
note "the push gives the lock back: the drawing is read-only again"
step rvk push
step ls -l details

note "drafter1 edits the stair without its lock: the push is refused before any work is lost"
cd "$sample"
step rvk pull
step rvk log
chmod u+w details/stair.dwg
printf 'stair detail, drafter1 without the lock\n' >details/stair.dwg
step rvk stage stair
step rvk commit -m "Stair by drafter1"
step_failing rvk push
step rvk lock details/stair.dwg
step rvk status
step rvk push

note "both drafters edit the meeting notes; the second pull keeps the other's version and sets its own aside"
cd "$office/clone"
printf 'Third meeting: drafter2 was there\n' >>notes.txt
step rvk stage notes
step rvk commit -m "Notes of drafter2"
step rvk pull
step rvk push
cd "$sample"
printf 'Third meeting: drafter1 was there\n' >>notes.txt
step_failing rvk pull
step rvk pull --theirs
step cat notes.txt notes.mine.txt
step rvk status

note "the set is issued: a label on the server, and its files exported with a register"
step rvk label "Rev B"
step rvk labels
step rvk export "Rev B" "$office/Rev B"
step ls -l "$office/Rev B"
step cat "$office/Rev B/register.csv"

note "the office reads the history in a browser: rvk serve, with a reader's login"
show rvk serve "$(role reader)" --listen 127.0.0.1:0 "&"
"$rvk_binary" serve "$(role reader)" --listen 127.0.0.1:0 2>"$office/serve.log" &
serve_pid=$!
trap 'kill $serve_pid 2>/dev/null || true; bash "$pg_server" stop "$office/pg" >/dev/null 2>&1 || true; rm -rf "$sample" "$office"' EXIT
for _ in $(seq 100); do
    grep -q ' on http://' "$office/serve.log" && break
    sleep 0.1
done
cat "$office/serve.log"
site=$(sed -n 's|.* on \(http://[^ ]*\) .*|\1|p' "$office/serve.log")
step curl -s "${site}labels/Rev%20B/register.csv"
step curl -s -o "$office/stair.dwg" -D - "${site}download/5/details/stair.dwg"
note "one line a request on the server's stderr"
kill -INT $serve_pid
wait $serve_pid || true
tail -n +2 "$office/serve.log"

printf '\nexample session finished\n'

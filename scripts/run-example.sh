#!/usr/bin/env bash
# Sets up the machine, builds the library and the reference host, and runs the host through a short
# session in a fresh sample folder: a repository is made, files are staged and committed, a drawing
# and a generic file change, the changes are listed again, a file edited by mistake is restored
# and the stored copies are verified. Every command is shown with its output. RVK_JOBS sets the
# number of parallel compile jobs (default: all processors).
set -euo pipefail
cd "$(dirname "$0")/.."
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

printf '\nexample session finished\n'

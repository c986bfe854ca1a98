#!/usr/bin/env bash
# Drawings held open by another program while rvk.exe pulls and restores under Wine, as a CAD
# program holds the drawing it shows (hold_open.exe holds them so): each held file is left whole,
# every other file is updated, rvk names the held ones and exits 1; once they are closed, the
# same command completes the work.
# Usage: held_open_test.sh <path to rvk.exe> <path to hold_open.exe>
set -euo pipefail
# shellcheck source=server_session.sh
source "$(dirname "$0")/server_session.sh" "$1"
holder=$(cd "$(dirname "$2")" && pwd -P)/$(basename "$2")
rvk_command=(rvk)
err=$base/err
# Wine shows the machine's root folder as drive Z:.
win() { printf 'Z:%s' "${1//\//\\}"; }

# hold FILE...: from when this returns until release(), hold_open.exe holds the FILEs. It reads
# its standard input from a pipe this script keeps open, so that it ends with the script.
hold() {
    rm -f "$base/release" "$base/to-holder" "$base/from-holder"
    mkfifo "$base/to-holder" "$base/from-holder"
    local files=() said=
    for f; do files+=("$(win "$PWD/$f")"); done
    wine "$holder" "$(win "$base/release")" "${files[@]}" <"$base/to-holder" >"$base/from-holder" &
    holder_pid=$!
    exec {to_holder}>"$base/to-holder" {from_holder}<"$base/from-holder"
    read -r said <&"$from_holder" || true
    [[ ${said%$'\r'} == holding ]] || fail "hold_open.exe does not hold $*"
}
release() {
    touch "$base/release"
    wait "$holder_pid" || fail "hold_open.exe failed"
    exec {to_holder}>&- {from_holder}<&-
}
# same FILE COPY: FILE holds exactly the bytes of COPY.
same() { cmp -s "$1" "$2" || fail "$1 is not as it was: $(cat "$1")"; }

expect 0 "created an empty" -- rvk remote create "$pg_admin"
mkdir "$base/a" "$base/kept"
cd "$base/a"
rvk init >/dev/null
printf 'ground floor\n' >plan.dwg
printf 'site\n' >site.dwg
printf 'notes\n' >notes.txt
printf 'old\n' >old.txt
rvk stage --all >/dev/null && rvk commit -m first >/dev/null
expect 0 "remote set" -- rvk remote set "$pg_drafter1"
expect 0 "pushed 1 commit" -- rvk push
expect 0 "cloned 1 commit" -- rvk clone "$pg_drafter2" "$base/b"
expect 0 "locked" -- rvk lock plan.dwg site.dwg
printf 'ground floor, revised\n' >plan.dwg
printf 'site, revised\n' >site.dwg
printf 'more notes\n' >notes.txt
rm old.txt
rvk stage --all >/dev/null && rvk commit -m second >/dev/null
expect 0 "pushed 1 commit" -- rvk push

# --- pull: a drawing it replaces and a file it removes, both held ---------------------------------
cd "$base/b"
cp plan.dwg old.txt "$base/kept/"
hold plan.dwg old.txt
run 1 pull
expect_out <<'EOF'
pulled 1 commit (3 copies, 0.0 MiB received; 2 working files updated): HEAD is commit 2
EOF
expect_err <<'EOF'
rvk: cannot update 'old.txt': it is open in another program; close it there and run rvk pull again
rvk: cannot update 'plan.dwg': it is open in another program; close it there and run rvk pull again
EOF
same plan.dwg "$base/kept/plan.dwg"
same old.txt "$base/kept/old.txt"
same site.dwg "$base/a/site.dwg"
same notes.txt "$base/a/notes.txt"
# Still held, a pull brings nothing new and leaves them as they are; a push goes on, and says why
# the files wait.
run 1 pull
expect_out <<<"updated 0 working files of the pull that was cut off: HEAD is commit 2"
same plan.dwg "$base/kept/plan.dwg"
expect 0 "the pull that was cut off cannot update 'old.txt': it is open in another program" -- \
    rvk push
release
run 0 pull
expect_out <<'EOF'
completed the pull that was cut off (2 working files updated)
pulled nothing: already up to date with the server (commit 2)
EOF
expect_quiet_err
same plan.dwg "$base/a/plan.dwg"
[[ ! -e old.txt ]] || fail "the pull after old.txt was closed left it"
run 0 status
expect_quiet_out

# --- restore from the first commit, a drawing held ---------------------------------------------
cp plan.dwg "$base/kept/plan.dwg"
hold plan.dwg
run 1 restore --commit 1 --all
expect_out <<'EOF'
restored .rvk\properties\ignore
restored notes.txt
restored old.txt
restored site.dwg
EOF
expect_err <<<"rvk: cannot restore 'plan.dwg': it is open in another program; close it there and try again"
same plan.dwg "$base/kept/plan.dwg"
[[ $(<site.dwg) == site && $(<notes.txt) == notes && $(<old.txt) == old ]] ||
    fail "the restore beside the held drawing did not restore the others"
release
run 0 restore --commit 1 --all
expect_quiet_err
[[ $(<plan.dwg) == "ground floor" ]] || fail "the restore after the drawing was closed left it"

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "held open: all checks passed"

#!/usr/bin/env bash
# Drives rvk.exe under Wine through a commit cycle and through what only Windows has: the hidden
# repository folder, "\" and "/" and drive paths typed, paths longer than MAX_PATH, a drawing held
# open by another program during a restore, and names that Windows refuses or takes for one file,
# planted in the history. Checks the exact output and exit code of every command, and that a
# refused one changes nothing.
# Usage: windows_session.sh <path to rvk.exe>     (WINEPREFIX as scripts/test-windows.sh sets it)
set -euo pipefail

exe=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
# shellcheck source=session_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/session_checks.sh"
session_folder windows
export WINEDEBUG=${WINEDEBUG:--all}
rvk_command=(wine "$exe")
# Wine shows the machine's root folder as drive Z:.
win() { printf 'Z:%s' "${1//\//\\}"; }
# What a refused command could have changed: the state file, the history and the working files.
snapshot() { cat .rvk/rvk.state; sqlite3 .rvk/rvk.db .dump; find . -path ./.rvk -prune -o -type f -print0 | sort -z | xargs -0 cat; }

repo=$base/repo
mkdir -p "$repo/plans/level1"
cd "$repo"
printf 'ground floor\n' >plans/level1/ground.dwg
printf 'site\n' >site.dwg
printf 'notes\n' >notes.txt

# --- a repository: the hidden folder, stage with either separator, commit, status ---------------
ok init <<<"initialized empty repository at $(win "$repo")"
attributes=$(wine cmd /c attrib "$(win "$repo/.rvk")" | tr -d '\r')
[[ ${attributes%%Z:*} == *H* ]] || fail "the repository folder is not hidden: $attributes"
ok stage 'plans\level1\ground.dwg' <<<'A+ plans\level1\ground.dwg'
ok stage site.dwg "$(win "$repo/notes.txt")" <<'EOF'
A+ notes.txt
A+ site.dwg
EOF
cd plans
ok status <<'EOF'
?  .rvk\properties\ignore
A+ notes.txt
A+ plans\level1\ground.dwg
A+ site.dwg
EOF
cd ..
ok commit -m "first plans" <<<"committed 1: 3 files"
ok status <<<'?  .rvk\properties\ignore'

# --- restore: refused over work, forced, and verified ------------------------------------------
printf 'notes, not committed\n' >notes.txt
refused "notes.txt differs from HEAD's copy: restoring would lose that; rvk restore --force replaces it" \
    restore notes.txt
ok restore --force ./notes.txt <<<"restored notes.txt"
[[ $(<notes.txt) == notes ]] || fail "restore --force did not bring the committed notes back"
ok verify <<<"3 stored copies verified: all present and whole"

# A drawing held open by another program (as a CAD program holds the drawing it shows): the
# restore says so and changes nothing; once it is closed, the restore goes through.
printf 'site, changed\n' >site.dwg
touch -d "@$(($(date +%s) + 60))" site.dwg
wine cmd /c "ping -n 6 127.0.0.1 >nul 2>>site.dwg" &
holder=$!
sleep 2
before=$(snapshot)
refused "cannot restore 'site.dwg': it is open in another program; close it there and try again" \
    restore --force site.dwg
[[ $(snapshot) == "$before" ]] || fail "a restore refused by an open drawing changed something"
wait "$holder"
ok restore --force site.dwg <<<"restored site.dwg"
[[ $(<site.dwg) == site ]] || fail "the restore after the drawing was closed did not bring it back"

# --- paths longer than MAX_PATH, through the \\?\ form ------------------------------------------
long=
for level in {1..12}; do long+="level-$level-$(printf 'x%.0s' {1..20})/"; done
mkdir -p "$long"
printf 'deep\n' >"${long}deep.dwg"
(($(printf '%s' "$(win "$repo/$long")" | wc -c) > 300)) || fail "the long path is not long"
ok stage --all <<EOF
A+ .rvk\\properties\\ignore
A+ ${long//\//\\}deep.dwg
EOF
ok commit -m "deep" <<<"committed 2: 5 files"
rm "${long}deep.dwg"
ok restore "${long}deep.dwg" <<<"restored ${long//\//\\}deep.dwg"
[[ $(<"${long}deep.dwg") == deep ]] || fail "the long path was not restored"
ok status </dev/null

# An absolute path through a linked folder (a reparse point) reaches the tree as Windows resolves it.
ln -s "$repo" "$base/alias"
printf 'linked\n' >linked.txt
ok stage "$(win "$base/alias/linked.txt")" <<<"A+ linked.txt"
ok unstage linked.txt </dev/null
rm linked.txt

# --- names Windows refuses or takes for one file, planted in the history ----------------------------
# A history made on another system, or a database someone edited, may hold them: a restore
# refuses them and writes nothing, never a file under another name or one over the other.
head_files() { sqlite3 .rvk/rvk.db "SELECT path FROM commit_files WHERE commit_id = 2 ORDER BY path"; }
plant() { sqlite3 .rvk/rvk.db "INSERT INTO commit_files SELECT 2, '$1', url FROM commit_files WHERE commit_id = 2 AND path = 'notes.txt'"; }
for entry in 'CON.txt|"CON.txt" is a device name on Windows' \
             'plans\com1.dwg|"com1.dwg" is a device name on Windows' \
             'plans\draft.|"draft." ends in a dot, which Windows drops' \
             'a:b.txt|"a:b.txt" holds '"'"':'"'"', which Windows does not allow in a name'; do
    name=${entry%%|*}
    plant "$name"
    before=$(snapshot)
    refused "cannot restore ${name}: ${entry#*|}; nothing was restored (rename it where it was committed)" \
        restore --all --force
    [[ $(snapshot) == "$before" ]] || fail "a restore of '$name' changed something"
    sqlite3 .rvk/rvk.db "DELETE FROM commit_files WHERE commit_id = 2 AND path = '$name'"
done
# Status never looks at such a path: a device name would open the device (reading "CON" waits
# for the console).
plant 'CON'
plant 'plans\nul.dwg'
run 0 status
expect_quiet_out
expect_err <<'EOF'
rvk: cannot examine 'CON': "CON" is a device name on Windows; it is left out, and not taken for removed
rvk: cannot examine 'plans\nul.dwg': "nul.dwg" is a device name on Windows; it is left out, and not taken for removed
EOF
sqlite3 .rvk/rvk.db "DELETE FROM commit_files WHERE commit_id = 2 AND path IN ('CON', 'plans\nul.dwg')"
plant 'NOTES.TXT'
before=$(snapshot)
refused "cannot restore 'NOTES.TXT' and 'notes.txt': they differ only in letter case, and Windows \
takes them for one file, so one would overwrite the other; nothing was restored (rename one where \
they were committed)" restore --all --force
[[ $(snapshot) == "$before" ]] || fail "a restore of names that differ in case changed something"

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "windows session: all checks passed"

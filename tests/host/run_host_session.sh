#!/usr/bin/env bash
# Drives the built rvk through whole commit cycles in a fresh folder, checking the exact output,
# error text and exit code of every command, and that a failed command changes nothing.
# Usage: run_host_session.sh <path to rvk>
set -euo pipefail

rvk=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
# shellcheck source=session_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/session_checks.sh"
session_folder host
repo=$base/repo

# Given rvk.exe, the session runs it under Wine and reads what it prints in POSIX form: Wine's
# drive Z: dropped before the root folder, and "\" between folders turned into "/" (inside a
# quoted name, where it is written "\\"; other escapes stay as they are). Rows that need what
# Windows lacks, or where Windows differs by design, say so and are skipped there.
windows=
if [[ $rvk == *.exe ]]; then
    windows=1
    export WINEDEBUG=${WINEDEBUG:--all}
fi
posix_paths() {
    perl -pe 's/Z:(?=\\)//g; s{("(?:[^"\\]|\\.)*")|'"'"'\\'"'"'|\\}{defined $1 ? $1 =~ s/\\\\/\//gr : $& eq "\\" ? "/" : $&}ge'
}
rvk_exe() {
    local code=0
    wine "$rvk" "$@" >"$base/exe.out" 2>"$base/exe.err" || code=$?
    # The history prints messages, with their own backslashes, and no path.
    if [[ ${1-} == log ]]; then cat "$base/exe.out"; else posix_paths <"$base/exe.out"; fi
    posix_paths <"$base/exe.err" >&2
    return $code
}
skip_on_windows() { [[ -z $windows ]] || echo "skipped on Windows: $*" >&2; [[ -z $windows ]]; }
# Paths as the database holds them on this system.
native() { if [[ -n $windows ]]; then printf '%s' "${1//\//\\}"; else printf '%s' "$1"; fi; }
if [[ -n $windows ]]; then rvk_command=(rvk_exe); else rvk_command=("$rvk"); fi
# Who the log names as the author of what this session commits: the system's user.
me=$(id -un)
# Everything a failed command could have changed: the state file and the history.
snapshot() { cat .rvk/rvk.state; "${rvk_command[@]}" log; }

# --- bad usage: exit 2, the usage on stderr, nothing done ----------------------------------------
mkdir -p "$base/outside"
cd "$base/outside"
bad_usage=("|no command given"
           "frobnicate|'frobnicate' is not an rvk command"
           "status now|status: takes no PATH; it always lists the whole working tree"
           "stage|stage: name the files to stage, or give --all"
           "stage --all plan|stage: give NAMEs or --all, not both"
           "unstage|unstage: name the files to unstage, or give --all"
           "commit|commit: give the commit's message with -m MESSAGE"
           "commit -m|commit: '-m' needs a value after it"
           "commit -x text|commit: '-x' is no option of rvk commit (put -- before a name that begins with '-')"
           "commit -m a b|commit: 'b' is more than one message (quote a message of several words)"
           "log a b|log: give one PATH at most"
           "show-state x|show-state: takes no arguments"
           "init a b|init: give one folder at most"
           "restore|restore: name the files to restore, or give --all"
           "restore --all a|restore: give PATHs or --all, not both"
           "restore --frob a|restore: '--frob' is no option of rvk restore (put -- before a name that begins with '-')"
           "restore --force --force a|restore: '--force' is given twice"
           "verify x|verify: takes no arguments"
           "status -x|status: '-x' is no option of rvk status (put -- before a name that begins with '-')")
# Each usage error names its problem first, then shows the usage.
for entry in "${bad_usage[@]}"; do
    read -r -a words <<<"${entry%%|*}"
    run 2 ${words[@]+"${words[@]}"}
    expect_quiet_out
    [[ $(head -n 1 "$err") == "rvk: ${entry#*|}" ]] || fail "$last: problem not named first: $(head -n 1 "$err")"
    [[ $(sed -n 2p "$err") == "usage: rvk [--lock-timeout SECONDS] <command> [arguments]" ]] ||
        fail "$last: no usage"
done
[[ -z $(ls -A) ]] || fail "bad usage left files behind"

# The folder rvk runs in is never searched for its libraries: a file there named like one is no
# library of rvk's.
printf 'not a library\n' >libstdc++.so.6
refused "Path: $base/outside is not a rvk directory." status

# --- a working folder: drawings in subfolders, an ignored backup, a non-drawing file ----------------
mkdir -p "$repo/plans/level1" "$repo/plans/level2"
cd "$repo"
printf 'ground floor, level 1\n' >plans/level1/ground.dwg
printf 'ground floor, level 2\n' >plans/level2/ground.dwg
printf 'site\n' >site.dwg
printf 'backup\n' >site.bak
printf 'notes\n' >notes.txt

ok init <<<"initialized empty repository at $repo"
ok init plans <<<"repository already exists at $repo"
ok status <<'EOF'
?  .rvk/properties/ignore
?  notes.txt
?  plans/level1/ground.dwg
?  plans/level2/ground.dwg
?  site.dwg
EOF
before=$(snapshot)

# Names that stage nothing, alone or beside a good one: exit 1, the state untouched.
refused "nothing to commit: no file is staged (see rvk stage)" commit -m "too early"
run 1 stage ground
expect_quiet_out
expect_err <<'EOF'
rvk: More that one file found with name ground.
    plans/level1/ground.dwg
    plans/level2/ground.dwg
EOF
refused "'roof' finds no changed, new or removed file" stage roof
# A name with control characters is shown escaped, never sent to the terminal as it is.
refused '"ro\tof\033" finds no changed, new or removed file' stage $'ro\tof\e'
# An invalid pattern is explained by the character at fault, in plain words.
refused "'plan(' is no valid pattern: '(' begins a group that no ')' ends (character 5); put a '\\' \
before a character to take it as it is" stage 'plan('
refused "'[' is no valid pattern: '[' begins a set of characters that no ']' ends (character 1); \
put a '\\' before a character to take it as it is" stage '['
refused "'site.bak' finds no changed, new or removed file" stage site.bak
refused "'nowhere' finds no changed, new or removed file" stage site nowhere
[[ $(snapshot) == "$before" ]] || fail "refused commands changed the repository"

# Names are matched against the path from the root, wherever rvk runs.
cd plans
ok stage level1/ground <<<"A+ plans/level1/ground.dwg"
cd ..
ok stage notes.txt site plans/level1/ground.dwg <<'EOF'
A+ notes.txt
A+ plans/level1/ground.dwg
A+ site.dwg
EOF
ok status <<'EOF'
?  .rvk/properties/ignore
A+ notes.txt
A+ plans/level1/ground.dwg
?  plans/level2/ground.dwg
A+ site.dwg
EOF
ok show-state <<'EOF'
{
    "head" : {
        "reference" : "master"
    },
    "staged_files" : [
        {
            "file_change" : "added",
            "path" : "notes.txt"
        },
        {
            "file_change" : "added",
            "path" : "plans/level1/ground.dwg"
        },
        {
            "file_change" : "added",
            "path" : "site.dwg"
        }
    ]
}
EOF
ok commit -m "first plans" <<<"committed 1: 3 files"
ok status <<'EOF'
?  .rvk/properties/ignore
?  plans/level2/ground.dwg
EOF
refused "'site' finds only 'site.dwg', which is unchanged: there is nothing to stage" stage site

# --- changes: a newer drawing, a generic file whose content changed behind an old time, a removal ---
touch -d "@$(($(date +%s) + 3600))" site.dwg
printf 'notes, revised\n' >notes.txt
touch -d "2001-01-01 00:00:00" notes.txt
rm plans/level1/ground.dwg
ok status <<'EOF'
?  .rvk/properties/ignore
M  notes.txt
D  plans/level1/ground.dwg
?  plans/level2/ground.dwg
M  site.dwg
EOF
ok stage plans/level1/ground.dwg <<<"D+ plans/level1/ground.dwg"
ok stage --all <<'EOF'
A+ .rvk/properties/ignore
M+ notes.txt
D+ plans/level1/ground.dwg
A+ plans/level2/ground.dwg
M+ site.dwg
EOF
RVK_COMMIT_TIME=1700003600 ok commit -m $'second\tround\nof plans' <<<"committed 2: 4 files"
ok status </dev/null
refused "There are no modified or untracked files for commit." stage --all
ok log < <(printf '%s\t%s\t%s\t%s\t%s\n' 2 2023-11-14T23:13:20Z "$me" 4 "second round of plans" \
    1 2023-11-14T22:13:20Z "$me" 3 "first plans")

# --- a commit whose stored copies cannot be written leaves state and history as they were --------
printf 'notes, third\n' >notes.txt
ok stage notes <<<"M+ notes.txt"
before=$(snapshot)
mv .rvk/objects "$base/objects"
printf 'in the way\n' >.rvk/objects
refused "cannot store 'notes.txt' in '$repo/.rvk/objects': Not a directory" commit -m "third"
[[ $(snapshot) == "$before" ]] || fail "a failed commit changed the repository"
rm .rvk/objects
mv "$base/objects" .rvk/objects
# The state written last fails (an immutable file cannot be replaced, even by root): the commit
# already in the database is taken back. Skipped where the file system has no such flag.
if chattr +i .rvk/rvk.state 2>/dev/null; then
    # Windows reports the file's lock as a refused permission.
    refused "Error writing to file '$repo/.rvk/rvk.state': $([[ -n $windows ]] && echo 'Permission denied' ||
        echo 'Operation not permitted')" commit -m "third"
    chattr -i .rvk/rvk.state
    [[ $(snapshot) == "$before" ]] || fail "a commit whose state write failed changed the repository"
    ok stage --all <<<"M+ notes.txt"
fi
ok unstage notes.txt </dev/null
refused "'notes.txt' is not staged" unstage notes.txt
ok status <<<"M  notes.txt"

# --- broken repository files: a clear error, nothing lost ---------------------------------------------
cp .rvk/rvk.state "$base/state"
printf '{' >.rvk/rvk.state
refused "Unable to parse json, please check if syntax is valid" status
refused "Unable to parse json, please check if syntax is valid" show-state
cp "$base/state" .rvk/rvk.state

# Copies keep the time, so that the tracked ignore file counts as unchanged once put back.
cp -p .rvk/properties/ignore "$base/ignore"
printf '(\n' >>.rvk/properties/ignore
refused "the ignore file .rvk/properties/ignore holds a rule that is no valid regular expression, \
line 4: '(': Mismatched '(' and ')' in regular expression" status
# Past the library's limits: the rule is named by its line and shortened, as is a typed name.
cp -p "$base/ignore" .rvk/properties/ignore
space_error="Pattern longer than 4096 bytes"
deep=$(printf '(%.0s' {1..60000})a$(printf ')%.0s' {1..60000})
printf '%s\n' "$deep" >>.rvk/properties/ignore
refused "the ignore file .rvk/properties/ignore holds a rule that is no valid regular expression, \
line 4: '$(printf '(%.0s' {1..60})...': ${space_error}" status
cp -p "$base/ignore" .rvk/properties/ignore
long=$(printf 'x%.0s' {1..100000})
if skip_on_windows "a pattern of 100,000 characters: a Windows command line holds 32,767"; then
    refused "'$(printf 'x%.0s' {1..60})...' is no valid pattern: ${space_error}" stage "$long("
fi

mv .rvk/rvk.db "$base/db"
refused "no database found at $repo/.rvk/rvk.db" log
printf 'not a database, only text long enough to be looked at\n' >.rvk/rvk.db
refused "database '$repo/.rvk/rvk.db': file is not a database" log
mv "$base/db" .rvk/rvk.db
ok status <<<"M  notes.txt"

# --- exact names, quoting, restore, log PATH, verify, the stat cache ------------------------------
store=$base/store
mkdir -p "$store/plans" "$base/elsewhere"
cd "$store"
printf 'plan v1\n' >plans/a.dwg
printf 'notes v1\n' >notes.txt
printf 'readme\n' >README
printf 'readme too\n' >README.txt
ok init <<<"initialized empty repository at $store"
# As a pattern README finds README.txt too; as an exact path it is the one file.
ok stage README <<<"A+ README"
ok stage --all <<'EOF'
A+ .rvk/properties/ignore
A+ README
A+ README.txt
A+ notes.txt
A+ plans/a.dwg
EOF
ok commit -m one <<<"committed 1: 5 files"
printf 'plan v2\n' >plans/a.dwg
touch -d "@$(($(date +%s) + 60))" plans/a.dwg
printf 'notes v2\n' >notes.txt
ok stage notes.txt plans/a.dwg <<'EOF'
M+ notes.txt
M+ plans/a.dwg
EOF
RVK_COMMIT_TIME=1700000100 ok commit -m two <<<"committed 2: 5 files"
ok log notes.txt < <(printf '%s\t%s\t%s\t%s\t%s\n' 2 2023-11-14T22:15:00Z "$me" 5 two 1 2023-11-14T22:13:20Z "$me" 5 one)
ok log README < <(printf '%s\t%s\t%s\t%s\t%s\n' 1 2023-11-14T22:13:20Z "$me" 5 one)

# A name with a tab and a line end takes one quoted line; -z gives it raw.
printf 'x' >$'odd\tname\n.txt'
ok status <<<'?  "odd\tname\n.txt"'
run 0 status -z
printf '?  odd\tname\n.txt\0' | cmp -s - "$out" || fail "$last: not the raw path with a zero byte"
rm $'odd\tname\n.txt'

# A modified file and a deleted one: nothing is written while one of them is refused.
printf 'notes, not committed\n' >notes.txt
rm plans/a.dwg
refused "notes.txt differs from HEAD's copy: restoring would lose that; rvk restore --force replaces it" \
    restore plans/a.dwg notes.txt
[[ ! -e plans/a.dwg ]] || fail "a refused restore wrote a file"
refused "nothing.txt is not in commit 2" restore nothing.txt
ok restore plans/a.dwg <<<"restored plans/a.dwg"
ok restore --force notes.txt <<<"restored notes.txt"
[[ $(<plans/a.dwg) == "plan v2" && $(<notes.txt) == "notes v2" ]] || fail "restore: wrong content"
ok status </dev/null
# Files as HEAD has them may be replaced by an older commit's copies without --force. The drawing
# is then older than HEAD's copy, which the library's test counts as unchanged.
ok restore --commit 1 plans/a.dwg notes.txt <<'EOF'
restored notes.txt
restored plans/a.dwg
EOF
[[ $(<plans/a.dwg) == "plan v1" && $(<notes.txt) == "notes v1" ]] || fail "restore --commit 1"
# Both differ from HEAD now, the drawing too: it got the current time, so it can be committed.
ok status <<'EOF'
M  notes.txt
M  plans/a.dwg
EOF
refused "there is no commit 7" restore --commit 7 --all

# A crafted database: paths out of the working tree and a copy outside .rvk are refused unread.
cp .rvk/rvk.db "$base/store.db"
ln -s "$base/elsewhere" linked
sqlite3 .rvk/rvk.db "UPDATE commit_files SET path = '../x' WHERE path = 'README';
    UPDATE commit_files SET path = 'linked/x' WHERE path = 'README.txt';
    UPDATE commit_files SET url = 'tf:../../../y#2' WHERE path = '$(native plans/a.dwg)'"
run 1 restore --all --force
expect_quiet_out
expect_err <<'EOF'
rvk: the database names ../x, which leads outside the working tree: it is neither read nor written
rvk: the database names linked/x, which leads outside the working tree: it is neither read nor written
rvk: the storage URL tf:../../../y#2 names a copy outside .rvk: it is neither read nor written
EOF
[[ ! -e ../x && -z $(ls -A "$base/elsewhere") && $(<notes.txt) == "notes v1" ]] ||
    fail "a refused restore wrote a file"
rm linked
cp "$base/store.db" .rvk/rvk.db

# verify: a damaged object and a missing drawing copy, each with the paths and commits naming it.
ok verify <<<"7 stored copies verified: all present and whole"
v1=$(printf 'notes v1\n' | sha256sum | cut -c1-64)
v2=$(printf 'notes v2\n' | sha256sum | cut -c1-64)
chmod u+w ".rvk/objects/$v1"
printf 'notes v0\n' >".rvk/objects/$v1"
drawing=$(sqlite3 .rvk/rvk.db \
    "SELECT url FROM commit_files WHERE commit_id = 1 AND path = '$(native plans/a.dwg)'")
rm ".rvk/tf/$(expr "$drawing" : 'tf:\(.*\)#').tf"
run 1 verify
expect_out <<EOF
po$v1: its content does not match its digest; named by notes.txt in commit 1
$drawing: missing; named by plans/a.dwg in commit 1
EOF
expect_err <<<"rvk: 2 of 7 stored copies are missing or damaged"
# status says so when a file it lists as modified has lost its stored copy.
rm ".rvk/objects/$v2"
run 0 status
expect_out <<'EOF'
M  notes.txt
M  plans/a.dwg
EOF
expect_err <<<"rvk: warning: the stored copy of 1 modified file is missing; run 'rvk verify'"

# The stat cache: an unchanged file is read by the status that fills the cache, not by the next.
if command -v strace >/dev/null &&
    skip_on_windows "which files status reads: Wine opens them in its server process"; then
    reads() {
        strace -f -e trace=open,openat -o "$base/trace" "$rvk" status >/dev/null 2>&1
        grep -c '/README.txt"' "$base/trace" || true
    }
    rm -f .rvk/stat-cache
    touch -d "2001-01-01" README.txt  # older than its copy: only its digest can tell
    [[ $(reads) -ge 1 ]] || fail "status without a stat cache did not read README.txt"
    [[ $(reads) == 0 ]] || fail "status read README.txt again though the stat cache vouched for it"
fi


# ==== What a drafter types, and what a colleague plants: nothing is lost or misreported =========
work=$base/work
mkdir -p "$work/sub" "$base/secret"
cd "$work"
printf 'root plan\n' >plan.dwg
printf 'sub plan\n' >sub/plan.dwg
printf 'my plan\n' >sub/myplan.dwg
printf 'a\n' >a.txt
ok init <<<"initialized empty repository at $work"
ok stage --all <<'EOF'
A+ .rvk/properties/ignore
A+ a.txt
A+ plan.dwg
A+ sub/myplan.dwg
A+ sub/plan.dwg
EOF
ok commit -m one <<<"committed 1: 5 files"

# --- paths count from the current folder -----------------------------------------------------------
printf 'root plan, uncommitted work\n' >plan.dwg
touch -d "@$(($(date +%s) + 60))" plan.dwg
printf 'sub plan, changed\n' >sub/plan.dwg
touch -d "@$(($(date +%s) + 60))" sub/plan.dwg
cd sub
ok restore --force plan.dwg <<<"restored sub/plan.dwg"
[[ $(<../plan.dwg) == "root plan, uncommitted work" ]] || fail "restore in sub/ replaced the root's plan.dwg"
[[ $(<plan.dwg) == "sub plan" ]] || fail "restore in sub/ did not restore sub/plan.dwg"
one_commit=$(printf '1\t%s\t%s\t5\tone' "$(date -u -d @1700000000 +%Y-%m-%dT%H:%M:%SZ)" "$me")
ok log ./plan.dwg <<<"$one_commit"
ok log ../plan.dwg <<<"$one_commit"
ok log "$work/sub/plan.dwg" <<<"$one_commit"
refused "'../../outside.dwg' lies outside the working tree '$work'" log ../../outside.dwg
refused "'..' is the working tree's root folder, not a file in it" restore ..
# A NAME matches a whole path from here, or a whole file name, never just an ending.
refused "'n' finds no changed, new or removed file" stage n
refused "'lan' finds no changed, new or removed file" stage lan
cd ..
ok stage plan <<<"M+ plan.dwg"
ok unstage plan.dwg plan.dwg </dev/null
ok restore --force plan.dwg <<<"restored plan.dwg"
printf 'dash\n' >-dash.txt
ok stage -- -dash.txt <<<"A+ -dash.txt"
ok unstage -- -dash.txt </dev/null
rm -- -dash.txt

# --- restore decides by content, never by times ------------------------------------------------
printf 'other content, old time\n' >"$base/other.dwg"
touch -d "2001-01-01" "$base/other.dwg"
cp -p "$base/other.dwg" plan.dwg
refused "plan.dwg differs from HEAD's copy: restoring would lose that; rvk restore --force replaces it" \
    restore plan.dwg
[[ $(<plan.dwg) == "other content, old time" ]] || fail "restore replaced a drawing it had not committed"
ok restore --force plan.dwg <<<"restored plan.dwg"
touch a.txt  # newer, same content: nothing to lose
ok restore a.txt <<<"restored a.txt"
ok status </dev/null
# A damaged copy is found by verify and never restored: an emptied drawing, a changed object.
drawing=$(sqlite3 .rvk/rvk.db "SELECT url FROM commit_files WHERE path = 'plan.dwg'")
copy=".rvk/tf/$(expr "$drawing" : 'tf:\(.*\)#').tf"
cp -p "$copy" "$base/copy"
chmod u+w "$copy"
: >"$copy"
run 1 verify
expect_out <<<"$drawing: it holds 0 bytes, not the 10 it was committed with; named by plan.dwg in commit 1"
expect_err <<<"rvk: 1 of 5 stored copies is missing or damaged"
printf 'root plan\n' >"$copy"
printf 'Root plan\n' >"$copy"
refused "the stored copy of plan.dwg ('$work/$copy') is damaged: its content does not match the digest \
recorded when it was committed; nothing was restored (see rvk verify)" restore --force plan.dwg
[[ $(<plan.dwg) == "root plan" ]] || fail "a damaged copy was restored"
cp -p "$base/copy" "$copy"
object=".rvk/objects/$(sqlite3 .rvk/rvk.db "SELECT substr(url, 3) FROM commit_files WHERE path = 'a.txt'")"
chmod u+w "$object"
printf 'tampered\n' >"$object"
rm a.txt
refused "the stored copy of a.txt ('$work/$object') is damaged: its content does not match the digest \
recorded when it was committed; nothing was restored (see rvk verify)" restore a.txt
[[ ! -e a.txt ]] || fail "a tampered object was restored"
printf 'a\n' >"$object"
ok restore a.txt <<<"restored a.txt"
ok verify <<<"5 stored copies verified: all present and whole"

# --- links: nothing is followed out of the repository ---------------------------------------------
# Wine shows a POSIX link to a folder as a reparse point, as Windows shows its own links, but a
# link to a file as the file it leads to: those rows are left to the platform's unit tests there.
file_links=1
skip_on_windows "links to files: Wine shows a POSIX link to a file as the file itself" || file_links=
printf 'secret\n' >"$base/secret/key.txt"
if [[ -n $file_links ]]; then
    ln -s "$base/secret/key.txt" key.txt
    ok status </dev/null
    refused "key.txt is a symbolic link: rvk keeps files, never links or what they lead to" stage key.txt
    refused "There are no modified or untracked files for commit." stage --all
    rm key.txt
fi
before=$(snapshot)
for entry in objects tf properties ${file_links:+rvk.db rvk.state}; do
    mv ".rvk/$entry" "$base/moved"
    ln -s "$base/moved" ".rvk/$entry"
    kind=folder
    [[ $entry == *.* ]] && kind=file
    for command in status "commit -m linked" init; do
        # shellcheck disable=SC2086
        refused "'$work/.rvk/$entry' is a symbolic link: rvk follows no link inside a repository \
folder, so it reads and writes nothing there; put the real $kind in its place" $command
    done
    rm ".rvk/$entry"
    mv "$base/moved" ".rvk/$entry"
done
# Dangling links to where a command would make the file: the database (init) and the lock (any).
for planted in ${file_links:+"rvk.db init" "rvk.lock status"}; do
    read -r entry command <<<"$planted"
    mv ".rvk/$entry" "$base/kept"
    ln -s "$base/planted" ".rvk/$entry"
    run 1 "$command"
    [[ ! -e $base/planted ]] || fail "$last made .rvk/$entry outside the repository"
    rm ".rvk/$entry"
    mv "$base/kept" ".rvk/$entry"
done
[[ $(snapshot) == "$before" ]] || fail "a linked repository folder changed the repository"
# A tracked file that became a link is neither read nor staged.
if [[ -n $file_links ]]; then
    mv a.txt "$base/a.txt"
    ln -s "$base/secret/key.txt" a.txt
    run 0 status
    expect_quiet_out
    expect_err <<<"rvk: 'a.txt' is a symbolic link now: rvk keeps files, never links or what they lead to, so it is left out"
    rm a.txt
    mv "$base/a.txt" a.txt
fi

# --- a tracked file that cannot be examined is never taken for removed -------------------------------
deep=$(printf 'd%.0s' {1..200})
if skip_on_windows "a path of 5,000 characters: Windows reaches it through the \\\\?\\ form"; then
mkdir -p "$base/deep"
(
    cd "$work"
    for _ in {1..25}; do mkdir "$deep" && cd "$deep"; done
    printf 'deep\n' >deep.txt
)
deep_path=$(for _ in {1..25}; do printf '%s/' "$deep"; done)deep.txt
sqlite3 .rvk/rvk.db "INSERT INTO commit_files VALUES (1, '$deep_path', 'po$(printf 'deep\n' | sha256sum | cut -c1-64)')"
run 0 status
expect_quiet_out
[[ $(<"$err") == "rvk: cannot examine '$(printf 'd%.0s' {1..60})...'"* || $(<"$err") == *"File name too long; it is left out, and not taken for removed" ]] ||
    fail "$last: the deep file was not reported as out of reach: $(cut -c1-200 "$err")"
run 1 stage --all
grep -q '^rvk: There are no modified or untracked files for commit.$' "$err" ||
    fail "$last: staged something for a file it could not examine"
sqlite3 .rvk/rvk.db "DELETE FROM commit_files WHERE path LIKE 'ddd%'"
rm -rf "${deep:?}"
fi

# --- a crafted database and stat cache ----------------------------------------------------------------
cp .rvk/rvk.db "$base/work.db"
ok status </dev/null
# One flipped byte in the stat cache: status stays right.
size=$(stat -c %s .rvk/stat-cache)
printf '\xff' | dd of=.rvk/stat-cache bs=1 seek=$((size / 2)) conv=notrunc status=none
ok status </dev/null
sqlite3 .rvk/rvk.db "UPDATE commit_files SET path = '../escape.txt' WHERE path = 'a.txt'"
refused "the database names ../escape.txt, which leads outside the working tree: it is neither read nor written" status
refused "the database names ../escape.txt, which leads outside the working tree: it is neither read nor written" stage --all
sqlite3 .rvk/rvk.db "UPDATE commit_files SET path = '.rvk/rvk.state' WHERE path = '../escape.txt'"
refused "the database names .rvk/rvk.state, which leads outside the working tree: it is neither read nor written" status
cp "$base/work.db" .rvk/rvk.db
printf 'b\n' >b.txt
RVK_COMMIT_TIME=1700000100 ok stage b.txt <<<"A+ b.txt"
RVK_COMMIT_TIME=1700000100 ok commit -m $'two\e]0;owned\a' <<<"committed 2: 6 files"
# Control characters of a message never reach the terminal.
ok log < <(printf '2\t%s\t%s\t6\t%s\n1\t%s\t%s\t5\tone\n' 2023-11-14T22:15:00Z "$me" 'two\033]0;owned\a' 2023-11-14T22:13:20Z "$me")
sqlite3 .rvk/rvk.db "PRAGMA ignore_check_constraints = 1; UPDATE commits SET parent = 2 WHERE id = 1"
refused "database '$work/.rvk/rvk.db' is damaged: commit 1 names 2 as its parent, which is not an older commit" log
cp .rvk/rvk.db "$base/work.db"
sqlite3 .rvk/rvk.db "PRAGMA ignore_check_constraints = 1; UPDATE commits SET parent = NULL WHERE id = 1"

# --- a lost state file: init takes HEAD back from the database -------------------------------------------
rm .rvk/rvk.state
ok init <<<"repository completed at $work: HEAD is commit 2, the newest in its database"
ok status </dev/null
printf 'c\n' >c.txt
ok stage c.txt <<<"A+ c.txt"
ok commit -m three <<<"committed 3: 7 files"
[[ $("${rvk_command[@]}" log | cut -f1 | tr '\n' ' ') == "3 2 1 " ]] || fail "the commit after init has no parent"
# Temporary data of a killed command goes with the next command of any kind.
printf 'half a copy\n' >.rvk/.incoming-abandoned
ok status </dev/null
[[ ! -e .rvk/.incoming-abandoned ]] || fail "status left a killed command's temporary copy"

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "host session: all checks passed"

#!/usr/bin/env bash
# Drives the built rvk through whole commit cycles in a fresh folder, checking the exact output,
# error text and exit code of every command, and that a failed command changes nothing.
# Usage: run_host_session.sh <path to rvk>
set -euo pipefail

rvk=$(cd "$(dirname "$1")" && pwd -P)/$(basename "$1")
base=$(mktemp -d "${TMPDIR:-/tmp}/rvk-host-XXXXXX")
trap 'chattr -i "$base/repo/.rvk/rvk.state" 2>/dev/null; rm -rf "$base"' EXIT
base=$(cd "$base" && pwd -P)
repo=$base/repo
out=$base/stdout
err=$base/stderr
export RVK_COMMIT_TIME=1700000000

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# run CODE ARG... : runs rvk with ARGs, keeps its output in $out and $err, checks the exit code.
run() {
    local want=$1 code=0
    shift
    last="rvk $*"
    "$rvk" "$@" >"$out" 2>"$err" || code=$?
    [[ $code == "$want" ]] || fail "$last: exit code $code, expected $want; stderr: $(<"$err")"
}
# The expected text comes on standard input and must equal the output byte for byte. Give it
# with a here-document or here-string, never through a pipe: a pipe runs the check in a subshell,
# where a failure is not counted.
expect_out() { diff -u - "$out" >&2 || fail "$last: stdout differs"; }
expect_err() { diff -u - "$err" >&2 || fail "$last: stderr differs"; }
expect_quiet_out() { [[ ! -s $out ]] || fail "$last: unexpected stdout: $(<"$out")"; }
expect_quiet_err() { [[ ! -s $err ]] || fail "$last: unexpected stderr: $(<"$err")"; }
# A command that succeeds and prints nothing on stderr; the expected stdout comes on stdin.
ok() {
    run 0 "$@"
    expect_out
    expect_quiet_err
}
# A command that fails with exit 1, prints nothing on stdout and MESSAGE on stderr.
refused() {
    local message=$1
    shift
    run 1 "$@"
    expect_quiet_out
    expect_err <<<"rvk: $message"
}
# Everything a failed command could have changed: the state file and the history.
snapshot() { cat .rvk/rvk.state; "$rvk" log; }

# --- bad usage: exit 2, the usage on stderr, nothing done ----------------------------------------
mkdir -p "$base/outside"
cd "$base/outside"
bad_usage=("" "frobnicate" "status now" "stage" "stage --all plan" "unstage" "commit"
           "commit -m" "commit -x text" "commit -m a b" "log a b" "show-state x" "init a b"
           "restore" "restore --all a" "restore --frob a" "verify x" "status -x")
for line in "${bad_usage[@]}"; do
    read -r -a words <<<"$line"
    run 2 ${words[@]+"${words[@]}"}
    expect_quiet_out
    usage_line=$(grep -m 1 '^usage: ' "$err" || true)
    [[ $usage_line == "usage: rvk [--lock-timeout SECONDS] <command> [arguments]" ]] ||
        fail "$last: no usage"
done
run 2 frobnicate
[[ $(head -n 1 "$err") == "rvk: 'frobnicate' is not an rvk command" ]] || fail "$last: not named"
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
refused "More that one file found with name ground." stage ground
refused "'roof' finds no changed, new or removed file" stage roof
# A name with control characters is shown escaped, never sent to the terminal as it is.
refused '"ro\tof\033" finds no changed, new or removed file' stage $'ro\tof\e'
refused "'plan(' is no valid regular expression: Mismatched '(' and ')' in regular expression" \
    stage 'plan('
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
ok log < <(printf '%s\t%s\t%s\t%s\n' 2 2023-11-14T23:13:20Z 4 "second round of plans" \
    1 2023-11-14T22:13:20Z 3 "first plans")

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
    refused "Error writing to file '$repo/.rvk/rvk.state'" commit -m "third"
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
refused "'$(printf 'x%.0s' {1..60})...' is no valid regular expression: ${space_error}" stage "$long("

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
ok log notes.txt < <(printf '%s\t%s\t%s\t%s\n' 2 2023-11-14T22:15:00Z 5 two 1 2023-11-14T22:13:20Z 5 one)
ok log README < <(printf '%s\t%s\t%s\t%s\n' 1 2023-11-14T22:13:20Z 5 one)

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
restored plans/a.dwg
restored notes.txt
EOF
[[ $(<plans/a.dwg) == "plan v1" && $(<notes.txt) == "notes v1" ]] || fail "restore --commit 1"
ok status <<<"M  notes.txt"
refused "there is no commit 7" restore --commit 7 --all

# A crafted database: paths out of the working tree and a copy outside .rvk are refused unread.
cp .rvk/rvk.db "$base/store.db"
ln -s "$base/elsewhere" linked
sqlite3 .rvk/rvk.db "UPDATE commit_files SET path = '../x' WHERE path = 'README';
    UPDATE commit_files SET path = 'linked/x' WHERE path = 'README.txt';
    UPDATE commit_files SET url = 'tf:../../../y#2' WHERE path = 'plans/a.dwg'"
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
    "SELECT url FROM commit_files WHERE commit_id = 1 AND path = 'plans/a.dwg'")
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
expect_out <<<"M  notes.txt"
expect_err <<<"rvk: warning: the stored copy of 1 modified file is missing; run 'rvk verify'"

# The stat cache: an unchanged file is read by the status that fills the cache, not by the next.
if command -v strace >/dev/null; then
    reads() {
        strace -f -e trace=open,openat -o "$base/trace" "$rvk" status >/dev/null 2>&1
        grep -c '/README.txt"' "$base/trace" || true
    }
    rm -f .rvk/stat-cache
    touch -d "2001-01-01" README.txt  # older than its copy: only its digest can tell
    [[ $(reads) -ge 1 ]] || fail "status without a stat cache did not read README.txt"
    [[ $(reads) == 0 ]] || fail "status read README.txt again though the stat cache vouched for it"
fi

if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "host session: all checks passed"

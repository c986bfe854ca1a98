#!/usr/bin/env bash
# What a pull decides, and the states a clone must never be left stuck in: a file a commit of this
# clone touched and put back, a push cut off after the server took it, a file that becomes a folder
# and back, an untracked file in the way, names this system cannot hold, and a commit the server
# refuses, taken back with uncommit. Every refused pull changes nothing and names what stopped it.
# Usage: pull_cases_test.sh <path to rvk>
set -euo pipefail
# shellcheck source=server_session.sh
source "$(dirname "$0")/server_session.sh" "$1"
sql() { psql -X -At -v ON_ERROR_STOP=1 "$pg_super" -c "$1"; }
head_of() { sed -n 's/.*"commit" *: *\([0-9]*\).*/\1/p' "$1/.rvk/rvk.state" | head -n1; }
commit_all() { rvk stage --all >/dev/null && rvk commit -m "$1" >/dev/null; }
# unchanged DIR WHAT: the clone's HEAD and status are what they were before WHAT.
snapshot() { (cd "$1" && head_of . && rvk status 2>/dev/null) >"$base/before"; }
unchanged() {
    (cd "$1" && head_of . && rvk status 2>/dev/null) >"$base/after"
    cmp -s "$base/before" "$base/after" || fail "$2 changed the clone: $(diff "$base/before" "$base/after")"
}

rvk remote create "$pg_admin" >/dev/null
mkdir "$base/s" && cd "$base/s"
rvk init >/dev/null
printf 'plan v1\n' >plan.txt
printf 'readme\n' >docs
printf 'old\n' >old.txt
head -c 50000 /dev/urandom >site.dwg
commit_all first
rvk remote set "$pg_drafter1" >/dev/null
rvk push >/dev/null
cd "$base"
rvk clone "$pg_drafter2" "$base/t" >/dev/null

# A commit of t edits plan.txt and the next puts it back byte for byte; s's edit on the server
# must not be taken for no change at all. uncommit turns t's commits back into staged changes
# (none, here: plan.txt is as it was), and the pull then brings s's edit.
cd "$base/t"
printf 'plan by t\n' >plan.txt && commit_all "t edits"
printf 'plan v1\n' >plan.txt && commit_all "t puts back"
cd "$base/s"
printf 'plan by s\n' >plan.txt && commit_all "s edits" && rvk push >/dev/null
cd "$base/t"
snapshot "$base/t"
expect 1 "changed both here and on the server:
  plan.txt" -- rvk pull
unchanged "$base/t" "a pull of a file both sides touched"
expect 0 "uncommitted 2 commits: HEAD is commit 1" -- rvk uncommit
[ "$(rvk status)" = "" ] || fail "uncommit left changes: $(rvk status)"
expect 0 "pulled 1 commit" -- rvk pull
grep -q 'plan by s' plan.txt || fail "pull after uncommit lost s's edit: $(cat plan.txt)"

# uncommit stages what the commits changed against the server's head, keeps what was staged, and
# leaves working files alone; run again, it has nothing to take back.
rvk lock site.dwg >/dev/null
head -c 1000 /dev/urandom >>site.dwg && printf 'new\n' >new.txt && commit_all "t two"
rm old.txt && rvk stage old.txt >/dev/null
cp site.dwg "$base/site.kept"
expect 0 "uncommitted 1 commit" -- rvk uncommit
[ "$(rvk status | sed 's/ since [^)]*)/)/')" = "$(printf 'A+ new.txt\nD+ old.txt\nM+ site.dwg  (locked by you)')" ] ||
    fail "uncommit staged: $(rvk status)"
cmp -s site.dwg "$base/site.kept" || fail "uncommit touched a working file"
expect 0 "nothing to uncommit" -- rvk uncommit
rvk commit -m "t again" >/dev/null
expect 0 "pushed 1 commit" -- rvk push

# A push cut off after the server took it: the clone forgets that it landed (its base is put
# back), and the server moves on. Pull finds the clone's own commit by its digest: no conflict.
printf 'more\n' >>new.txt && commit_all "t three" && rvk push >/dev/null
landed=$(sql "SELECT id FROM rvk.head")
sqlite3 .rvk/rvk.db "UPDATE remote SET value = '$((landed - 1))' WHERE key = 'base'"
cd "$base/s"
rvk pull >/dev/null && printf 'plan by s again\n' >plan.txt && commit_all "s again" && rvk push >/dev/null
cd "$base/t"
expect 0 "the server holds 1 commit of this clone already" -- rvk pull
grep -q 'again' plan.txt || fail "the pull after a cut-off push did not bring s's edit"

# A file that becomes a folder, and a folder that becomes a file: both reach a clone that changed
# nothing. An untracked file in the way stops the pull, naming it, until it is moved away.
cd "$base/s"
rvk pull >/dev/null
rm docs && mkdir docs && printf 'inside\n' >docs/readme.txt && commit_all "docs folder" && rvk push >/dev/null
cd "$base/t"
expect 0 "pulled 1 commit" -- rvk pull
[ -f docs/readme.txt ] || fail "the file docs did not become a folder"
cd "$base/s"
rm -r docs && printf 'a file again\n' >docs && commit_all "docs file" && rvk push >/dev/null
cd "$base/t"
expect 0 "pulled 1 commit" -- rvk pull
[ -f docs ] && grep -q 'a file again' docs || fail "the folder docs did not become a file"
cd "$base/s"
mkdir details && printf 'a\n' >details/a.txt && commit_all "details" && rvk push >/dev/null
cd "$base/t"
printf 'mine, untracked\n' >details
snapshot "$base/t"
expect 1 "details/a.txt: the file details is in the way" -- rvk pull
unchanged "$base/t" "a pull blocked by an untracked file"
grep -q 'mine' details || fail "a blocked pull touched the untracked file"
mv details details.mine
expect 0 "pulled 1 commit" -- rvk pull
[ -f details/a.txt ] || fail "the pull after moving the file away did not bring details/a.txt"

# Rows that no clone can write here, planted as the superuser: a name of 300 bytes, a file beside
# a folder of its name, a path longer than the system takes. Each pull changes nothing and lists
# the path; once the rows are gone, the clone pulls as before.
head_now=$(sql "SELECT id FROM rvk.head")
read -r url sha < <(sql "SELECT url, sha256 FROM rvk.changes WHERE path = 'plan.txt' ORDER BY commit_id DESC LIMIT 1" | tr '|' ' ')
plant() {  # plant PATH...: one commit adding each PATH with plan.txt's copy
    local next=$((head_now + 1)) values="" p
    for p in "$@"; do
        values+="${values:+, }($next, '$p', '$url', '$sha')"
    done
    psql -X -q -v ON_ERROR_STOP=1 "$pg_super" >/dev/null <<SQL
SET session_replication_role = replica;
INSERT INTO rvk.commits (id, parent, time, message, author, digest) VALUES ($next, $head_now, 0, 'planted', 'drafter1', 'x');
INSERT INTO rvk.changes (commit_id, path, url, sha256) VALUES $values;
UPDATE rvk.head SET id = $next;
SQL
}
unplant() {
    psql -X -q -v ON_ERROR_STOP=1 "$pg_super" >/dev/null <<SQL
SET session_replication_role = replica;
DELETE FROM rvk.changes WHERE commit_id > $head_now;
DELETE FROM rvk.commits WHERE id > $head_now;
UPDATE rvk.head SET id = $head_now;
SQL
}
long_name=$(printf 'n%.0s' $(seq 300))
deep=$(printf 'folder%04d/' $(seq 700))
for planted in "$long_name.txt|$long_name" "q q/r.txt|q" "${deep}x.txt|longer than"; do
    IFS='|' read -r paths shown <<<"$planted"
    # shellcheck disable=SC2086
    plant $paths
    snapshot "$base/t"
    expect 1 "$shown" -- rvk pull
    grep -q "pull changes nothing\|the server" "$out" || fail "a planted $shown was not refused as such: $(cat "$out")"
    unchanged "$base/t" "a pull of a planted $shown"
    [ ! -e q ] && [ ! -e folder0001 ] || fail "a refused pull of $shown wrote files"
    unplant
done
expect 0 "already up to date" -- rvk pull

# A clone made from inside a working tree: beside it ("../x") is a clone of its own, inside it
# is refused, and the working tree's own repository keeps its remote.
cd "$base/t"
expect 0 "cloned" -- rvk clone "$pg_drafter2" ../beside
[ -d "$base/beside/.rvk" ] && [ -f "$base/beside/plan.txt" ] || fail "the clone beside t is not there"
expect 1 "lies inside the working tree" -- rvk clone "$pg_drafter2" inside
[ ! -e inside ] || fail "a refused clone left its folder behind"
[ "$(rvk remote)" = "$pg_drafter2" ] || fail "a clone from inside t changed t's remote: $(rvk remote)"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "pull cases: all checks passed"

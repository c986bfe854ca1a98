#!/usr/bin/env bash
# Issued sets through rvk on a throwaway PostgreSQL cluster: two drafters label commits, a reader
# and a writer are refused what only writers or rvk_admin may do (through psql too), a set is
# restored by its label and exported with its register, which is checked against sha256sum and
# stat, and exports that would lose or mix anything are refused.
# Usage: issued_sets_test.sh <path to rvk or rvk.exe>
set -euo pipefail
# shellcheck source=server_session.sh
source "$(dirname "$0")/server_session.sh" "$1"
as() { psql -X -At "$1" -c "$2" 2>&1; }
export RVK_COMMIT_TIME=1700000000
odd='sub/odd, "name".txt'
# Windows takes no '"' in a name: a comma alone still needs the register's quotes.
[[ $1 == *.exe ]] && odd='sub/odd, name.txt'

expect 0 "created an empty" -- rvk remote create "$pg_admin"
cd "$base"
expect 0 "cloned nothing" -- rvk clone "$pg_drafter1" "$base/a"
cd "$base/a"
printf 'plan v1\n' >plan.dwg
printf 'schedule v1\n' >schedule.txt
mkdir sub && printf 'odd\n' >"$odd"
rvk stage --all >/dev/null && rvk commit -m first >/dev/null
expect 0 "pushed 1 commit" -- rvk push

# drafter2 changes the drawing (locked first) as commit 2.
cd "$base"
expect 0 "cloned 1 commit" -- rvk clone "$pg_drafter2" "$base/b"
cd "$base/b"
expect 0 "locked plan.dwg" -- rvk lock plan.dwg
printf 'plan v2\n' >plan.dwg
rvk stage plan.dwg >/dev/null && rvk commit -m "plan v2" >/dev/null
expect 0 "pushed 1 commit" -- rvk push

# drafter1 labels commit 2, never a commit of its own that the server lacks.
cd "$base/a"
expect 0 "HEAD is commit 2" -- rvk pull
printf 'schedule v3\n' >schedule.txt
rvk stage schedule.txt >/dev/null && rvk commit -m "schedule v3" >/dev/null
expect 1 "commit 3 is not on the server yet: push it first" -- rvk label "Rev B"
expect 2 "give NAME" -- rvk label
expect 1 "it is a number, which names a commit" -- rvk label 2024 2
expect 1 "it holds a control character" -- rvk label $'Rev\tB' 2
expect 1 "it holds a quotation mark" -- rvk label "Drafter's" 2
expect 0 "labelled commit 2 'Rev B'" -- rvk label "Rev B" 2
expect 0 "is on commit 2 already" -- rvk label "Rev B" 2

# The other drafter sees it, cannot take the name for another commit, nor move it.
cd "$base/b"
rvk labels >"$base/listed"
IFS=$'\t' read -r name commit author made <"$base/listed"
[ "$name $commit $author" = "Rev B 2 drafter1" ] && [ "$(wc -l <"$base/listed")" = 1 ] &&
    [[ $made == 20??-??-??T??:??:??Z ]] || fail "rvk labels gave $(cat "$base/listed")"
expect 1 "the label 'Rev B' is on commit 2 (made by 'drafter1'" -- rvk label "Rev B" 1
expect 1 "only rvk_admin moves it" -- rvk label "Rev B" 1
expect 1 "only members of rvk_admin move or remove a label" -- rvk label --move "Rev B" 1
expect 1 "only members of rvk_admin move or remove a label" -- rvk label --remove "Rev B"
expect 2 "not both" -- rvk label --move --remove "Rev B"
# Straight to the server as a writer with psql: the server refuses on its own.
as "$pg_drafter2" "SELECT rvk.move_label('Rev B', 1)" >"$out" || true
grep -qF "only members of rvk_admin move or remove a label" "$out" || fail "psql move: $(cat "$out")"
as "$pg_drafter2" "SELECT was_made FROM rvk.make_label('12', 1)" >"$out" || true
grep -qF "it is a number" "$out" || fail "psql make_label of digits: $(cat "$out")"
as "$pg_drafter2" "DELETE FROM rvk.labels" >"$out" || true
grep -qF "permission denied" "$out" || fail "psql delete: $(cat "$out")"
expect 0 "labelled commit 1 'Draft'" -- rvk label Draft 1

# A reader may list labels, never make one.
cd "$base"
expect 0 "cloned 2 commits" -- rvk clone "$pg_reader" "$base/c"
cd "$base/c"
expect 1 "permission denied" -- rvk label "Rev R" 1
expect 0 "Rev B" -- rvk labels

# The administrator moves and removes; psql as admin sees the same rows.
mkdir "$base/admin" && cd "$base/admin" && rvk init >/dev/null && rvk remote set "$pg_admin" >/dev/null
expect 0 "moved the label 'Rev B' to commit 1" -- rvk label --move "Rev B" 1
[ "$(as "$pg_admin" "SELECT commit_id || ' ' || author FROM rvk.labels WHERE name = 'Rev B'")" = "1 admin" ] ||
    fail "the move left $(as "$pg_admin" "SELECT * FROM rvk.labels")"
expect 0 "moved the label 'Rev B' to commit 2" -- rvk label --move "Rev B" 2
expect 0 "removed the label 'Draft'" -- rvk label --remove Draft
expect 1 "there is no label 'Draft'" -- rvk label --remove Draft
[ "$(rvk labels | cut -f1,2 | tr '\t\n' ' ')" = "Rev B 2 " ] || fail "labels after the admin: $(rvk labels)"

# Restore by label puts commit 2's schedule back.
cd "$base/a"
expect 0 "restored schedule.txt" -- rvk restore --label "Rev B" schedule.txt
cmp -s schedule.txt "$base/b/schedule.txt" || fail "restore --label did not bring commit 2's schedule.txt"
expect 1 "the server has no label 'Rev Z'" -- rvk restore --label "Rev Z" schedule.txt
expect 2 "not both" -- rvk restore --label "Rev B" --commit 1 schedule.txt

# Export by label: every file as commit 2 has it (b's working tree), and the register.
printf 'unsaved\n' >>plan.dwg
expect 0 "exported commit 2 (Rev B)" -- rvk export "Rev B" "$base/issued"
(cd "$base/b" && find . -path ./.rvk -prune -o -type f -print | sort) >"$base/want"
(cd "$base/issued" && find . -type f ! -name register.csv -print | sort) >"$base/got"
diff -u "$base/want" "$base/got" >&2 || fail "the export holds other files than commit 2"
while read -r f; do
    cmp -s "$base/b/$f" "$base/issued/$f" || fail "exported $f differs from commit 2's"
done <"$base/got"
# The register as it must be, made from the exported files by sha256sum and stat.
csv_field() { if [[ $1 == *[,\"]* ]]; then printf '"%s"' "${1//\"/\"\"}"; else printf '%s' "$1"; fi; }
{
    echo "path,size,sha256,commit,author"
    for f in plan.dwg schedule.txt "$odd"; do
        printf '%s\n' "$f"
    done | LC_ALL=C sort | while IFS= read -r f; do
        case $f in plan.dwg) by="2,drafter2" ;; *) by="1,drafter1" ;; esac
        printf '%s,%s,%s,%s\n' "$(csv_field "$f")" "$(stat -c %s "$base/issued/$f")" \
            "$(sha256sum <"$base/issued/$f" | cut -d' ' -f1)" "$by"
    done
} >"$base/register"
diff -u "$base/register" "$base/issued/register.csv" >&2 || fail "register.csv differs"
[ "$(stat -c %Y "$base/issued/plan.dwg")" = "$RVK_COMMIT_TIME" ] || fail "an exported file's time"

# A local commit exports by number; its schedule.txt was last changed by commit 3.
expect 0 "exported commit 3 to" -- rvk export 3 "$base/issued3"
grep -q '^schedule.txt,12,[0-9a-f]*,3,' "$base/issued3/register.csv" || fail "$(cat "$base/issued3/register.csv")"

# Exports refused, leaving no folder behind.
expect 1 "exists already" -- rvk export "Rev B" "$base/issued"
expect 1 "lies inside the working tree" -- rvk export "Rev B" sub/issued
expect 1 "lies inside the working tree" -- rvk export "Rev B" "$base/b/sub/../x"
if [[ $program != *.exe ]]; then  # a Linux link, which Wine's programs do not see as one
    ln -s "$base/a/sub" "$base/link"
    expect 1 "lies inside the working tree" -- rvk export "Rev B" "$base/link/x"
fi
expect 1 "the folder that would hold it is not there" -- rvk export "Rev B" "$base/none/x"
expect 1 "there is no commit 9 in this clone" -- rvk export 9 "$base/x"
expect 1 "'0' is no commit id" -- rvk export 0 "$base/x"
# The stored copy of commit 2's schedule.txt, named by its digest, damaged.
copy=$(find .rvk/objects -type f -name "*$(sha256sum <"$base/b/schedule.txt" | cut -c3-64)*")
[ -f "$copy" ] || fail "no stored copy of schedule v1 found"
chmod u+w "$copy" && printf 'SCHEDULE V0\n' >"$copy"
expect 1 "schedule.txt" -- rvk export "Rev B" "$base/damaged"
expect 1 "is damaged" -- rvk export "Rev B" "$base/damaged"
[ ! -e "$base/damaged" ] && [ -z "$(ls -A "$base" | grep rvk-export)" ] || fail "a refused export left a folder"

# Without a remote, a label cannot be looked up; a commit id needs none.
mkdir "$base/local" && cd "$base/local" && rvk init >/dev/null
printf 'x\n' >x.txt && rvk stage x.txt >/dev/null && rvk commit -m x >/dev/null
expect 1 "this repository has no remote" -- rvk export "Rev B" "$base/l1"
expect 0 "exported commit 1" -- rvk export 1 "$base/l1"
cmp -s x.txt "$base/l1/x.txt" || fail "a local export differs"

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "issued sets: all checks passed"

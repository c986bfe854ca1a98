#!/usr/bin/env bash
# The server enforces the shared history's rules itself: a writer who skips rvk and talks to the
# server with psql and its own login can neither damage the history nor make others wait without
# end. Also: rvk gives up on a server that never answers, keeps no secret and sends no service's
# password elsewhere, shows the server's notices escaped, and upgrades a repository of format 1.
# Usage: server_rules_test.sh <path to rvk>
set -euo pipefail
# shellcheck source=server_session.sh
source "$(dirname "$0")/server_session.sh" "$1"

# as ROLE SQL: runs SQL through psql as the connection string ROLE, printing rows unaligned.
as() { psql -X -q -At -v ON_ERROR_STOP=1 "$1" -c "$2"; }
super() { as "$pg_super" "$1"; }
server_head() { super 'SELECT coalesce(id, 0) FROM rvk.head'; }
digest() { printf '%s' "$1" | sha256sum | cut -d' ' -f1; }
commit_json() {  # commit_json ID MESSAGE CHANGES: one commit as rvk.push() takes it
    printf '[{"id": %s, "time": 0, "message": "%s", "digest": "%s", "changes": [%s]}]' \
        "$1" "$2" "$(digest "$1$2")" "$3"
}
pushed_by() {  # pushed_by ROLE BASE JSON: what rvk.push() answers
    as "$1" "SELECT outcome || ' ' || head_id || coalesce(' ' || lock_path, '') || coalesce(' ' || lock_holder, '')
             FROM rvk.push($2, \$json\$$3\$json\$, false)"
}

expect 1 "needs a login that is a member of rvk_admin" -- rvk remote create "$pg_drafter1"
[ "$(wc -l <"$out")" = 1 ] || fail "a writer's remote create said more than one line: $(cat "$out")"
expect 0 "created an empty" -- rvk remote create "$pg_admin"
[ "$(as "$pg_drafter1" 'SHOW idle_in_transaction_session_timeout')" = 1min ] ||
    fail "a writer's sessions have no limit on idling in a transaction"

mkdir "$base/a" && cd "$base/a"
rvk init >/dev/null
printf 'plan\n' >plan.txt
head -c 300000 /dev/urandom >site.dwg
mkdir sub && printf 'note\n' >sub/note.txt
rvk stage --all >/dev/null && rvk commit -m first >/dev/null
rvk remote set "$pg_drafter1" >/dev/null
expect 0 "pushed 1 commit" -- rvk push
[ "$(super 'SELECT author FROM rvk.commits WHERE id = 1')" = drafter1 ] || fail "commit 1 has another author"
url=$(super "SELECT url FROM rvk.changes WHERE path = 'site.dwg'")
sha=$(super "SELECT sha256 FROM rvk.changes WHERE path = 'site.dwg'")
chunks_before=$(super "SELECT count(*) || ' ' || sum(length(data)) FROM rvk.copy_chunks")

# No table takes a writer's INSERT, UPDATE, DELETE or TRUNCATE, nor a lock that would make others
# wait, nor FOR UPDATE.
while IFS= read -r attack; do
    expect 1 "permission denied" -- as "$pg_drafter2" "$attack"
done <<SQL
INSERT INTO rvk.copy_chunks VALUES ('$url', '$sha', 1, 'x', encode(sha256('x'), 'hex'))
UPDATE rvk.head SET id = NULL
INSERT INTO rvk.commits (id, parent, time, message, digest) VALUES (2, 1, 0, 'x', 'x')
INSERT INTO rvk.commits (id, parent, time, message, author, digest) VALUES (2, 1, 0, 'x', 'drafter1', 'x')
UPDATE rvk.commits SET author = 'drafter1'
DELETE FROM rvk.locks
TRUNCATE rvk.locks
INSERT INTO rvk.locks (path, holder) VALUES ('plan.txt', 'drafter1')
INSERT INTO rvk.copies VALUES ('x', '$sha', 1)
BEGIN; LOCK TABLE rvk.head IN EXCLUSIVE MODE; COMMIT
BEGIN; LOCK TABLE rvk.head IN ROW SHARE MODE; COMMIT
BEGIN; LOCK TABLE rvk.locks IN ROW EXCLUSIVE MODE; COMMIT
BEGIN; LOCK TABLE rvk.copy_chunks IN ACCESS EXCLUSIVE MODE; COMMIT
SELECT id FROM rvk.head FOR UPDATE
SELECT path FROM rvk.locks FOR SHARE
SQL
# Readers may not call the functions that change anything.
expect 1 "permission denied" -- as "$pg_reader" "SELECT rvk.take_lock('plan.txt')"
expect 1 "permission denied" -- as "$pg_reader" "SELECT rvk.put_chunk('x', '$sha', 0, 'x')"

# A whole copy never changes: chunks offered for it are turned away.
expect 0 "f" -- as "$pg_drafter2" "SELECT rvk.put_chunk('$url', '$sha', 5, 'extra')"
expect 0 "f" -- as "$pg_drafter2" "SELECT rvk.put_chunk('$url', '$sha', 0, 'replaced')"
[ "$(super "SELECT count(*) || ' ' || sum(length(data)) FROM rvk.copy_chunks")" = "$chunks_before" ] ||
    fail "a whole copy's chunks changed"
# A copy is recorded only when its chunks hold its size and digest; chunks of at most 1 MiB.
while IFS='|' read -r text attack; do
    expect 1 "$text" -- as "$pg_drafter2" "$attack"
done <<SQL
do not match its digest|SELECT rvk.put_chunk('forged', '$sha', 0, 'junk'); SELECT rvk.finish_copy('forged', '$sha', 4)
lacks chunks|SELECT rvk.put_chunk('short', '$sha', 0, 'junk'); SELECT rvk.finish_copy('short', '$sha', 5)
lacks chunks|SELECT rvk.put_chunk('gap', '$sha', 1, 'junk'); SELECT rvk.finish_copy('gap', '$sha', 4)
at most 1 MiB|SELECT rvk.put_chunk('big', '$sha', 0, decode(repeat('00', 1048577), 'hex'))
64 hexadecimal digits|SELECT rvk.put_chunk('bad', 'not a digest', 0, 'x')
larger than 1023 MiB|SELECT rvk.finish_copy('huge', '$sha', 2000000000)
SQL
[ -z "$(super "SELECT url FROM rvk.copies WHERE url IN ('forged', 'short', 'gap', 'big', 'bad')")" ] ||
    fail "a copy that failed its checks was recorded"
# An upload cut off is sent again: a later attempt replaces a damaged chunk and lands.
good=$(printf 'good' | sha256sum | cut -d' ' -f1)
expect 0 "" -- as "$pg_drafter2" "SELECT rvk.put_chunk('redo', '$good', 0, 'bad!'); SELECT rvk.put_chunk('redo', '$good', 1, 'more')"
expect 1 "do not match its digest" -- as "$pg_drafter2" "SELECT rvk.finish_copy('redo', '$good', 4)"
expect 0 "" -- as "$pg_drafter2" "SELECT rvk.put_chunk('redo', '$good', 0, 'good'); SELECT rvk.finish_copy('redo', '$good', 4)"
[ "$(super "SELECT count(*) FROM rvk.copy_chunks WHERE url = 'redo'")" = 1 ] ||
    fail "a finished copy kept the chunks of an earlier attempt"

# Pushes through the function: each rule refused, and the history as it was.
change_plan='{"path": "plan.txt", "url": "redo", "sha256": "'$good'"}'
while IFS='|' read -r text json; do
    expect 1 "$text" -- pushed_by "$pg_drafter2" 1 "$json"
done <<JSON
would not follow|$(commit_json 3 skip "$change_plan")
longer than 64 KiB|$(commit_json 2 "$(head -c 65537 /dev/zero | tr '\0' x)" "$change_plan")
cannot change the path|$(commit_json 2 up '{"path": "../escape", "url": "redo", "sha256": "'$good'"}')
cannot change the path|$(commit_json 2 abs '{"path": "/etc/x", "url": "redo", "sha256": "'$good'"}')
leads into .rvk|$(commit_json 2 rvk '{"path": ".rvk/rvk.state", "url": "redo", "sha256": "'$good'"}')
control character|$(commit_json 2 ctl '{"path": "a\u001b[2Jb", "url": "redo", "sha256": "'$good'"}')
longer than 255 bytes|$(commit_json 2 long '{"path": "'"$(head -c 256 /dev/zero | tr '\0' n)"'", "url": "redo", "sha256": "'$good'"}')
longer than 1024 bytes|$(commit_json 2 long '{"path": "'"$(for _ in $(seq 9); do printf '%0200d/' 0; done)"'x", "url": "redo", "sha256": "'$good'"}')
not whole on the server|$(commit_json 2 partial '{"path": "plan.txt", "url": "short", "sha256": "'$sha'"}')
without its digest|$(commit_json 2 half '{"path": "plan.txt", "url": "redo"}')
JSON
expect 0 "behind 1" -- pushed_by "$pg_drafter2" 0 "$(commit_json 1 stale "$change_plan")"
[ "$(server_head)" = 1 ] || fail "a refused push moved the head to $(server_head)"
# A lock of another's refuses a push made through the function too.
expect 0 "locked plan.txt" -- rvk lock plan.txt
expect 0 "locked 1 plan.txt drafter1" -- pushed_by "$pg_drafter2" 1 "$(commit_json 2 locked "$change_plan")"
[ "$(server_head)" = 1 ] || fail "a push of a locked file moved the head"
expect 0 "unlocked" -- rvk unlock plan.txt
# Lockable rules are rvk_admin's to set, each compiled first; a change to a lockable file the
# server has needs the pusher's own lock, through the function too.
expect 1 "only members of rvk_admin" -- as "$pg_drafter2" "SELECT rvk.set_lockable(ARRAY['*.txt'])"
for rule in '[a-' 'x\' '/abs' '[z-a].txt' ''; do
    expect 1 "lockable rule" -- as "$pg_admin" "SELECT rvk.set_lockable(ARRAY['*.pdf', \$r\$$rule\$r\$])"
done
[ "$(super 'SELECT count(*) FROM rvk.lockable_rules')" = 0 ] || fail "a rule that does not compile was kept"
expect 0 "1" -- as "$pg_admin" "SELECT rvk.set_lockable(ARRAY['*.txt'])"
expect 0 "unlocked 1 plan.txt" -- pushed_by "$pg_drafter2" 1 "$(commit_json 2 unlocked "$change_plan")"
[ "$(server_head)" = 1 ] || fail "a push of a lockable file without its lock moved the head"
expect 0 "0" -- as "$pg_admin" "SELECT rvk.set_lockable('{}')"
# The author is the login's, whatever the commit claims.
forged='[{"id": 2, "time": 0, "message": "forged", "author": "drafter1", "digest": "'$(digest 2forged)'", "changes": []}]'
expect 0 "pushed 2" -- pushed_by "$pg_drafter2" 1 "$forged"
[ "$(super 'SELECT author FROM rvk.commits WHERE id = 2')" = drafter2 ] || fail "a forged author was kept"
# The history is still whole and usable: a push after a pull, and a clone that checks every copy.
cd "$base/a"
expect 0 "pulled 1 commit" -- rvk pull
printf 'more\n' >>plan.txt && rvk stage plan.txt >/dev/null && rvk commit -m second >/dev/null
expect 0 "pushed 1 commit" -- rvk push
cd "$base"
expect 0 "cloned 3 commits" -- rvk clone "$pg_drafter2" "$base/b"
cmp -s "$base/a/site.dwg" "$base/b/site.dwg" || fail "the clone's drawing differs"

# rvk lock takes files: a folder is refused, and nothing is locked.
cd "$base/a"
expect 1 "rvk lock takes files, not folders" -- rvk lock sub
[ -z "$(super 'SELECT path FROM rvk.locks')" ] || fail "a refused lock left $(super 'SELECT path FROM rvk.locks')"

# A writer that holds the head in an open transaction: a push and a lock give up after the
# server's lock limit, say why, and change nothing.
cd "$base/b"
printf 'b\n' >>plan.txt && rvk stage plan.txt >/dev/null && rvk commit -m held >/dev/null
head_before=$(server_head)
{ echo "BEGIN; SELECT count(*) FROM rvk.push(0, '[]', false);"; sleep 40; } |
    PGAPPNAME=holder psql -X -q "$pg_drafter1" >/dev/null 2>&1 &
holder=$!
for _ in $(seq 100); do
    [ -n "$(super "SELECT 1 FROM pg_stat_activity WHERE application_name = 'holder' AND state = 'idle in transaction'")" ] && break
    sleep 0.1
done
before=$failures
(expect 1 "another session holds the head of the shared history; gave up after 10 s" -- \
     timeout 60 "$program" push
 [ "$failures" = "$before" ]) >"$base/push.out" 2>&1 &
pushing=$!
(cd "$base/a" && expect 1 "another session holds the head of the shared history" -- \
     timeout 60 "$program" lock site.dwg
 [ "$failures" = "$before" ]) >"$base/lock.out" 2>&1 || fail "a lock beside a held head: $(cat "$base/lock.out")"
wait "$pushing" || fail "a push beside a held head: $(cat "$base/push.out")"
[ "$(server_head)" = "$head_before" ] || fail "a push that gave up moved the head"
[ -z "$(super 'SELECT path FROM rvk.locks')" ] || fail "a lock that gave up was taken"
super "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'holder'" >/dev/null
kill "$holder" 2>/dev/null || true
wait "$holder" 2>/dev/null || true
expect 0 "pushed 1 commit" -- rvk push

# The server's notices reach the terminal escaped, never as the server wrote them.
super "CREATE FUNCTION rvk.noisy() RETURNS trigger LANGUAGE plpgsql AS \$\$
       BEGIN RAISE NOTICE E'\\033[2J\\nrvk: pushed 99 commits'; RETURN NEW; END \$\$;
       CREATE TRIGGER noisy AFTER INSERT ON rvk.locks FOR EACH ROW EXECUTE FUNCTION rvk.noisy()"
cd "$base/a"
expect 0 'NOTICE: \033[2J\nrvk: pushed 99 commits' -- rvk lock plan.txt
! grep -q $'\033' "$out" || fail "a notice sent the terminal an escape sequence"
! grep -q '^rvk: pushed' "$out" || fail "a notice printed a line of rvk's own"
super "DROP TRIGGER noisy ON rvk.locks; DROP FUNCTION rvk.noisy()"
expect 0 "unlocked" -- rvk unlock plan.txt

# Connection strings: no secret is kept, a service keeps its own server, and libpq's messages of
# several lines read as lines.
while IFS='|' read -r text conninfo; do
    expect 1 "$text" -- rvk remote set "$conninfo"
done <<'CONNINFO'
holds a password|host=db user=x password=secret
holds a sslpassword|host=db sslcert=c sslkey=k sslpassword=secret
(it has host)|service=office host=attacker.example
(it has port)|service=office port=6543
(it has hostaddr)|service=office hostaddr=192.0.2.1
give no host, hostaddr or port|service=office host=attacker.example port=5432
CONNINFO
[ "$(rvk remote)" = "$pg_drafter1" ] || fail "a refused remote replaced the one set"
sqlite3 .rvk/rvk.db "UPDATE remote SET value = 'host=db sslpassword=secret' WHERE key = 'conninfo'"
expect 1 "not shown" -- rvk remote
! grep -q secret "$out" || fail "rvk remote showed a secret"
expect 1 "sslpassword" -- rvk locks
rvk remote set "host=127.0.0.1 port=1 user=drafter1 dbname=rvk" >/dev/null
expect 1 "cannot connect" -- rvk locks
! grep -qF '\n' "$out" || fail "a message of libpq shows its line ends escaped: $(cat "$out")"

# A server that takes the connection and never answers: status gives up on its note after two
# seconds, push, pull and lock fail with what they waited for, well before any old limit.
python3 -c '
import socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0))
s.listen(16)
print(s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept()[0])
' >"$base/silent.port" &
silent=$!
for _ in $(seq 50); do [ -s "$base/silent.port" ] && break; sleep 0.1; done
mkdir "$base/s" && (cd "$base/s" && rvk init >/dev/null)
silent_remote="host=127.0.0.1 port=$(cat "$base/silent.port") user=drafter1 dbname=rvk"
for folder in a b s; do (cd "$base/$folder" && rvk remote set "$silent_remote" >/dev/null); done
started=$(date +%s)
expect 0 "locks not shown: server: cannot connect: the server did not answer within 2 s" -- \
    timeout 30 "$program" status
# Side by side, each in a repository of its own.
waiting=()
before=$failures
for folder_command in "a push" "b pull" "s lock plan.txt"; do
    folder=${folder_command%% *}
    # shellcheck disable=SC2086
    (cd "$base/$folder" &&
     expect 1 "server: cannot connect: the server did not answer within 10 s" -- \
         timeout 30 "$program" ${folder_command#* }
     [ "$failures" = "$before" ]) >"$base/silent.$folder" 2>&1 &
    waiting+=($!)
done
for i in 0 1 2; do
    wait "${waiting[$i]}" || fail "against a silent server: $(cat "$base"/silent.[abs])"
done
echo "a silent server: status, push, pull and lock gave up in $(($(date +%s) - started)) s"
kill "$silent" 2>/dev/null || true
wait "$silent" 2>/dev/null || true

# A repository of format 1, whose tables writers wrote themselves: refused until an
# administrator upgrades it, then as any other, its history kept.
super "CREATE DATABASE old"
super "GRANT CREATE ON DATABASE old TO rvk_admin"
old_admin=${pg_admin/dbname=rvk/dbname=old}
old_drafter=${pg_drafter1/dbname=rvk/dbname=old}
psql -X -q -v ON_ERROR_STOP=1 "$old_admin" <<'SQL'
BEGIN;
CREATE SCHEMA rvk AUTHORIZATION rvk_admin;
SET LOCAL ROLE rvk_admin;
CREATE TABLE rvk.version (version integer NOT NULL);
INSERT INTO rvk.version VALUES (1);
CREATE TABLE rvk.head (one boolean PRIMARY KEY DEFAULT true CHECK (one), id bigint);
INSERT INTO rvk.head (id) VALUES (NULL);
CREATE TABLE rvk.copies (url text NOT NULL, sha256 text NOT NULL CHECK (sha256 ~ '^[0-9a-f]{64}$'),
                         size bigint NOT NULL CHECK (size >= 0), PRIMARY KEY (url, sha256));
CREATE TABLE rvk.copy_chunks (url text NOT NULL, sha256 text NOT NULL, seq integer NOT NULL CHECK (seq >= 0),
                              data bytea NOT NULL,
                              chunk_sha256 text NOT NULL CHECK (encode(sha256(data), 'hex') = chunk_sha256),
                              PRIMARY KEY (url, sha256, seq));
CREATE TABLE rvk.commits (id bigint PRIMARY KEY CHECK (id > 0), parent bigint REFERENCES rvk.commits (id),
                          time bigint NOT NULL, message text NOT NULL,
                          author text NOT NULL DEFAULT current_user, digest text NOT NULL,
                          CHECK ((id = 1 AND parent IS NULL) OR parent = id - 1));
CREATE TABLE rvk.changes (commit_id bigint NOT NULL REFERENCES rvk.commits (id), path text NOT NULL,
                          url text, sha256 text, PRIMARY KEY (commit_id, path),
                          FOREIGN KEY (url, sha256) REFERENCES rvk.copies (url, sha256),
                          CHECK ((url IS NULL) = (sha256 IS NULL)));
CREATE TABLE rvk.locks (path text PRIMARY KEY, holder text NOT NULL DEFAULT current_user,
                        taken timestamptz NOT NULL DEFAULT now());
ALTER TABLE rvk.locks ENABLE ROW LEVEL SECURITY;
CREATE POLICY locks_seen ON rvk.locks FOR SELECT USING (true);
CREATE POLICY locks_taken ON rvk.locks FOR INSERT WITH CHECK (holder = current_user);
CREATE POLICY locks_released ON rvk.locks FOR DELETE USING (holder = current_user);
RESET ROLE;
GRANT USAGE ON SCHEMA rvk TO rvk_readers, rvk_writers;
GRANT SELECT ON ALL TABLES IN SCHEMA rvk TO rvk_readers, rvk_writers;
GRANT INSERT ON rvk.copies, rvk.copy_chunks, rvk.commits, rvk.changes TO rvk_writers;
GRANT UPDATE ON rvk.head TO rvk_writers;
GRANT INSERT, DELETE ON rvk.locks TO rvk_writers;
COMMIT;
SQL
# A commit of format 1, written by a writer directly, as rvk wrote it then.
note_sha=$(digest 'old note')
psql -X -q -v ON_ERROR_STOP=1 "$old_drafter" <<SQL
BEGIN;
INSERT INTO rvk.copy_chunks VALUES ('po$note_sha', '$note_sha', 0, 'old note', '$note_sha');
INSERT INTO rvk.copies VALUES ('po$note_sha', '$note_sha', 8);
INSERT INTO rvk.commits (id, parent, time, message, digest) VALUES (1, NULL, 0, 'old', 'x');
INSERT INTO rvk.changes VALUES (1, 'note.txt', 'po$note_sha', '$note_sha');
UPDATE rvk.head SET id = 1;
INSERT INTO rvk.locks (path) VALUES ('note.txt');
COMMIT;
SQL
cd "$base"
expect 1 "run rvk remote create with a login of rvk_admin to upgrade it" -- rvk clone "$old_drafter" "$base/o"
expect 1 "needs a login that is a member of rvk_admin" -- rvk remote create "$old_drafter"
expect 0 "upgraded" -- rvk remote create "$old_admin"
expect 0 "already" -- rvk remote create "$old_admin"
rm -rf "$base/o"
expect 0 "cloned 1 commit" -- rvk clone "$old_drafter" "$base/o"
[ "$(cat "$base/o/note.txt")" = "old note" ] || fail "the upgraded history lost its file"
expect 1 "permission denied" -- as "$old_drafter" "INSERT INTO rvk.commits (id, parent, time, message, digest) VALUES (2, 1, 0, 'x', 'x')"
expect 1 "permission denied" -- as "$old_admin" "DELETE FROM rvk.locks"
cd "$base/o"
expect 0 "note.txt	drafter1" -- rvk locks
printf 'new\n' >new.txt && rvk stage new.txt >/dev/null && rvk commit -m new >/dev/null
expect 0 "pushed 1 commit" -- rvk push
expect 0 "unlocked note.txt" -- rvk unlock note.txt

if [ "$failures" -gt 0 ]; then
    echo "$failures failures" >&2
    exit 1
fi
echo "server rules: all checks passed"

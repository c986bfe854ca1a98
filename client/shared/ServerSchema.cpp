// The shared repository's tables, in the schema "rvk":
//
//   version     (version)                         the format; 3
//   head        (one, id)                         one row: the newest commit, NULL before the first
//   commits     (id, parent, time, message, author, digest)
//                                                 the linear history: ids count from 1 and every
//                                                 parent is the id before; `digest` identifies the
//                                                 commit's content, so a clone recognises its own;
//                                                 `author` is the login that pushed it
//   changes     (commit_id, path, url, sha256)    what each commit added, changed (a URL) or
//                                                 removed (NULL) against its parent
//   copies      (url, sha256, size)               the stored copies, one row once a copy is whole
//   copy_chunks (url, sha256, seq, data, chunk_sha256)
//                                                 their bytes, in chunks of at most 1 MiB
//   locks       (path, holder, taken)             drawing locks, held by logins
//   lockable_rules (seq, rule, regex, has_slash)  the file-name patterns of files that, besides
//                                                 drawings, need a lock (rule_regex() of each)
//   labels      (name, commit_id, author, made)   names of issued commits
//
// Paths are '/'-separated. A change names a copy by URL and digest, so copies of the same URL that
// two clones stored independently never mix.
//
// Who may do what is the server's business, not the client's: a writer with psql and its own
// login can do all that its privileges allow. So the objects belong to rvk_owner, a role nobody
// logs in as, and the logins (members of rvk_readers, rvk_writers, rvk_admin) may only read the
// tables: without INSERT, UPDATE, DELETE or TRUNCATE they can neither change a row nor lock a
// table in any mode but ACCESS SHARE nor take rows FOR UPDATE. Every change goes through a
// function of rvk_owner's that runs with its privileges (SECURITY DEFINER) and checks what it is
// given, with a fixed search_path (pg_temp last, so that no temporary table of the caller's
// stands in for one of rvk's):
//
//   put_chunk(url, sha256, seq, data)   stores a chunk of an unfinished copy (writers, admin)
//   finish_copy(url, sha256, size)      checks the chunks and records the copy as whole
//   push(base, commits, keep_locks)     adds commits and moves the head, or changes nothing
//   take_lock(path), release_lock(path, force)
//                                       locks held by the session's login
//   make_label(name, commit), move_label(name, commit)
//                                       labels: writers make them, rvk_admin moves them
//   set_lockable(rules)                 the lockable rules (rvk_admin)
//
// The functions that wait for a lock carry their own lock_timeout, which no caller can lift, and
// say what they waited for when they give up. `rvk remote create` makes all this and brings a
// repository of an older format (format 1's tables rvk_admin owned and writers wrote directly)
// up to it.
#include <client/shared/ServerConnection.h>

#include <client/Text.h>

namespace client {

namespace {

constexpr int kServerFormat = 3;

constexpr const char* kRoles = R"sql(
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rvk_readers') THEN
        CREATE ROLE rvk_readers NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rvk_writers') THEN
        CREATE ROLE rvk_writers NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rvk_admin') THEN
        CREATE ROLE rvk_admin NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'rvk_owner') THEN
        CREATE ROLE rvk_owner NOLOGIN;
    END IF;
END
$$;
)sql";

// Each step brings the repository from the format before to its own; create() runs those that a
// repository lacks, in order, in one transaction. The creator is a member of rvk_owner for that
// transaction only.
constexpr const char* kFormat1 = R"sql(
CREATE SCHEMA rvk AUTHORIZATION rvk_owner;
SET LOCAL ROLE rvk_owner;
CREATE TABLE rvk.version (version integer NOT NULL);
INSERT INTO rvk.version VALUES (1);
CREATE TABLE rvk.head (
    one boolean PRIMARY KEY DEFAULT true CHECK (one),
    id  bigint
);
INSERT INTO rvk.head (id) VALUES (NULL);
CREATE TABLE rvk.copies (
    url    text   NOT NULL,
    sha256 text   NOT NULL CHECK (sha256 ~ '^[0-9a-f]{64}$'),
    size   bigint NOT NULL CHECK (size >= 0),
    PRIMARY KEY (url, sha256)
);
CREATE TABLE rvk.copy_chunks (
    url          text    NOT NULL,
    sha256       text    NOT NULL,
    seq          integer NOT NULL CHECK (seq >= 0),
    data         bytea   NOT NULL,
    chunk_sha256 text    NOT NULL CHECK (encode(sha256(data), 'hex') = chunk_sha256),
    PRIMARY KEY (url, sha256, seq)
);
-- Drawings and most documents are compressed already: the server stores chunks as they come
-- instead of trying to compress each one in vain.
ALTER TABLE rvk.copy_chunks ALTER COLUMN data SET STORAGE EXTERNAL;
CREATE TABLE rvk.commits (
    id      bigint PRIMARY KEY CHECK (id > 0),
    parent  bigint REFERENCES rvk.commits (id),
    time    bigint NOT NULL,
    message text   NOT NULL,
    author  text   NOT NULL DEFAULT current_user,
    digest  text   NOT NULL,
    CHECK ((id = 1 AND parent IS NULL) OR parent = id - 1)
);
CREATE TABLE rvk.changes (
    commit_id bigint NOT NULL REFERENCES rvk.commits (id),
    path      text   NOT NULL,
    url       text,
    sha256    text,
    PRIMARY KEY (commit_id, path),
    FOREIGN KEY (url, sha256) REFERENCES rvk.copies (url, sha256),
    CHECK ((url IS NULL) = (sha256 IS NULL))
);
CREATE TABLE rvk.locks (
    path   text        PRIMARY KEY,
    holder text        NOT NULL DEFAULT current_user,
    taken  timestamptz NOT NULL DEFAULT now()
);
RESET ROLE;
)sql";

// Format 2: the tables change hands from rvk_admin (format 1's owner) to rvk_owner, the policies
// that let writers write go, and every change passes through the functions. The constraints added
// here hold for new rows (NOT VALID): an upgrade never fails over a row written before.
constexpr const char* kFormat2 = R"sql(
ALTER SCHEMA rvk OWNER TO rvk_owner;
ALTER TABLE rvk.version OWNER TO rvk_owner;
ALTER TABLE rvk.head OWNER TO rvk_owner;
ALTER TABLE rvk.copies OWNER TO rvk_owner;
ALTER TABLE rvk.copy_chunks OWNER TO rvk_owner;
ALTER TABLE rvk.commits OWNER TO rvk_owner;
ALTER TABLE rvk.changes OWNER TO rvk_owner;
ALTER TABLE rvk.locks OWNER TO rvk_owner;
SET LOCAL ROLE rvk_owner;
DROP POLICY IF EXISTS locks_seen ON rvk.locks;
DROP POLICY IF EXISTS locks_taken ON rvk.locks;
DROP POLICY IF EXISTS locks_released ON rvk.locks;
ALTER TABLE rvk.locks DISABLE ROW LEVEL SECURITY;
ALTER TABLE rvk.commits ALTER COLUMN author SET DEFAULT session_user;
ALTER TABLE rvk.locks ALTER COLUMN holder SET DEFAULT session_user;
ALTER TABLE rvk.commits ADD CONSTRAINT commits_message_size
    CHECK (octet_length(message) <= 65536) NOT VALID;
ALTER TABLE rvk.copy_chunks ADD CONSTRAINT copy_chunks_size
    CHECK (octet_length(data) <= 1048576) NOT VALID;
-- put_chunk(), the table's one writer now, records each chunk's digest itself: the check that
-- hashed every chunk again on its way in would double the server's work on a push.
ALTER TABLE rvk.copy_chunks DROP CONSTRAINT IF EXISTS copy_chunks_check;
-- The head names a commit there is; checked at the end of the transaction that adds it.
ALTER TABLE rvk.head ADD CONSTRAINT head_commit FOREIGN KEY (id) REFERENCES rvk.commits (id)
    DEFERRABLE INITIALLY DEFERRED NOT VALID;

-- History only grows: once there is a commit, the head never goes back to none or to an older one.
CREATE FUNCTION rvk.head_only_grows() RETURNS trigger
LANGUAGE plpgsql SET search_path = pg_catalog, rvk, pg_temp AS $f$
BEGIN
    IF OLD.id IS NOT NULL AND (NEW.id IS NULL OR NEW.id < OLD.id) THEN
        RAISE EXCEPTION 'the head of the shared history only moves forward (from % to %)',
            OLD.id, coalesce(NEW.id::text, 'none') USING ERRCODE = 'check_violation';
    END IF;
    RETURN NEW;
END
$f$;
CREATE TRIGGER head_only_grows BEFORE UPDATE ON rvk.head
    FOR EACH ROW EXECUTE FUNCTION rvk.head_only_grows();

-- What is wrong with `p` as the path of a tracked file, or NULL: the rules of the client's
-- isTrackablePath(), with '/' between folders, and the limits of the file systems drawings live on.
CREATE FUNCTION rvk.path_problem(p text) RETURNS text
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
SELECT CASE
    WHEN p IS NULL OR p = '' THEN 'it is empty'
    WHEN octet_length(p) > 1024 THEN 'it is longer than 1024 bytes'
    WHEN p ~ '[\x01-\x1f\x7f\u0080-\u009f]' THEN 'it holds a control character'
    WHEN EXISTS (SELECT FROM unnest(string_to_array(p, '/')) AS part WHERE part IN ('', '.', '..'))
        THEN 'it is absolute or has an empty, "." or ".." component'
    WHEN EXISTS (SELECT FROM unnest(string_to_array(p, '/')) AS part WHERE octet_length(part) > 255)
        THEN 'one of its names is longer than 255 bytes'
    WHEN (p = '.rvk' OR p LIKE '.rvk/%') AND p !~ '^\.rvk/properties/.' THEN 'it leads into .rvk'
END
$f$;

CREATE FUNCTION rvk.copy_name_problem(copy_url text, copy_sha256 text) RETURNS text
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
SELECT CASE
    WHEN copy_url IS NULL OR copy_url = '' OR octet_length(copy_url) > 1024
        THEN 'its URL is empty or longer than 1024 bytes'
    WHEN copy_url ~ '[\x01-\x1f\x7f]' THEN 'its URL holds a control character'
    WHEN copy_sha256 IS NULL OR copy_sha256 !~ '^[0-9a-f]{64}$'
        THEN 'its digest is not 64 hexadecimal digits'
END
$f$;

-- Stores chunk `chunk_seq` of the copy, replacing one that an earlier attempt left (an upload
-- that was cut off is simply sent again). False, storing nothing, when the copy is whole already:
-- a whole copy never changes.
CREATE FUNCTION rvk.put_chunk(copy_url text, copy_sha256 text, chunk_seq integer, chunk bytea)
RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
DECLARE
    problem text := rvk.copy_name_problem(copy_url, copy_sha256);
BEGIN
    IF problem IS NOT NULL THEN
        RAISE EXCEPTION 'the copy cannot be stored: %', problem USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF chunk_seq IS NULL OR chunk_seq < 0 OR chunk_seq >= 1024 THEN
        RAISE EXCEPTION 'a copy has chunks 0 to 1023, not %', chunk_seq
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF chunk IS NULL OR octet_length(chunk) > 1048576 THEN
        RAISE EXCEPTION 'a chunk of a copy holds at most 1 MiB' USING ERRCODE = 'invalid_parameter_value';
    END IF;
    -- One session at a time on a copy, so that none changes it while another finds it whole.
    BEGIN
        PERFORM pg_advisory_xact_lock(7318002, hashtext(copy_url || ' ' || copy_sha256));
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is storing the same copy; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    IF EXISTS (SELECT FROM rvk.copies c WHERE c.url = copy_url AND c.sha256 = copy_sha256) THEN
        RETURN false;
    END IF;
    INSERT INTO rvk.copy_chunks AS k (url, sha256, seq, data, chunk_sha256)
    VALUES (copy_url, copy_sha256, chunk_seq, chunk, encode(sha256(chunk), 'hex'))
    ON CONFLICT (url, sha256, seq)
        DO UPDATE SET data = excluded.data, chunk_sha256 = excluded.chunk_sha256;
    RETURN true;
END
$f$;

-- Records the copy as whole once its chunks, from 0 on without a gap, hold `copy_size` bytes
-- whose digest is `copy_sha256`; chunks beyond those (of an earlier attempt) go. The digest is
-- taken over the whole copy as one value, which PostgreSQL keeps below 1 GiB: larger copies are
-- refused.
CREATE FUNCTION rvk.finish_copy(copy_url text, copy_sha256 text, copy_size bigint)
RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
DECLARE
    problem text := rvk.copy_name_problem(copy_url, copy_sha256);
    last_seq integer;
    held bigint;
    whole text;
BEGIN
    IF problem IS NOT NULL THEN
        RAISE EXCEPTION 'the copy cannot be stored: %', problem USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF copy_size IS NULL OR copy_size < 0 THEN
        RAISE EXCEPTION 'a copy has a size of 0 bytes or more' USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF copy_size > 1072693248 THEN
        RAISE EXCEPTION 'the copy % is larger than 1023 MiB: the server cannot check its digest',
            left(copy_url, 100) USING ERRCODE = 'program_limit_exceeded';
    END IF;
    BEGIN
        PERFORM pg_advisory_xact_lock(7318002, hashtext(copy_url || ' ' || copy_sha256));
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is storing the same copy; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    IF EXISTS (SELECT FROM rvk.copies c WHERE c.url = copy_url AND c.sha256 = copy_sha256) THEN
        RETURN;
    END IF;
    SELECT k.seq, k.upto INTO last_seq, held
    FROM (SELECT c.seq, row_number() OVER (ORDER BY c.seq) - 1 AS rank,
                 sum(octet_length(c.data)) OVER (ORDER BY c.seq) AS upto
          FROM rvk.copy_chunks c WHERE c.url = copy_url AND c.sha256 = copy_sha256) k
    WHERE k.seq = k.rank AND k.upto >= copy_size
    ORDER BY k.seq LIMIT 1;
    IF last_seq IS NULL OR held <> copy_size THEN
        RAISE EXCEPTION 'the server lacks chunks of the copy %: send it again', left(copy_url, 100)
            USING ERRCODE = 'data_corrupted';
    END IF;
    -- A copy of one chunk has that chunk's digest, which put_chunk() took as the chunk came:
    -- most copies are smaller than a chunk, and are not read again.
    IF last_seq = 0 THEN
        SELECT c.chunk_sha256 INTO whole
        FROM rvk.copy_chunks c WHERE c.url = copy_url AND c.sha256 = copy_sha256 AND c.seq = 0;
    ELSE
        SELECT encode(sha256(string_agg(c.data, ''::bytea ORDER BY c.seq)), 'hex') INTO whole
        FROM rvk.copy_chunks c
        WHERE c.url = copy_url AND c.sha256 = copy_sha256 AND c.seq <= last_seq;
    END IF;
    IF whole IS DISTINCT FROM copy_sha256 THEN
        RAISE EXCEPTION 'the chunks of the copy % do not match its digest: send it again',
            left(copy_url, 100) USING ERRCODE = 'data_corrupted';
    END IF;
    DELETE FROM rvk.copy_chunks c
    WHERE c.url = copy_url AND c.sha256 = copy_sha256 AND c.seq > last_seq;
    INSERT INTO rvk.copies (url, sha256, size) VALUES (copy_url, copy_sha256, copy_size);
END
$f$;

-- Adds `pushed` (a JSON array of {id, time, message, digest, changes: [{path, url, sha256}]}) on
-- top of commit `base_id`, in one transaction that holds the head row, and moves the head. Changes
-- nothing and says why when the head is no longer `base_id` ("behind", with the head) or a path
-- the commits change is locked by another login ("locked", a row per lock); refuses commits that
-- break a rule. The author is the session's login, whatever the caller claims.
CREATE FUNCTION rvk.push(base_id bigint, pushed jsonb)
RETURNS TABLE (outcome text, head_id bigint, lock_path text, lock_holder text, lock_taken text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
DECLARE
    top bigint;
    next_id bigint;
    c jsonb;
    ch jsonb;
    problem text;
    paths text[] := '{}';
BEGIN
    IF base_id IS NULL OR base_id < 0 OR jsonb_typeof(pushed) IS DISTINCT FROM 'array' THEN
        RAISE EXCEPTION 'push takes the commit it builds on and an array of commits'
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    -- The head row, held to the end of the transaction: pushes queue up here, one at a time.
    BEGIN
        SELECT h.id INTO top FROM rvk.head h FOR UPDATE;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session holds the head of the shared history; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    top := coalesce(top, 0);
    IF top <> base_id THEN
        RETURN QUERY SELECT 'behind'::text, top, NULL::text, NULL::text, NULL::text;
        RETURN;
    END IF;
    next_id := top;
    FOR c IN SELECT e.value FROM jsonb_array_elements(pushed) AS e LOOP
        next_id := next_id + 1;
        IF jsonb_typeof(c) IS DISTINCT FROM 'object' OR (c->>'id') IS DISTINCT FROM next_id::text THEN
            RAISE EXCEPTION 'commit % would not follow commit %', left(c->>'id', 20), next_id - 1
                USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'time') IS DISTINCT FROM 'number' OR (c->>'time') !~ '^-?[0-9]{1,18}$' THEN
            RAISE EXCEPTION 'commit % has no time', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'message') IS DISTINCT FROM 'string' THEN
            RAISE EXCEPTION 'commit % has no message', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF octet_length(c->>'message') > 65536 THEN
            RAISE EXCEPTION 'the message of commit % is longer than 64 KiB', next_id
                USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'digest') IS DISTINCT FROM 'string' OR (c->>'digest') !~ '^[0-9a-f]{64}$' THEN
            RAISE EXCEPTION 'commit % has no sound digest', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'changes') IS DISTINCT FROM 'array' THEN
            RAISE EXCEPTION 'commit % lists no changes', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        FOR ch IN SELECT e.value FROM jsonb_array_elements(c->'changes') AS e LOOP
            IF jsonb_typeof(ch) IS DISTINCT FROM 'object' OR jsonb_typeof(ch->'path') IS DISTINCT FROM 'string' THEN
                RAISE EXCEPTION 'a change of commit % names no path', next_id
                    USING ERRCODE = 'invalid_parameter_value';
            END IF;
            problem := rvk.path_problem(ch->>'path');
            IF problem IS NOT NULL THEN
                RAISE EXCEPTION 'commit % cannot change the path %: %', next_id,
                    left(ch->>'path', 200), problem USING ERRCODE = 'invalid_parameter_value';
            END IF;
            IF coalesce(jsonb_typeof(ch->'url'), 'null') = 'null'
               AND coalesce(jsonb_typeof(ch->'sha256'), 'null') = 'null' THEN
                NULL;  -- a removal
            ELSIF jsonb_typeof(ch->'url') = 'string' AND jsonb_typeof(ch->'sha256') = 'string' THEN
                IF NOT EXISTS (SELECT FROM rvk.copies p
                               WHERE p.url = ch->>'url' AND p.sha256 = ch->>'sha256') THEN
                    RAISE EXCEPTION 'commit % names a copy of % that is not whole on the server: push again',
                        next_id, left(ch->>'path', 200) USING ERRCODE = 'foreign_key_violation';
                END IF;
            ELSE
                RAISE EXCEPTION 'commit % names a copy of % without its digest', next_id,
                    left(ch->>'path', 200) USING ERRCODE = 'invalid_parameter_value';
            END IF;
            paths := paths || (ch->>'path');
        END LOOP;
    END LOOP;
    RETURN QUERY
        SELECT 'locked'::text, top, l.path, l.holder,
               to_char(l.taken AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
        FROM rvk.locks l WHERE l.path = ANY (paths) AND l.holder <> session_user
        ORDER BY convert_to(l.path, 'UTF8');
    IF FOUND THEN
        RETURN;
    END IF;
    next_id := top;
    FOR c IN SELECT e.value FROM jsonb_array_elements(pushed) AS e LOOP
        next_id := next_id + 1;
        INSERT INTO rvk.commits (id, parent, time, message, author, digest)
        VALUES (next_id, CASE WHEN next_id > 1 THEN next_id - 1 END, (c->>'time')::bigint,
                c->>'message', session_user, c->>'digest');
        INSERT INTO rvk.changes (commit_id, path, url, sha256)
        SELECT next_id, e.value->>'path', e.value->>'url', e.value->>'sha256'
        FROM jsonb_array_elements(c->'changes') AS e;
    END LOOP;
    IF next_id > top THEN
        UPDATE rvk.head SET id = next_id;
    END IF;
    RETURN QUERY SELECT 'pushed'::text, next_id, NULL::text, NULL::text, NULL::text;
END
$f$;

-- Takes the lock on `lock_path` for the session's login; the lock as it is afterwards (the
-- caller's, or another's that stays).
CREATE FUNCTION rvk.take_lock(lock_path text)
RETURNS TABLE (lock_holder text, lock_taken text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
DECLARE
    problem text := rvk.path_problem(lock_path);
BEGIN
    IF problem IS NOT NULL THEN
        RAISE EXCEPTION 'the path % cannot be locked: %', left(lock_path, 200), problem
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    -- Never while a push is under way: a push that found no other's lock on its paths adds its
    -- commits before such a lock is taken.
    BEGIN
        PERFORM 1 FROM rvk.head FOR KEY SHARE;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session holds the head of the shared history; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    BEGIN
        INSERT INTO rvk.locks (path, holder) VALUES (lock_path, session_user)
        ON CONFLICT (path) DO NOTHING;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is taking or releasing this lock; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    RETURN QUERY
        SELECT l.holder, to_char(l.taken AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
        FROM rvk.locks l WHERE l.path = lock_path;
END
$f$;

-- Releases the lock on `lock_path` when the session's login holds it, or, with `force_release`,
-- whoever holds it when the login is a member of rvk_admin. Released, or the lock that stays
-- (no row: there was none).
CREATE FUNCTION rvk.release_lock(lock_path text, force_release boolean)
RETURNS TABLE (released boolean, lock_holder text, lock_taken text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
BEGIN
    BEGIN
        DELETE FROM rvk.locks l
        WHERE l.path = lock_path
          AND (l.holder = session_user
               OR (force_release AND pg_has_role(session_user, 'rvk_admin', 'MEMBER')));
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is taking or releasing this lock; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    IF FOUND THEN
        RETURN QUERY SELECT true, NULL::text, NULL::text;
        RETURN;
    END IF;
    RETURN QUERY
        SELECT false, l.holder, to_char(l.taken AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
        FROM rvk.locks l WHERE l.path = lock_path;
END
$f$;

UPDATE rvk.version SET version = 2;
RESET ROLE;
)sql";

// Format 3: what a drawing office needs besides the history. Files that need a lock before a change
// to them is pushed (drawings, and those of the rules rvk_admin sets), labels that name issued
// commits, and a push that releases the pusher's locks on what it pushed.
constexpr const char* kFormat3 = R"sql(
SET LOCAL ROLE rvk_owner;
-- The newest change of a path up to a commit: whether the file is there at the server's head.
CREATE INDEX changes_path ON rvk.changes (path, commit_id);

-- A drawing, as the client's library classifies files: the extension of the last name, the text
-- after its last dot when that dot is neither its first nor its last character, is exactly "dwg".
CREATE FUNCTION rvk.is_drawing(p text) RETURNS boolean
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
SELECT substring(p FROM '[^/]*$') ~ '^.+\.dwg$'
$f$;

-- The anchored regular expression of the file-name pattern `rule`, or an error naming what is
-- wrong with it. '*' stands for any run of characters but '/', '**' for any run, '?' for one
-- character but '/', '[abc]', '[a-z]' and '[!abc]' for one of a set, and '\' takes the next
-- character as it is. A rule with a '/' matches whole paths from the root, one without a name in
-- any folder. Every character the translation does not make special is escaped, so the
-- expression means the same to every engine that reads it, the client's included.
CREATE FUNCTION rvk.rule_regex(rule text) RETURNS text
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    out text := '';
    i integer := 1;
    n integer := char_length(rule);
    c text;
    j integer;
    first boolean;
    low text;
BEGIN
    IF rule IS NULL OR rule = '' THEN
        RAISE EXCEPTION 'a lockable rule cannot be empty' USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF octet_length(rule) > 256 THEN
        RAISE EXCEPTION 'the lockable rule % is longer than 256 bytes', left(rule, 40) || '...'
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF rule ~ '[\x01-\x1f\x7f\u0080-\u009f]' THEN
        RAISE EXCEPTION 'a lockable rule cannot hold a control character'
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    IF left(rule, 1) = '/' OR right(rule, 1) = '/' THEN
        RAISE EXCEPTION 'the lockable rule "%" does not compile: it begins or ends with /', rule
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    WHILE i <= n LOOP
        c := substr(rule, i, 1);
        IF c = '*' AND substr(rule, i + 1, 1) = '*' THEN
            out := out || '.*';
            i := i + 2;
            CONTINUE;
        ELSIF c = '*' THEN
            out := out || '[^/]*';
        ELSIF c = '?' THEN
            out := out || '[^/]';
        ELSIF c = '\' THEN
            IF i = n THEN
                RAISE EXCEPTION 'the lockable rule "%" does not compile: it ends with \', rule
                    USING ERRCODE = 'invalid_parameter_value';
            END IF;
            i := i + 1;
            c := substr(rule, i, 1);
            out := out || CASE WHEN c ~ '^[A-Za-z0-9]$' OR ascii(c) > 127 THEN c ELSE '\' || c END;
        ELSIF c = '[' THEN
            j := i + 1;
            out := out || '[';
            IF substr(rule, j, 1) = '!' THEN
                out := out || '^';
                j := j + 1;
            END IF;
            first := true;
            low := NULL;
            LOOP
                IF j > n THEN
                    RAISE EXCEPTION 'the lockable rule "%" does not compile: a [ is not closed', rule
                        USING ERRCODE = 'invalid_parameter_value';
                END IF;
                c := substr(rule, j, 1);
                EXIT WHEN c = ']' AND NOT first;
                IF c = '/' THEN
                    RAISE EXCEPTION 'the lockable rule "%" does not compile: a set cannot hold /', rule
                        USING ERRCODE = 'invalid_parameter_value';
                END IF;
                IF c = '-' AND low IS NOT NULL AND j < n AND substr(rule, j + 1, 1) <> ']' THEN
                    c := substr(rule, j + 1, 1);
                    IF c = '/' OR ascii(c) < ascii(low) THEN
                        RAISE EXCEPTION 'the lockable rule "%" does not compile: the range %-% is empty or holds /',
                            rule, low, c USING ERRCODE = 'invalid_parameter_value';
                    END IF;
                    out := out || '-' || CASE WHEN c ~ '^[A-Za-z0-9]$' OR ascii(c) > 127 THEN c ELSE '\' || c END;
                    low := NULL;
                    j := j + 2;
                ELSE
                    out := out || CASE WHEN c ~ '^[A-Za-z0-9]$' OR ascii(c) > 127 THEN c ELSE '\' || c END;
                    low := c;
                    j := j + 1;
                END IF;
                first := false;
            END LOOP;
            out := out || CASE WHEN substr(rule, i + 1, 1) = '!' THEN '/]' ELSE ']' END;
            i := j;
        ELSIF c ~ '^[A-Za-z0-9]$' OR ascii(c) > 127 THEN
            out := out || c;
        ELSE
            out := out || '\' || c;
        END IF;
        i := i + 1;
    END LOOP;
    RETURN '^(?:' || out || ')$';
END
$f$;

CREATE TABLE rvk.lockable_rules (
    seq   integer PRIMARY KEY,
    rule  text    NOT NULL,
    regex text    NOT NULL,
    has_slash boolean NOT NULL
);

-- Whether a change to the tracked file `p` needs its pusher to hold the lock on it.
CREATE FUNCTION rvk.is_lockable(p text) RETURNS boolean
LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $f$
SELECT rvk.is_drawing(p) OR EXISTS (
    SELECT FROM rvk.lockable_rules r
    WHERE CASE WHEN r.has_slash THEN p ELSE substring(p FROM '[^/]*$') END ~ r.regex)
$f$;

-- Replaces the lockable rules with `rules`, each compiled first: one that does not compile
-- changes nothing. Members of rvk_admin only.
CREATE FUNCTION rvk.set_lockable(rules text[]) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
DECLARE
    r text;
    k integer := 0;
BEGIN
    IF NOT pg_has_role(session_user, 'rvk_admin', 'MEMBER') THEN
        RAISE EXCEPTION 'only members of rvk_admin set the lockable rules'
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    IF rules IS NULL OR cardinality(rules) > 1000 THEN
        RAISE EXCEPTION 'give at most 1000 lockable rules' USING ERRCODE = 'invalid_parameter_value';
    END IF;
    BEGIN
        LOCK TABLE rvk.lockable_rules IN EXCLUSIVE MODE;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is setting the lockable rules; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    DELETE FROM rvk.lockable_rules;
    FOREACH r IN ARRAY rules LOOP
        k := k + 1;
        INSERT INTO rvk.lockable_rules (seq, rule, regex, has_slash)
        VALUES (k, r, rvk.rule_regex(r), strpos(r, '/') > 0);
    END LOOP;
    RETURN k;
END
$f$;

-- Labels name the commits an office issued ("Rev B, for tender"): writers make them, a name once
-- made stays on its commit unless a member of rvk_admin moves or removes it.
CREATE TABLE rvk.labels (
    name      text        PRIMARY KEY,
    commit_id bigint      NOT NULL REFERENCES rvk.commits (id),
    author    text        NOT NULL,
    made      timestamptz NOT NULL DEFAULT now()
);

CREATE FUNCTION rvk.label_problem(label_name text) RETURNS text
LANGUAGE sql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
SELECT CASE
    WHEN label_name IS NULL OR label_name = '' THEN 'it is empty'
    WHEN char_length(label_name) > 100 THEN 'it is longer than 100 characters'
    WHEN label_name ~ '[\x01-\x1f\x7f\u0080-\u009f]' THEN 'it holds a control character'
    WHEN label_name ~ '["''`]' THEN 'it holds a quotation mark'
    WHEN label_name ~ '^\s|\s$' THEN 'it begins or ends with a space'
    WHEN label_name ~ '^[0-9]+$' THEN 'it is a number, which names a commit'
END
$f$;

-- Checks a label's name and commit, and waits for the head row, so that no push is half-way.
CREATE FUNCTION rvk.label_checked(label_name text, label_commit bigint) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, rvk, pg_temp AS $f$
DECLARE
    problem text := rvk.label_problem(label_name);
    top bigint;
BEGIN
    IF problem IS NOT NULL THEN
        RAISE EXCEPTION 'the label % cannot be made: %', left(label_name, 100), problem
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    BEGIN
        SELECT h.id INTO top FROM rvk.head h FOR KEY SHARE;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session holds the head of the shared history; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    IF label_commit IS NULL OR label_commit < 1 OR label_commit > coalesce(top, 0) THEN
        RAISE EXCEPTION 'the server has no commit %', coalesce(label_commit::text, 'none')
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
END
$f$;

-- Makes the label `label_name` on `label_commit` for the session's login; the label as it is
-- afterwards (this one, or the one of that name that stays).
CREATE FUNCTION rvk.make_label(label_name text, label_commit bigint)
RETURNS TABLE (was_made boolean, on_commit bigint, made_by text, made_at text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
BEGIN
    PERFORM rvk.label_checked(label_name, label_commit);
    BEGIN
        INSERT INTO rvk.labels AS l (name, commit_id, author)
        VALUES (label_name, label_commit, session_user) ON CONFLICT (name) DO NOTHING;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is making this label; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    RETURN QUERY
        SELECT FOUND, l.commit_id, l.author,
               to_char(l.made AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
        FROM rvk.labels l WHERE l.name = label_name;
END
$f$;

-- Moves the label to `label_commit`, or with NULL removes it. Members of rvk_admin only. False
-- when there was no such label.
CREATE FUNCTION rvk.move_label(label_name text, label_commit bigint) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
BEGIN
    IF NOT pg_has_role(session_user, 'rvk_admin', 'MEMBER') THEN
        RAISE EXCEPTION 'only members of rvk_admin move or remove a label'
            USING ERRCODE = 'insufficient_privilege';
    END IF;
    BEGIN
        IF label_commit IS NULL THEN
            DELETE FROM rvk.labels l WHERE l.name = label_name;
        ELSE
            PERFORM rvk.label_checked(label_name, label_commit);
            UPDATE rvk.labels l SET commit_id = label_commit, author = session_user, made = now()
            WHERE l.name = label_name;
        END IF;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session is changing this label; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    RETURN FOUND;
END
$f$;

-- Push, from this format on: as before, and a change to or a removal of a lockable file that the
-- server has needs the pusher's lock on it ("unlocked", a row a path: nothing changes). A new
-- lockable file needs none. Unless `keep_locks`, the pusher's locks on the paths it pushed are
-- released with the push ("released", a row a path).
DROP FUNCTION rvk.push(bigint, jsonb);
CREATE FUNCTION rvk.push(base_id bigint, pushed jsonb, keep_locks boolean)
RETURNS TABLE (outcome text, head_id bigint, lock_path text, lock_holder text, lock_taken text)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, rvk, pg_temp
SET lock_timeout = '10s' AS $f$
DECLARE
    top bigint;
    next_id bigint;
    c jsonb;
    ch jsonb;
    problem text;
    paths text[] := '{}';
BEGIN
    IF base_id IS NULL OR base_id < 0 OR jsonb_typeof(pushed) IS DISTINCT FROM 'array'
       OR keep_locks IS NULL THEN
        RAISE EXCEPTION 'push takes the commit it builds on, an array of commits and whether to keep locks'
            USING ERRCODE = 'invalid_parameter_value';
    END IF;
    -- The head row, held to the end of the transaction: pushes queue up here, one at a time.
    BEGIN
        SELECT h.id INTO top FROM rvk.head h FOR UPDATE;
    EXCEPTION WHEN lock_not_available THEN
        RAISE EXCEPTION 'another session holds the head of the shared history; gave up after 10 s'
            USING ERRCODE = 'lock_not_available';
    END;
    top := coalesce(top, 0);
    IF top <> base_id THEN
        RETURN QUERY SELECT 'behind'::text, top, NULL::text, NULL::text, NULL::text;
        RETURN;
    END IF;
    next_id := top;
    FOR c IN SELECT e.value FROM jsonb_array_elements(pushed) AS e LOOP
        next_id := next_id + 1;
        IF jsonb_typeof(c) IS DISTINCT FROM 'object' OR (c->>'id') IS DISTINCT FROM next_id::text THEN
            RAISE EXCEPTION 'commit % would not follow commit %', left(c->>'id', 20), next_id - 1
                USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'time') IS DISTINCT FROM 'number' OR (c->>'time') !~ '^-?[0-9]{1,18}$' THEN
            RAISE EXCEPTION 'commit % has no time', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'message') IS DISTINCT FROM 'string' THEN
            RAISE EXCEPTION 'commit % has no message', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF octet_length(c->>'message') > 65536 THEN
            RAISE EXCEPTION 'the message of commit % is longer than 64 KiB', next_id
                USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'digest') IS DISTINCT FROM 'string' OR (c->>'digest') !~ '^[0-9a-f]{64}$' THEN
            RAISE EXCEPTION 'commit % has no sound digest', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        IF jsonb_typeof(c->'changes') IS DISTINCT FROM 'array' THEN
            RAISE EXCEPTION 'commit % lists no changes', next_id USING ERRCODE = 'invalid_parameter_value';
        END IF;
        FOR ch IN SELECT e.value FROM jsonb_array_elements(c->'changes') AS e LOOP
            IF jsonb_typeof(ch) IS DISTINCT FROM 'object' OR jsonb_typeof(ch->'path') IS DISTINCT FROM 'string' THEN
                RAISE EXCEPTION 'a change of commit % names no path', next_id
                    USING ERRCODE = 'invalid_parameter_value';
            END IF;
            problem := rvk.path_problem(ch->>'path');
            IF problem IS NOT NULL THEN
                RAISE EXCEPTION 'commit % cannot change the path %: %', next_id,
                    left(ch->>'path', 200), problem USING ERRCODE = 'invalid_parameter_value';
            END IF;
            IF coalesce(jsonb_typeof(ch->'url'), 'null') = 'null'
               AND coalesce(jsonb_typeof(ch->'sha256'), 'null') = 'null' THEN
                NULL;  -- a removal
            ELSIF jsonb_typeof(ch->'url') = 'string' AND jsonb_typeof(ch->'sha256') = 'string' THEN
                IF NOT EXISTS (SELECT FROM rvk.copies p
                               WHERE p.url = ch->>'url' AND p.sha256 = ch->>'sha256') THEN
                    RAISE EXCEPTION 'commit % names a copy of % that is not whole on the server: push again',
                        next_id, left(ch->>'path', 200) USING ERRCODE = 'foreign_key_violation';
                END IF;
            ELSE
                RAISE EXCEPTION 'commit % names a copy of % without its digest', next_id,
                    left(ch->>'path', 200) USING ERRCODE = 'invalid_parameter_value';
            END IF;
            paths := paths || (ch->>'path');
        END LOOP;
    END LOOP;
    -- Another's lock stands in the way of any change; a lockable file the server has needs the
    -- pusher's own.
    RETURN QUERY
        SELECT CASE WHEN l.holder IS NULL THEN 'unlocked' ELSE 'locked' END, top, p.path, l.holder,
               to_char(l.taken AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
        FROM (SELECT DISTINCT u.path FROM unnest(paths) AS u (path)) p
        LEFT JOIN rvk.locks l ON l.path = p.path
        WHERE (l.holder IS NOT NULL AND l.holder <> session_user)
           OR (l.holder IS NULL AND rvk.is_lockable(p.path)
               AND (SELECT x.url IS NOT NULL FROM rvk.changes x
                    WHERE x.path = p.path AND x.commit_id <= top
                    ORDER BY x.commit_id DESC LIMIT 1))
        ORDER BY convert_to(p.path, 'UTF8');
    IF FOUND THEN
        RETURN;
    END IF;
    next_id := top;
    FOR c IN SELECT e.value FROM jsonb_array_elements(pushed) AS e LOOP
        next_id := next_id + 1;
        INSERT INTO rvk.commits (id, parent, time, message, author, digest)
        VALUES (next_id, CASE WHEN next_id > 1 THEN next_id - 1 END, (c->>'time')::bigint,
                c->>'message', session_user, c->>'digest');
        INSERT INTO rvk.changes (commit_id, path, url, sha256)
        SELECT next_id, e.value->>'path', e.value->>'url', e.value->>'sha256'
        FROM jsonb_array_elements(c->'changes') AS e;
    END LOOP;
    IF next_id > top THEN
        UPDATE rvk.head SET id = next_id;
    END IF;
    IF NOT keep_locks THEN
        RETURN QUERY
            WITH gone AS (
                DELETE FROM rvk.locks l WHERE l.holder = session_user AND l.path = ANY (paths)
                RETURNING l.path)
            SELECT 'released'::text, next_id, g.path, NULL::text, NULL::text FROM gone g;
    END IF;
    RETURN QUERY SELECT 'pushed'::text, next_id, NULL::text, NULL::text, NULL::text;
END
$f$;

UPDATE rvk.version SET version = 3;
RESET ROLE;
)sql";

// Granted every time, by the owner: a role made again later gets its privileges back, and one
// granted more by hand loses it.
constexpr const char* kGrants = R"sql(
SET LOCAL ROLE rvk_owner;
REVOKE ALL ON SCHEMA rvk FROM PUBLIC;
GRANT USAGE ON SCHEMA rvk TO rvk_readers, rvk_writers, rvk_admin;
REVOKE ALL ON ALL TABLES IN SCHEMA rvk FROM PUBLIC, rvk_readers, rvk_writers, rvk_admin;
GRANT SELECT ON ALL TABLES IN SCHEMA rvk TO rvk_readers, rvk_writers, rvk_admin;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA rvk FROM PUBLIC, rvk_readers, rvk_writers, rvk_admin;
GRANT EXECUTE ON FUNCTION rvk.put_chunk(text, text, integer, bytea),
                          rvk.finish_copy(text, text, bigint),
                          rvk.push(bigint, jsonb, boolean),
                          rvk.take_lock(text),
                          rvk.release_lock(text, boolean),
                          rvk.make_label(text, bigint),
                          rvk.move_label(text, bigint),
                          rvk.set_lockable(text[])
    TO rvk_writers, rvk_admin;
-- What every reader may ask: whether a path needs a lock, and the expression of a rule.
GRANT EXECUTE ON FUNCTION rvk.is_drawing(text), rvk.is_lockable(text), rvk.rule_regex(text)
    TO rvk_readers, rvk_writers, rvk_admin;
RESET ROLE;
)sql";

// The limits for every login of the groups, in this database: a setting of a group role never
// reaches its members' sessions. A login added later gets them when create() runs again.
std::string loginLimits() {
    std::string statements;
    for (const auto& [name, value] :
         {std::pair<const char*, int>{"statement_timeout", kStatementSeconds},
          {"lock_timeout", kLockSeconds},
          {"idle_in_transaction_session_timeout", kIdleInTransactionSeconds}})
        statements += std::string("        EXECUTE format('ALTER ROLE %I IN DATABASE %I SET ") +
                      name + " = %L', login.rolname, current_database(), '" +
                      std::to_string(value) + "s');\n";
    return R"sql(
DO $$
DECLARE
    login record;
BEGIN
    FOR login IN
        SELECT m.rolname FROM pg_roles m
        WHERE m.rolcanlogin AND NOT m.rolsuper
          AND (pg_has_role(m.oid, 'rvk_readers', 'MEMBER') OR pg_has_role(m.oid, 'rvk_writers', 'MEMBER')
               OR pg_has_role(m.oid, 'rvk_admin', 'MEMBER'))
    LOOP
)sql" + statements +
           R"sql(    END LOOP;
END
$$;
)sql";
}

}  // namespace

Expected<Created> ServerConnection::create() {
    // Refused at once, with one message, for a login that could not finish: it would fail at the
    // first statement it lacks the right for.
    auto who = query(
        "SELECT r.rolsuper, r.rolcreaterole, "
        "       EXISTS (SELECT FROM pg_roles a WHERE a.rolname = 'rvk_admin'), "
        "       EXISTS (SELECT FROM pg_roles a "
        "               WHERE a.rolname = 'rvk_admin' AND pg_has_role(r.oid, a.oid, 'MEMBER')) "
        "FROM pg_roles r WHERE r.rolname = session_user");
    if (!who.hasValue())
        return who.error();
    const QueryResult& w = who.value();
    const auto yes = [&](int column) { return w.rows() == 1 && w.text(0, column) == "t"; };
    if (!yes(0) && !(yes(1) && (!yes(2) || yes(3))))
        return hostError("rvk remote create needs a login that is a member of rvk_admin and may "
                         "create roles (CREATEROLE); " + quoteName(m_role) + " is not one");
    auto begun = begin();
    if (!begun.hasValue())
        return begun.error();
    const auto undo = [&](ErrorMessage error) -> Expected<Created> {
        rollback();
        return error;
    };
    // Two creators at once: the second waits here and then finds the tables made. The notices of
    // what exists already ("skipping") tell the creator nothing.
    for (const char* sql : {"SET LOCAL client_min_messages = warning",
                            "SELECT pg_advisory_xact_lock(7318001)", kRoles}) {
        auto done = run(sql);
        if (!done.hasValue())
            return undo(done.error());
    }
    // The creator acts as the owner for this transaction only, unless it is a member already.
    auto owner = query("SELECT pg_has_role(session_user, 'rvk_owner', 'MEMBER')");
    if (!owner.hasValue())
        return undo(owner.error());
    const bool wasOwner = owner.value().text(0, 0) == "t";
    if (!wasOwner) {
        auto granted = run("GRANT rvk_owner TO SESSION_USER");
        if (!granted.hasValue())
            return undo(granted.error());
    }
    auto version = format();
    if (!version.hasValue())
        return undo(version.error());
    const std::int64_t found = version.value();
    if (found > kServerFormat)
        return undo(hostError("the server's repository has format " + std::to_string(found) +
                              ", newer than this rvk's (" + std::to_string(kServerFormat) +
                              "): upgrade rvk"));
    const char* steps[] = {kFormat1, kFormat2, kFormat3};
    for (std::int64_t step = found; step < kServerFormat; ++step) {
        auto done = run(steps[step]);
        if (!done.hasValue())
            return undo(done.error());
    }
    const std::string limits = loginLimits();
    for (const char* sql : {kGrants, limits.c_str(),
                            wasOwner ? "SELECT" : "REVOKE rvk_owner FROM SESSION_USER"}) {
        auto done = run(sql);
        if (!done.hasValue())
            return undo(done.error());
    }
    auto done = commit();
    if (!done.hasValue())
        return undo(done.error());
    const auto sound = checkSchema();
    if (!sound.hasValue())
        return sound.error();
    return found == 0 ? Created::made : found < kServerFormat ? Created::upgraded : Created::current;
}

Expected<std::int64_t> ServerConnection::format() {
    auto exists = query("SELECT to_regclass('rvk.version') IS NOT NULL");
    if (!exists.hasValue())
        return exists.error();
    if (exists.value().text(0, 0) != "t")
        return std::int64_t{0};
    auto version = query("SELECT coalesce(max(version), 0) FROM rvk.version");
    if (!version.hasValue())
        return version.error();
    return version.value().integer(0, 0);
}

Expected<void> ServerConnection::checkSchema() {
    auto version = format();
    if (!version.hasValue())
        return version.error();
    const std::int64_t found = version.value();
    if (found == 0)
        return hostError(
            "the server's database holds no shared repository (rvk remote create makes one)");
    if (found == kServerFormat)
        return {};
    if (found > 0 && found < kServerFormat)
        return hostError("the server's repository has format " + std::to_string(found) +
                         ", older than this rvk's (" + std::to_string(kServerFormat) +
                         "): run rvk remote create with a login of rvk_admin to upgrade it");
    return hostError("the server's repository has format " + std::to_string(found) +
                     ", which this rvk does not know (it knows " + std::to_string(kServerFormat) +
                     ")");
}

}  // namespace client

// The shared repository's tables, in the schema "rvk":
//
//   version     (version)                         the format; 1
//   head        (one, id)                         one row: the newest commit, NULL before the first
//   commits     (id, parent, time, message, author, digest)
//                                                 the linear history: ids count from 1 and every
//                                                 parent is the id before; `digest` identifies the
//                                                 commit's content, so a clone recognises its own
//   changes     (commit_id, path, url, sha256)    what each commit added, changed (a URL) or
//                                                 removed (NULL) against its parent
//   copies      (url, sha256, size)               the stored copies, one row once a copy is whole
//   copy_chunks (url, sha256, seq, data, chunk_sha256)
//                                                 their bytes, in chunks, each checked on arrival
//                                                 against its own digest
//   locks       (path, holder, taken)             drawing locks, held by PostgreSQL roles
//
// Paths are '/'-separated. A change names a copy by URL and digest, so copies of the same URL that
// two clones stored independently never mix. The objects are owned by rvk_admin; rvk_readers may
// read everything, rvk_writers may also add copies and commits, move the head and take and release
// their own locks (row security keeps them to their own), and rvk_admin, the owner, may do all,
// releasing another role's lock included.
#include "ServerConnection.h"

#include <libpq-fe.h>

#include "Console.h"

namespace host {

namespace {

constexpr int kServerFormat = 1;

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
END
$$;
)sql";

constexpr const char* kTables = R"sql(
CREATE SCHEMA rvk AUTHORIZATION rvk_admin;
SET LOCAL ROLE rvk_admin;
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
ALTER TABLE rvk.locks ENABLE ROW LEVEL SECURITY;
CREATE POLICY locks_seen ON rvk.locks FOR SELECT USING (true);
CREATE POLICY locks_taken ON rvk.locks FOR INSERT WITH CHECK (holder = current_user);
CREATE POLICY locks_released ON rvk.locks FOR DELETE USING (holder = current_user);
RESET ROLE;
)sql";

// Granted every time: a role made again later gets its privileges back.
constexpr const char* kGrants = R"sql(
GRANT USAGE ON SCHEMA rvk TO rvk_readers, rvk_writers;
GRANT SELECT ON ALL TABLES IN SCHEMA rvk TO rvk_readers, rvk_writers;
GRANT INSERT ON rvk.copies, rvk.copy_chunks, rvk.commits, rvk.changes TO rvk_writers;
GRANT UPDATE ON rvk.head TO rvk_writers;
GRANT INSERT, DELETE ON rvk.locks TO rvk_writers;
)sql";

}  // namespace

Expected<void> checkConnInfo(const std::string& conninfo) {
    char* problem = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &problem);
    if (options == nullptr) {
        std::string reason = problem ? problem : "out of memory";
        PQfreemem(problem);
        while (!reason.empty() && reason.back() == '\n')
            reason.pop_back();
        return hostError("not a connection string: " + reason);
    }
    bool password = false;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (std::string(o->keyword) == "password" && o->val != nullptr)
            password = true;
    }
    PQconninfoFree(options);
    if (password)
        return hostError(
            "the connection string holds a password; keep it in ~/.pgpass or the service file "
            "instead, where rvk never stores or shows it");
    return {};
}

void QueryResult::Clear::operator()(pg_result* result) const {
    PQclear(result);
}

QueryResult::QueryResult(pg_result* result) : m_result(result) {}

int QueryResult::rows() const {
    return PQntuples(m_result.get());
}

bool QueryResult::isNull(int row, int column) const {
    return PQgetisnull(m_result.get(), row, column) != 0;
}

std::string QueryResult::text(int row, int column) const {
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
}

std::int64_t QueryResult::integer(int row, int column) const {
    return std::stoll(text(row, column));
}

const char* QueryResult::bytes(int row, int column) const {
    return PQgetvalue(m_result.get(), row, column);
}

int QueryResult::length(int row, int column) const {
    return PQgetlength(m_result.get(), row, column);
}

void ServerConnection::Finish::operator()(pg_conn* conn) const {
    PQfinish(conn);
}

ErrorMessage ServerConnection::serverError(const std::string& doing) const {
    std::string reason = PQerrorMessage(m_conn.get());
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return hostError("server: " + doing + ": " + escapeControls(reason));
}

boost::optional<ErrorMessage> ServerConnection::failure(const QueryResult& result) const {
    const auto status = PQresultStatus(result.m_result.get());
    if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK)
        return boost::none;
    std::string reason = result.m_result ? PQresultErrorMessage(result.m_result.get())
                                         : PQerrorMessage(m_conn.get());
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    return hostError("server: " + escapeControls(reason));
}

Expected<ServerConnection> ServerConnection::connect(const std::string& conninfo) {
    return connect(conninfo, 0);
}

Expected<ServerConnection> ServerConnection::connect(const std::string& conninfo, int seconds) {
    const auto sound = checkConnInfo(conninfo);
    if (!sound.hasValue())
        return sound.error();
    // The connection string is expanded as "dbname"; a time limit given after it wins.
    const std::string limit = std::to_string(seconds);
    const char* keys[] = {"dbname", seconds > 0 ? "connect_timeout" : nullptr, nullptr};
    const char* values[] = {conninfo.c_str(), limit.c_str(), nullptr};
    ServerConnection connection(PQconnectdbParams(keys, values, 1));
    if (!connection.m_conn)
        return hostError("server: cannot connect: out of memory");
    if (PQstatus(connection.m_conn.get()) != CONNECTION_OK)
        return connection.serverError("cannot connect");
    auto role = connection.query("SELECT current_user");
    if (!role.hasValue())
        return role.error();
    connection.m_role = role.value().text(0, 0);
    return connection;
}

Expected<QueryResult> ServerConnection::query(const std::string& sql,
                                              const std::vector<Param>& params,
                                              bool binaryResult) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
        values.push_back(p.isNull ? nullptr : p.text.data());
        lengths.push_back(static_cast<int>(p.text.size()));
        formats.push_back(p.binary ? 1 : 0);
    }
    QueryResult result(PQexecParams(m_conn.get(), sql.c_str(), static_cast<int>(params.size()),
                                    nullptr, values.data(), lengths.data(), formats.data(),
                                    binaryResult ? 1 : 0));
    const auto failed = failure(result);
    if (failed)
        return *failed;
    return result;
}

Expected<void> ServerConnection::run(const char* sql) {
    QueryResult result(PQexec(m_conn.get(), sql));
    const auto failed = failure(result);
    if (failed)
        return *failed;
    return {};
}

void ServerConnection::rollback() {
    if (m_conn && PQtransactionStatus(m_conn.get()) != PQTRANS_IDLE)
        QueryResult(PQexec(m_conn.get(), "ROLLBACK"));
}

Expected<bool> ServerConnection::create() {
    auto begun = begin();
    if (!begun.hasValue())
        return begun.error();
    // Two creators at once: the second waits here and then finds the tables made.
    for (const char* sql : {"SELECT pg_advisory_xact_lock(7318001)", kRoles}) {
        auto done = run(sql);
        if (!done.hasValue()) {
            rollback();
            return done.error();
        }
    }
    auto exists = query("SELECT to_regclass('rvk.version') IS NOT NULL");
    if (!exists.hasValue()) {
        rollback();
        return exists.error();
    }
    const bool made = exists.value().text(0, 0) != "t";
    if (made) {
        auto tables = run(kTables);
        if (!tables.hasValue()) {
            rollback();
            return tables.error();
        }
    }
    auto granted = run(kGrants);
    if (!granted.hasValue()) {
        rollback();
        return granted.error();
    }
    auto done = commit();
    if (!done.hasValue()) {
        rollback();
        return done.error();
    }
    const auto sound = checkSchema();
    if (!sound.hasValue())
        return sound.error();
    return made;
}

Expected<void> ServerConnection::checkSchema() {
    auto exists = query("SELECT to_regclass('rvk.version') IS NOT NULL");
    if (!exists.hasValue())
        return exists.error();
    if (exists.value().text(0, 0) != "t")
        return hostError(
            "the server's database holds no shared repository (rvk remote create makes one)");
    auto version = query("SELECT max(version) FROM rvk.version");
    if (!version.hasValue())
        return version.error();
    if (version.value().isNull(0, 0) || version.value().integer(0, 0) != kServerFormat)
        return hostError("the server's repository has format " +
                         (version.value().isNull(0, 0) ? std::string("(none)")
                                                       : version.value().text(0, 0)) +
                         ", which this rvk does not know (it knows " +
                         std::to_string(kServerFormat) + ")");
    return {};
}

}  // namespace host

// The kit's connection to the server that holds a shared history: a PostgreSQL database, reached
// through the kit's PostgreSQL part (ServerModule.h, loaded on first use) with a connection string
// (or "service=NAME") that holds no secret. Every query goes through query(), with its values as
// parameters, never spliced into the text, and gives up when the server does not answer in time:
// the kit never waits on a server without a limit. The
// tables live in the schema "rvk", which create() makes; logins only read them, and every change
// goes through the schema's functions, which check it (see ServerSchema.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>

#include <client/Session.h>

#include <client/shared/ServerModule.h>

namespace client {

// How long the kit waits for the server: to connect, for one query (a little longer than the
// server's own statement_timeout, so that the server's clearer message comes first), and for a
// lock held by another session (the server's lock_timeout, which the schema's functions fix for
// themselves).
constexpr int kConnectSeconds = RVK_PG_CONNECT_SECONDS;
constexpr int kStatementSeconds = RVK_PG_STATEMENT_SECONDS;
constexpr int kQuerySeconds = RVK_PG_QUERY_SECONDS;
constexpr int kLockSeconds = RVK_PG_LOCK_SECONDS;
// How long a session may sit in an open transaction before the server ends it.
constexpr int kIdleInTransactionSeconds = RVK_PG_IDLE_IN_TRANSACTION_SECONDS;

// The kit's PostgreSQL part, loaded on the first call (LoadServerModule.cpp); an error saying
// where it was looked for and why it could not be loaded otherwise.
Expected<const RvkPgModule*> serverModule();

// Success when `conninfo` may be kept as a remote: it parses as a libpq connection string or URI,
// names no secret (password, sslpassword: those belong in ~/.pgpass or the service file), and a
// "service=" names no host, hostaddr or port beside it, which would send the service's password
// to another host. Loads the PostgreSQL part.
Expected<void> checkConnInfo(const std::string& conninfo);

// Text from the server or libpq (a message of several lines) as rvk shows it: each line with its
// control characters escaped, the lines after the first indented, no line end at the end.
std::string serverText(const std::string& raw);

// The rows a query gave.
class QueryResult {
public:
    QueryResult(const RvkPgModule* module, RvkPgResult* result) : m_result(result, Clear{module}) {}
    int rows() const;
    bool isNull(int row, int column) const;
    std::string text(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    // A binary column's bytes (the query asked for binary results).
    const char* bytes(int row, int column) const;
    int length(int row, int column) const;

private:
    struct Clear {
        const RvkPgModule* module;
        void operator()(RvkPgResult* result) const { module->clear(result); }
    };
    const RvkPgModule* module() const { return m_result.get_deleter().module; }
    std::unique_ptr<RvkPgResult, Clear> m_result;
};

// One value of a query: text, or bytes sent as binary, or NULL.
struct Param {
    Param() = default;
    Param(std::string value) : text(std::move(value)) {}
    Param(const char* value) : text(std::string(value)) {}
    Param(std::int64_t value) : text(std::to_string(value)) {}
    Param(const char* data, int size) : text(std::string(data, size)), binary(true) {}
    static Param null() {
        Param p;
        p.isNull = true;
        return p;
    }
    std::string text;
    bool binary = false;
    bool isNull = false;
};

// What create() found and did.
enum class Created { made, upgraded, current };

class ServerConnection {
public:
    // Connects with `conninfo`; fails with the server's or libpq's reason, or when the server does
    // not answer within kConnectSeconds. With `seconds`, gives up on the connection and on every
    // query after that many seconds in all. The server's notices go to `reporter`, which must
    // outlive the connection.
    static Expected<ServerConnection> connect(const std::string& conninfo, Reporter& reporter,
                                              int seconds = 0);

    // Runs `sql` with `params` ($1, $2, ...); `binaryResult` asks for the columns as bytes. Fails
    // with the server's message, or when the server does not answer in time; the connection is
    // then given up, and every later query fails at once.
    Expected<QueryResult> query(const std::string& sql, const std::vector<Param>& params = {},
                                bool binaryResult = false);
    // Runs statements without parameters (the schema, BEGIN, COMMIT).
    Expected<void> run(const char* sql);
    // A transaction; rollback() abandons the open one and is harmless without one.
    Expected<void> begin() { return run("BEGIN"); }
    Expected<void> commit() { return run("COMMIT"); }
    void rollback();

    // Makes the shared repository in the connected database when it is missing, or brings an
    // older one up to this rvk's format (the schema, its tables and functions, the group roles
    // rvk_readers, rvk_writers and rvk_admin and the owner rvk_owner), grants the roles their
    // privileges and gives the logins of the groups the server's time limits; running it again
    // changes nothing more. Needs a login of rvk_admin that may create roles.
    Expected<Created> create();
    // Success when the database holds a shared repository of the format this rvk knows.
    Expected<void> checkSchema();

    // The login the connection acts as (the session's role).
    const std::string& role() const { return m_role; }

private:
    struct Finish {
        const RvkPgModule* module;
        void operator()(RvkPgConnection* connection) const { module->finish(connection); }
    };
    ServerConnection(const RvkPgModule* module, RvkPgConnection* connection,
                     std::unique_ptr<Reporter*> notices)
        : m_connection(connection, Finish{module}), m_notices(std::move(notices)) {}
    const RvkPgModule* module() const { return m_connection.get_deleter().module; }
    // The format of the repository in the database; 0 when there is none.
    Expected<std::int64_t> format();

    std::unique_ptr<RvkPgConnection, Finish> m_connection;
    // Where the server's notices go: held apart, so that the module's pointer to it stays valid
    // when the connection moves.
    std::unique_ptr<Reporter*> m_notices;
    std::string m_role;
};

// `items` as a PostgreSQL array of text (a query's "$1::text[]"), each element quoted.
std::string textArray(const std::vector<std::string>& items);

}  // namespace client

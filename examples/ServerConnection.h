// rvk's connection to the server that holds a shared history: a PostgreSQL database, reached
// through libpq with a connection string (or "service=NAME") that holds no password. Every query
// goes through query(), with its values as parameters, never spliced into the text. The tables
// live in the schema "rvk", which create() makes (see ServerConnection.cpp for the tables and the
// privileges of the three group roles).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>

struct pg_conn;
struct pg_result;

namespace host {

// Success when `conninfo` may be kept as a remote: it parses as a libpq connection string or URI
// and names no password. Passwords belong in ~/.pgpass or the service file.
Expected<void> checkConnInfo(const std::string& conninfo);

// The rows a query gave.
class QueryResult {
public:
    explicit QueryResult(pg_result* result);
    friend class ServerConnection;
    int rows() const;
    bool isNull(int row, int column) const;
    std::string text(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    // A binary column's bytes (the query asked for binary results).
    const char* bytes(int row, int column) const;
    int length(int row, int column) const;

private:
    struct Clear {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Clear> m_result;
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

class ServerConnection {
public:
    // Connects with `conninfo`; fails with the server's or libpq's reason.
    static Expected<ServerConnection> connect(const std::string& conninfo);
    // The same, giving up after `seconds` when the server does not answer.
    static Expected<ServerConnection> connect(const std::string& conninfo, int seconds);

    // Runs `sql` with `params` ($1, $2, ...); `binaryResult` asks for the columns as bytes. Fails
    // with the server's message.
    Expected<QueryResult> query(const std::string& sql, const std::vector<Param>& params = {},
                                bool binaryResult = false);
    // Runs statements without parameters (the schema, BEGIN, COMMIT).
    Expected<void> run(const char* sql);
    // A transaction; rollback() abandons the open one and is harmless without one.
    Expected<void> begin() { return run("BEGIN"); }
    Expected<void> commit() { return run("COMMIT"); }
    void rollback();

    // Makes the shared repository in the connected database when it is missing (the schema, its
    // tables, the group roles rvk_writers, rvk_readers and rvk_admin) and grants the roles their
    // privileges; running it again changes nothing. True when it made the tables.
    Expected<bool> create();
    // Success when the database holds a shared repository of the format this rvk knows.
    Expected<void> checkSchema();

    // The role the connection acts as.
    const std::string& role() const { return m_role; }

private:
    struct Finish {
        void operator()(pg_conn* conn) const;
    };
    explicit ServerConnection(pg_conn* conn) : m_conn(conn) {}
    ErrorMessage serverError(const std::string& doing) const;
    // The server's message when `result` is no success.
    boost::optional<ErrorMessage> failure(const QueryResult& result) const;

    std::unique_ptr<pg_conn, Finish> m_conn;
    std::string m_role;
};

}  // namespace host

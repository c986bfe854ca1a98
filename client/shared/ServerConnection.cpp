// The connection to a shared history's server: connecting, queries with their values as
// parameters, and a limit on every wait for the server (the schema is ServerSchema.cpp).
#include <client/shared/ServerConnection.h>

#include <algorithm>

#include <libpq-fe.h>

#include <client/Text.h>
#include <client/shared/SocketWait.h>

namespace client {

namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// Notices and warnings from the server reach the host as notes of the kit's: escaped, on one line,
// never as the server wrote them.
void passNotice(void* reporter, const PGresult* result) {
    const char* severity = PQresultErrorField(result, PG_DIAG_SEVERITY);
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const std::string text = trimmed(primary ? primary : PQresultErrorMessage(result));
    static_cast<Reporter*>(reporter)->note(hostError(
        "server: " + escapeControls(severity ? severity : "NOTICE") + ": " + escapeControls(text)));
}

}  // namespace

Expected<void> checkConnInfo(const std::string& conninfo) {
    char* problem = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &problem);
    if (options == nullptr) {
        std::string reason = problem ? problem : "out of memory";
        PQfreemem(problem);
        return hostError("not a connection string: " + serverText(reason));
    }
    std::string secret, place;
    bool service = false;
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val == nullptr)
            continue;
        const std::string key = o->keyword;
        if (key == "password" || key == "sslpassword")
            secret = key;
        else if (key == "service")
            service = true;
        else if ((key == "host" || key == "hostaddr" || key == "port") && place.empty())
            place = key;
    }
    PQconninfoFree(options);
    if (!secret.empty())
        return hostError("the connection string holds a " + secret +
                         "; keep it in ~/.pgpass or the service file instead, where rvk never "
                         "stores or shows it");
    if (service && !place.empty())
        return hostError("a connection string with service= takes its server from the service "
                         "file, whose password would go to any other: give no host, hostaddr or "
                         "port beside it (it has " + place + ")");
    return {};
}

std::string serverText(const std::string& raw) {
    std::string shown;
    std::size_t start = 0;
    while (start <= raw.size()) {
        std::size_t end = raw.find('\n', start);
        if (end == std::string::npos)
            end = raw.size();
        std::string line = trimmed(raw.substr(start, end - start));
        const std::size_t text = line.find_first_not_of(" \t");
        if (text != std::string::npos) {
            if (!shown.empty())
                shown += "\n  ";
            shown += escapeControls(line.substr(text));
        }
        start = end + 1;
    }
    return shown;
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
    return hostError("server: " + doing + ": " + serverText(PQerrorMessage(m_conn.get())));
}

boost::optional<ErrorMessage> ServerConnection::failure(const QueryResult& result) const {
    pg_result* r = result.m_result.get();
    const auto status = PQresultStatus(r);
    if (r != nullptr && (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK))
        return boost::none;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (primary == nullptr)
        return hostError("server: " + serverText(r ? PQresultErrorMessage(r)
                                                   : PQerrorMessage(m_conn.get())));
    std::string text = primary;
    const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    const std::string code = state ? state : "";
    // The server's own words for its limits name the setting, not what was waited for.
    if (code == "55P03" && text == "canceling statement due to lock timeout")
        text = "another session holds a lock that this needs on the server; gave up after " +
               std::to_string(kLockSeconds) + " s";
    else if (code == "57014" && text == "canceling statement due to statement timeout")
        text = "the server gave up on the query after " + std::to_string(kStatementSeconds) + " s";
    for (const auto field : {PG_DIAG_MESSAGE_DETAIL, PG_DIAG_MESSAGE_HINT}) {
        const char* more = PQresultErrorField(r, field);
        if (more != nullptr)
            text += std::string("\n") + more;
    }
    return hostError("server: " + serverText(text));
}

Expected<ServerConnection> ServerConnection::connect(const std::string& conninfo,
                                                     Reporter& reporter, int seconds) {
    const auto sound = checkConnInfo(conninfo);
    if (!sound.hasValue())
        return sound.error();
    const auto start = Clock::now();
    int connectSeconds = kConnectSeconds;
    if (seconds > 0)
        connectSeconds = std::min(connectSeconds, seconds);
    // The connection string is expanded as "dbname"; the settings after it win over its own. The
    // keepalives find a server that vanished without a word while rvk waits for it.
    const std::string timeout = std::to_string(connectSeconds);
    const char* keys[] = {"dbname",           "connect_timeout",     "keepalives",
                          "keepalives_idle",  "keepalives_interval", "keepalives_count",
                          "tcp_user_timeout", "fallback_application_name", nullptr};
    const char* values[] = {conninfo.c_str(), timeout.c_str(), "1", "10", "5", "3", "30000", "rvk",
                            nullptr};
    ServerConnection connection(PQconnectStartParams(keys, values, 1));
    if (!connection.m_conn)
        return hostError("server: cannot connect: out of memory");
    if (seconds > 0) {
        connection.m_deadline = start + std::chrono::seconds(seconds);
        connection.m_limitSeconds = seconds;
    }
    pg_conn* conn = connection.m_conn.get();
    PQsetNoticeReceiver(conn, passNotice, &reporter);
    if (PQstatus(conn) == CONNECTION_BAD)
        return connection.serverError("cannot connect");
    // libpq's own connect_timeout holds only for a connection it waits for itself: this one is
    // polled, with a deadline of rvk's.
    const auto deadline = start + std::chrono::seconds(connectSeconds);
    for (auto polled = PGRES_POLLING_WRITING; polled != PGRES_POLLING_OK;) {
        if (polled == PGRES_POLLING_FAILED)
            return connection.serverError("cannot connect");
        if (!awaitSocket(PQsocket(conn), polled == PGRES_POLLING_READING,
                         polled == PGRES_POLLING_WRITING, deadline))
            return hostError("server: cannot connect: the server did not answer within " +
                             std::to_string(connectSeconds) + " s");
        polled = PQconnectPoll(conn);
    }
    // Waits go through select/poll with their deadlines; nothing blocks inside libpq.
    if (PQsetnonblocking(conn, 1) != 0)
        return connection.serverError("cannot connect");
    auto session = connection.query(
        "SELECT session_user, set_config('statement_timeout', $1, false), "
        "set_config('lock_timeout', $2, false), "
        "set_config('idle_in_transaction_session_timeout', $3, false)",
        {std::to_string(kStatementSeconds) + "s", std::to_string(kLockSeconds) + "s",
         std::to_string(kIdleInTransactionSeconds) + "s"});
    if (!session.hasValue())
        return session.error();
    connection.m_role = session.value().text(0, 0);
    return connection;
}

ServerConnection::Clock::time_point ServerConnection::queryDeadline() const {
    const auto own = Clock::now() + std::chrono::seconds(kQuerySeconds);
    return m_deadline ? std::min(own, *m_deadline) : own;
}

Expected<QueryResult> ServerConnection::exchange(bool sent) {
    pg_conn* conn = m_conn.get();
    if (!sent)
        return serverError("cannot send the query");
    const auto deadline = queryDeadline();
    // A query the server does not answer in time is given up with its connection: a cancel request
    // would open a connection of its own and wait for it without a limit, and the server's own
    // statement_timeout ends whatever it still runs once the client is gone.
    const auto timedOut = [&]() -> Expected<QueryResult> {
        m_givenUp = true;
        m_conn.reset();
        const int seconds = m_deadline && *m_deadline <= deadline ? m_limitSeconds : kQuerySeconds;
        return hostError("server: the server did not answer within " + std::to_string(seconds) +
                         " s");
    };
    for (;;) {
        const int flushed = PQflush(conn);
        if (flushed < 0)
            return serverError("cannot send the query");
        if (flushed == 0)
            break;
        if (!awaitSocket(PQsocket(conn), true, true, deadline))
            return timedOut();
        if (PQconsumeInput(conn) == 0)
            return serverError("cannot send the query");
    }
    // All the results of the query, keeping the first failure, else the last result.
    QueryResult kept(nullptr);
    bool failed = false;
    for (;;) {
        while (PQisBusy(conn) != 0) {
            if (!awaitSocket(PQsocket(conn), true, false, deadline))
                return timedOut();
            if (PQconsumeInput(conn) == 0)
                return serverError("the connection broke");
        }
        pg_result* next = PQgetResult(conn);
        if (next == nullptr)
            break;
        QueryResult result(next);
        if (failed)
            continue;
        failed = failure(result).has_value();
        kept = std::move(result);
    }
    const auto problem = failure(kept);
    if (problem)
        return *problem;
    return kept;
}

Expected<QueryResult> ServerConnection::query(const std::string& sql,
                                              const std::vector<Param>& params,
                                              bool binaryResult) {
    if (m_givenUp)
        return hostError("server: the connection was given up after the server did not answer");
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
        values.push_back(p.isNull ? nullptr : p.text.data());
        lengths.push_back(static_cast<int>(p.text.size()));
        formats.push_back(p.binary ? 1 : 0);
    }
    return exchange(PQsendQueryParams(m_conn.get(), sql.c_str(), static_cast<int>(params.size()),
                                      nullptr, values.data(), lengths.data(), formats.data(),
                                      binaryResult ? 1 : 0) != 0);
}

Expected<void> ServerConnection::run(const char* sql) {
    if (m_givenUp)
        return hostError("server: the connection was given up after the server did not answer");
    auto done = exchange(PQsendQuery(m_conn.get(), sql) != 0);
    if (!done.hasValue())
        return done.error();
    return {};
}

void ServerConnection::rollback() {
    if (m_conn && !m_givenUp && PQtransactionStatus(m_conn.get()) != PQTRANS_IDLE)
        static_cast<void>(run("ROLLBACK"));  // a transaction that fails to end is abandoned
}

}  // namespace client

// The kit's PostgreSQL part (ServerModule.h): libpq, with a deadline on every wait. It connects
// and queries through libpq's asynchronous calls and waits on the socket itself, so that nothing
// blocks inside libpq, and it gives a query up with its connection when the server does not answer
// in time: a cancel request would open a connection of its own and wait for it without a limit,
// and the server's own statement_timeout ends whatever it still runs once the client is gone.
#include <client/shared/ServerModule.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <libpq-fe.h>

#include <client/postgres/SocketWait.h>

#if defined(_WIN32)
#define RVK_PG_EXPORT __declspec(dllexport)
#else
#define RVK_PG_EXPORT __attribute__((visibility("default")))
#endif

struct RvkPgConnection {
    PGconn* conn = nullptr;
    RvkPgNotice notice = nullptr;
    void* context = nullptr;
    std::optional<client::postgres::Clock::time_point> deadline;  // of the whole connection
    int limitSeconds = 0;  // the whole connection's limit, for messages
    bool givenUp = false;
};

struct RvkPgResult {
    PGresult* result = nullptr;
};

namespace client::postgres {

namespace {

using std::chrono::seconds;

// A text for the kit, released with freeText().
char* made(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

int failed(char** failure, const std::string& text) {
    *failure = made(text);
    return 1;
}

void passNotice(void* connection, const PGresult* result) {
    const auto* c = static_cast<RvkPgConnection*>(connection);
    const char* severity = PQresultErrorField(result, PG_DIAG_SEVERITY);
    const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    c->notice(c->context, severity ? severity : "NOTICE",
              primary ? primary : PQresultErrorMessage(result));
}

std::string connectionError(const RvkPgConnection* c, const char* doing) {
    return std::string(doing) + ": " + PQerrorMessage(c->conn);
}

// The server's words when `result` is no success, with the detail and hint after them.
std::optional<std::string> resultFailure(const RvkPgConnection* c, const PGresult* r) {
    const auto status = PQresultStatus(r);
    if (r != nullptr && (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK))
        return std::nullopt;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (primary == nullptr)
        return std::string(r ? PQresultErrorMessage(r) : PQerrorMessage(c->conn));
    std::string text = primary;
    const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    const std::string code = state ? state : "";
    // The server's own words for its limits name the setting, not what was waited for.
    if (code == "55P03" && text == "canceling statement due to lock timeout")
        text = "another session holds a lock that this needs on the server; gave up after " +
               std::to_string(RVK_PG_LOCK_SECONDS) + " s";
    else if (code == "57014" && text == "canceling statement due to statement timeout")
        text = "the server gave up on the query after " + std::to_string(RVK_PG_STATEMENT_SECONDS) +
               " s";
    for (const auto field : {PG_DIAG_MESSAGE_DETAIL, PG_DIAG_MESSAGE_HINT}) {
        const char* more = PQresultErrorField(r, field);
        if (more != nullptr)
            text += std::string("\n") + more;
    }
    return text;
}

Clock::time_point queryDeadline(const RvkPgConnection* c) {
    const auto own = Clock::now() + seconds(RVK_PG_QUERY_SECONDS);
    return c->deadline ? std::min(own, *c->deadline) : own;
}

// Sends what was queued (`sent`: whether queuing worked) and waits for all its results until the
// query's deadline, keeping the first failure, else the last result.
int exchange(RvkPgConnection* c, bool sent, RvkPgResult** out, char** failure) {
    PGconn* conn = c->conn;
    if (!sent)
        return failed(failure, connectionError(c, "cannot send the query"));
    const auto deadline = queryDeadline(c);
    const auto timedOut = [&] {
        c->givenUp = true;
        PQfinish(c->conn);
        c->conn = nullptr;
        const int limit =
            c->deadline && *c->deadline <= deadline ? c->limitSeconds : RVK_PG_QUERY_SECONDS;
        return failed(failure, "the server did not answer within " + std::to_string(limit) + " s");
    };
    for (;;) {
        const int flushed = PQflush(conn);
        if (flushed < 0)
            return failed(failure, connectionError(c, "cannot send the query"));
        if (flushed == 0)
            break;
        if (!awaitSocket(PQsocket(conn), true, true, deadline))
            return timedOut();
        if (PQconsumeInput(conn) == 0)
            return failed(failure, connectionError(c, "cannot send the query"));
    }
    PGresult* kept = nullptr;
    bool bad = false;
    for (;;) {
        while (PQisBusy(conn) != 0) {
            if (!awaitSocket(PQsocket(conn), true, false, deadline)) {
                PQclear(kept);
                return timedOut();
            }
            if (PQconsumeInput(conn) == 0) {
                PQclear(kept);
                return failed(failure, connectionError(c, "the connection broke"));
            }
        }
        PGresult* next = PQgetResult(conn);
        if (next == nullptr)
            break;
        if (bad) {
            PQclear(next);
            continue;
        }
        bad = resultFailure(c, next).has_value();
        PQclear(kept);
        kept = next;
    }
    if (const auto problem = resultFailure(c, kept)) {
        PQclear(kept);
        return failed(failure, *problem);
    }
    if (out == nullptr) {
        PQclear(kept);
        return 0;
    }
    *out = new (std::nothrow) RvkPgResult{kept};
    if (*out == nullptr) {
        PQclear(kept);
        return failed(failure, "out of memory");
    }
    return 0;
}

int givenUp(char** failure) {
    return failed(failure, "the connection was given up after the server did not answer");
}

int parseConnInfo(const char* conninfo, RvkPgKeyword each, void* context, char** failure) {
    char* problem = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo, &problem);
    if (options == nullptr) {
        const std::string reason = problem ? problem : "out of memory";
        PQfreemem(problem);
        return failed(failure, reason);
    }
    for (const PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val != nullptr)
            each(context, o->keyword);
    }
    PQconninfoFree(options);
    return 0;
}

void finish(RvkPgConnection* c) {
    if (c == nullptr)
        return;
    PQfinish(c->conn);
    delete c;
}

RvkPgConnection* connect(const char* conninfo, int limit, RvkPgNotice notice, void* context,
                         char** failure) {
    const auto start = Clock::now();
    const int connectSeconds = limit > 0 ? std::min<int>(RVK_PG_CONNECT_SECONDS, limit)
                                         : RVK_PG_CONNECT_SECONDS;
    // The connection string is expanded as "dbname"; the settings after it win over its own. The
    // keepalives find a server that vanished without a word while the kit waits for it.
    const std::string timeout = std::to_string(connectSeconds);
    const char* keys[] = {"dbname",           "connect_timeout",     "keepalives",
                          "keepalives_idle",  "keepalives_interval", "keepalives_count",
                          "tcp_user_timeout", "fallback_application_name", nullptr};
    const char* values[] = {conninfo, timeout.c_str(), "1", "10", "5", "3", "30000", "rvk",
                            nullptr};
    auto* c = new (std::nothrow) RvkPgConnection;
    if (c == nullptr) {
        failed(failure, "cannot connect: out of memory");
        return nullptr;
    }
    c->notice = notice;
    c->context = context;
    c->conn = PQconnectStartParams(keys, values, 1);
    const auto refuse = [&](const std::string& why) -> RvkPgConnection* {
        failed(failure, why);
        finish(c);
        return nullptr;
    };
    if (c->conn == nullptr)
        return refuse("cannot connect: out of memory");
    if (limit > 0) {
        c->deadline = start + seconds(limit);
        c->limitSeconds = limit;
    }
    PQsetNoticeReceiver(c->conn, passNotice, c);
    if (PQstatus(c->conn) == CONNECTION_BAD)
        return refuse(connectionError(c, "cannot connect"));
    // libpq's own connect_timeout holds only for a connection it waits for itself: this one is
    // polled, with a deadline of the kit's.
    const auto deadline = start + seconds(connectSeconds);
    for (auto polled = PGRES_POLLING_WRITING; polled != PGRES_POLLING_OK;) {
        if (polled == PGRES_POLLING_FAILED)
            return refuse(connectionError(c, "cannot connect"));
        if (!awaitSocket(PQsocket(c->conn), polled == PGRES_POLLING_READING,
                         polled == PGRES_POLLING_WRITING, deadline))
            return refuse("cannot connect: the server did not answer within " +
                          std::to_string(connectSeconds) + " s");
        polled = PQconnectPoll(c->conn);
    }
    // Waits go through select/poll with their deadlines; nothing blocks inside libpq.
    if (PQsetnonblocking(c->conn, 1) != 0)
        return refuse(connectionError(c, "cannot connect"));
    return c;
}

int query(RvkPgConnection* c, const char* sql, int count, const char* const* values,
          const int* lengths, const int* binary, int binaryResult, RvkPgResult** result,
          char** failure) {
    if (c->givenUp)
        return givenUp(failure);
    return exchange(c,
                    PQsendQueryParams(c->conn, sql, count, nullptr, values, lengths, binary,
                                      binaryResult) != 0,
                    result, failure);
}

int run(RvkPgConnection* c, const char* sql, char** failure) {
    if (c->givenUp)
        return givenUp(failure);
    return exchange(c, PQsendQuery(c->conn, sql) != 0, nullptr, failure);
}

void rollback(RvkPgConnection* c) {
    if (c == nullptr || c->givenUp || PQtransactionStatus(c->conn) == PQTRANS_IDLE)
        return;
    char* failure = nullptr;
    // A transaction that fails to end is abandoned.
    if (run(c, "ROLLBACK", &failure) != 0)
        std::free(failure);
}

int rows(const RvkPgResult* r) {
    return PQntuples(r->result);
}

int isNull(const RvkPgResult* r, int row, int column) {
    return PQgetisnull(r->result, row, column);
}

const char* value(const RvkPgResult* r, int row, int column, int* length) {
    *length = PQgetlength(r->result, row, column);
    return PQgetvalue(r->result, row, column);
}

void clear(RvkPgResult* r) {
    if (r == nullptr)
        return;
    PQclear(r->result);
    delete r;
}

void freeText(char* text) {
    std::free(text);
}

}  // namespace

}  // namespace client::postgres

extern "C" RVK_PG_EXPORT const RvkPgModule* rvkPgModule() {
    namespace pg = client::postgres;
    static const RvkPgModule kModule = {
        RVK_PG_MODULE_VERSION, pg::parseConnInfo, pg::connect, pg::finish,  pg::query,
        pg::run,               pg::rollback,      pg::rows,    pg::isNull, pg::value,
        pg::clear,             pg::freeText,
    };
    return &kModule;
}

// The connection to a shared history's server over the kit's PostgreSQL part: connecting, queries
// with their values as parameters, the session's limits (the schema is ServerSchema.cpp).
#include <client/shared/ServerConnection.h>

#include <cstdlib>

#include <client/Text.h>

namespace client {

namespace {

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

// Notices and warnings from the server reach the host as notes of the kit's: escaped, on one line,
// never as the server wrote them.
void passNotice(void* context, const char* severity, const char* message) {
    Reporter* reporter = *static_cast<Reporter**>(context);
    reporter->note(hostError("server: " + escapeControls(severity) + ": " +
                             escapeControls(trimmed(message))));
}

// The module's text of a failure, released, as the kit shows it after `prefix`.
ErrorMessage failureOf(const RvkPgModule* module, char* failure, const char* prefix = "server: ") {
    const std::string raw = failure != nullptr ? failure : "out of memory";
    module->freeText(failure);
    return hostError(prefix + serverText(raw));
}

}  // namespace

Expected<void> checkConnInfo(const std::string& conninfo) {
    const auto module = serverModule();
    if (!module.hasValue())
        return module.error();
    struct Found {
        std::string secret, place;
        bool service = false;
    } found;
    char* failure = nullptr;
    const auto each = [](void* context, const char* keyword) {
        auto& f = *static_cast<Found*>(context);
        const std::string key = keyword;
        if (key == "password" || key == "sslpassword")
            f.secret = key;
        else if (key == "service")
            f.service = true;
        else if ((key == "host" || key == "hostaddr" || key == "port") && f.place.empty())
            f.place = key;
    };
    if (module.value()->parseConnInfo(conninfo.c_str(), each, &found, &failure) != 0)
        return failureOf(module.value(), failure, "not a connection string: ");
    if (!found.secret.empty())
        return hostError("the connection string holds a " + found.secret +
                         "; keep it in ~/.pgpass or the service file instead, where rvk never "
                         "stores or shows it");
    if (found.service && !found.place.empty())
        return hostError("a connection string with service= takes its server from the service "
                         "file, whose password would go to any other: give no host, hostaddr or "
                         "port beside it (it has " + found.place + ")");
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

int QueryResult::rows() const {
    return module()->rows(m_result.get());
}

bool QueryResult::isNull(int row, int column) const {
    return module()->isNull(m_result.get(), row, column) != 0;
}

std::string QueryResult::text(int row, int column) const {
    int size = 0;
    const char* data = module()->value(m_result.get(), row, column, &size);
    return std::string(data, static_cast<std::size_t>(size));
}

std::int64_t QueryResult::integer(int row, int column) const {
    return std::stoll(text(row, column));
}

const char* QueryResult::bytes(int row, int column) const {
    int size = 0;
    return module()->value(m_result.get(), row, column, &size);
}

int QueryResult::length(int row, int column) const {
    int size = 0;
    module()->value(m_result.get(), row, column, &size);
    return size;
}

Expected<ServerConnection> ServerConnection::connect(const std::string& conninfo,
                                                     Reporter& reporter, int seconds) {
    const auto sound = checkConnInfo(conninfo);
    if (!sound.hasValue())
        return sound.error();
    const RvkPgModule* module = serverModule().value();
    auto notices = std::make_unique<Reporter*>(&reporter);
    char* failure = nullptr;
    RvkPgConnection* made =
        module->connect(conninfo.c_str(), seconds, passNotice, notices.get(), &failure);
    if (made == nullptr)
        return failureOf(module, failure);
    ServerConnection connection(module, made, std::move(notices));
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

Expected<QueryResult> ServerConnection::query(const std::string& sql,
                                              const std::vector<Param>& params,
                                              bool binaryResult) {
    std::vector<const char*> values;
    std::vector<int> lengths, binary;
    for (const Param& p : params) {
        values.push_back(p.isNull ? nullptr : p.text.data());
        lengths.push_back(static_cast<int>(p.text.size()));
        binary.push_back(p.binary ? 1 : 0);
    }
    RvkPgResult* result = nullptr;
    char* failure = nullptr;
    if (module()->query(m_connection.get(), sql.c_str(), static_cast<int>(params.size()),
                        values.data(), lengths.data(), binary.data(), binaryResult ? 1 : 0,
                        &result, &failure) != 0)
        return failureOf(module(), failure);
    return QueryResult(module(), result);
}

Expected<void> ServerConnection::run(const char* sql) {
    char* failure = nullptr;
    if (module()->run(m_connection.get(), sql, &failure) != 0)
        return failureOf(module(), failure);
    return {};
}

void ServerConnection::rollback() {
    module()->rollback(m_connection.get());
}

std::string textArray(const std::vector<std::string>& items) {
    std::string literal = "{";
    for (const std::string& item : items) {
        if (literal.size() > 1)
            literal += ',';
        literal += '"';
        for (const char c : item) {
            if (c == '"' || c == '\\')
                literal += '\\';
            literal += c;
        }
        literal += '"';
    }
    return literal + "}";
}

}  // namespace client

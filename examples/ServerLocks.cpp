#include "ServerLocks.h"

#include "ServerConnection.h"

namespace host {

namespace {

constexpr const char* kTaken = "to_char(taken AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";

std::vector<LockRecord> records(const QueryResult& rows) {
    std::vector<LockRecord> found;
    for (int i = 0; i < rows.rows(); ++i)
        found.push_back(LockRecord{rows.text(i, 0), rows.text(i, 1), rows.text(i, 2)});
    return found;
}

}  // namespace

Expected<std::vector<LockRecord>> allLocks(ServerConnection& server) {
    auto rows = server.query(std::string("SELECT path, holder, ") + kTaken +
                             " FROM rvk.locks ORDER BY convert_to(path, 'UTF8')");
    if (!rows.hasValue())
        return rows.error();
    return records(rows.value());
}

Expected<std::vector<LockRecord>> locksOfOthers(ServerConnection& server,
                                                const std::vector<std::string>& paths) {
    std::vector<LockRecord> found;
    for (const std::string& path : paths) {
        auto rows = server.query(std::string("SELECT path, holder, ") + kTaken +
                                     " FROM rvk.locks WHERE path = $1 AND holder <> current_user",
                                 {path});
        if (!rows.hasValue())
            return rows.error();
        for (LockRecord& r : records(rows.value()))
            found.push_back(std::move(r));
    }
    return found;
}

Expected<LockRecord> takeLock(ServerConnection& server, const std::string& path) {
    auto taken = server.query("INSERT INTO rvk.locks (path) VALUES ($1) ON CONFLICT DO NOTHING",
                              {path});
    if (!taken.hasValue())
        return taken.error();
    auto rows = server.query(
        std::string("SELECT path, holder, ") + kTaken + " FROM rvk.locks WHERE path = $1", {path});
    if (!rows.hasValue())
        return rows.error();
    auto found = records(rows.value());
    if (found.empty())
        return LockRecord{path, server.role(), ""};  // released again at once by its holder
    return found.front();
}

Expected<boost::optional<LockRecord>> releaseLock(ServerConnection& server,
                                                  const std::string& path, bool force) {
    auto gone = server.query(
        "DELETE FROM rvk.locks WHERE path = $1 AND (holder = current_user OR $2) RETURNING path",
        {path, force ? "true" : "false"});
    if (!gone.hasValue())
        return gone.error();
    if (gone.value().rows() > 0)
        return boost::optional<LockRecord>();
    auto rows = server.query(
        std::string("SELECT path, holder, ") + kTaken + " FROM rvk.locks WHERE path = $1", {path});
    if (!rows.hasValue())
        return rows.error();
    auto found = records(rows.value());
    return boost::optional<LockRecord>(found.empty() ? LockRecord{path, "", ""} : found.front());
}

}  // namespace host

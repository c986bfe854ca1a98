#include <client/shared/ServerLocks.h>

#include <client/Text.h>
#include <client/shared/ServerConnection.h>

namespace client {

namespace {

// A lock's columns, each bounded on the server: a holder is a role's name (63 bytes at most) and a
// path no longer than a commit may change; a longer value, which only a hand-edited row can hold,
// comes as NULL and is refused.
constexpr const char* kColumns =
    "CASE WHEN octet_length(path) <= 1024 THEN path END, "
    "CASE WHEN octet_length(holder) <= 128 THEN holder END, "
    "to_char(taken AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";

Expected<std::vector<LockRecord>> records(const QueryResult& rows) {
    std::vector<LockRecord> found;
    for (int i = 0; i < rows.rows(); ++i) {
        if (rows.isNull(i, 0) || rows.isNull(i, 1))
            return hostError("the server holds a lock with a path or a holder longer than any may be");
        found.push_back(LockRecord{rows.text(i, 0), rows.text(i, 1), rows.text(i, 2)});
    }
    return found;
}

}  // namespace

Expected<std::vector<LockRecord>> allLocks(ServerConnection& server) {
    auto rows = server.query(std::string("SELECT ") + kColumns +
                             " FROM rvk.locks ORDER BY convert_to(path, 'UTF8')");
    if (!rows.hasValue())
        return rows.error();
    return records(rows.value());
}

Expected<std::vector<LockRecord>> locksOfOthers(ServerConnection& server,
                                                const std::vector<std::string>& paths) {
    std::vector<LockRecord> found;
    for (const std::string& path : paths) {
        auto rows = server.query(std::string("SELECT ") + kColumns +
                                     " FROM rvk.locks WHERE path = $1 AND holder <> session_user",
                                 {path});
        if (!rows.hasValue())
            return rows.error();
        auto held = records(rows.value());
        if (!held.hasValue())
            return held.error();
        for (LockRecord& r : held.value())
            found.push_back(std::move(r));
    }
    return found;
}


Expected<std::vector<LockStanding>> lockStandings(ServerConnection& server,
                                                  const std::vector<std::string>& paths) {
    auto rows = server.query(
        "SELECT p, rvk.is_lockable(p), "
        "       (SELECT CASE WHEN octet_length(holder) <= 128 THEN holder ELSE '?' END "
        "        FROM rvk.locks l WHERE l.path = p) "
        "FROM unnest($1::text[]) AS p",
        {textArray(paths)});
    if (!rows.hasValue())
        return rows.error();
    std::vector<LockStanding> found;
    const QueryResult& r = rows.value();
    for (int i = 0; i < r.rows(); ++i)
        found.push_back(LockStanding{r.text(i, 0), r.text(i, 1) == "t",
                                     r.isNull(i, 2) ? std::string() : r.text(i, 2)});
    return found;
}

Expected<LockRecord> takeLock(ServerConnection& server, const std::string& path) {
    auto rows = server.query(
        "SELECT CASE WHEN octet_length(lock_holder) <= 128 THEN lock_holder END, lock_taken "
        "FROM rvk.take_lock($1)",
        {path});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    if (r.rows() == 0)
        return LockRecord{path, server.role(), ""};  // released again at once by its holder
    if (r.isNull(0, 0))
        return hostError("the server holds a lock with a holder longer than any may be");
    return LockRecord{path, r.text(0, 0), r.text(0, 1)};
}

Expected<boost::optional<LockRecord>> releaseLock(ServerConnection& server,
                                                  const std::string& path, bool force) {
    auto rows = server.query(
        "SELECT released, CASE WHEN octet_length(lock_holder) <= 128 THEN lock_holder END, "
        "       lock_taken "
        "FROM rvk.release_lock($1, $2)",
        {path, force ? "true" : "false"});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    if (r.rows() == 0)
        return boost::optional<LockRecord>(LockRecord{path, "", ""});
    if (r.text(0, 0) == "t")
        return boost::optional<LockRecord>();
    if (r.isNull(0, 1))
        return hostError("the server holds a lock with a holder longer than any may be");
    return boost::optional<LockRecord>(LockRecord{path, r.text(0, 1), r.text(0, 2)});
}

}  // namespace client

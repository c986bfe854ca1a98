// The part of rvk.db that only clones of a shared history use: the table "remote", a setting a
// row. Made when first written, so a repository that never shares stays as it was.
#include <sqlite3.h>

#include <client/shared/RemoteSettings.h>

#include <client/Text.h>
#include <client/store/Database.h>
#include <client/SharedState.h>
#include <client/base/Repository.h>

namespace client {

namespace {

constexpr const char* kRemoteTable =
    "CREATE TABLE IF NOT EXISTS remote (key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID";

struct Finalize {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, Finalize>;

Stmt prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK)
        return nullptr;
    return Stmt(raw);
}

}  // namespace

Expected<boost::optional<std::string>> Database::remoteSetting(const char* key) {
    Stmt table = prepare(m_db.get(), "SELECT count(*) FROM sqlite_master WHERE name = 'remote'");
    if (!table || sqlite3_step(table.get()) != SQLITE_ROW)
        return sqliteError();
    if (sqlite3_column_int(table.get(), 0) == 0)
        return boost::optional<std::string>();
    Stmt select = prepare(m_db.get(), "SELECT value FROM remote WHERE key = ?1");
    if (!select)
        return sqliteError();
    sqlite3_bind_text(select.get(), 1, key, -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(select.get());
    if (rc == SQLITE_DONE)
        return boost::optional<std::string>();
    if (rc != SQLITE_ROW)
        return sqliteError();
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
    return boost::optional<std::string>(
        std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(select.get(), 0))));
}

Expected<void> Database::setRemoteSetting(const char* key,
                                          const boost::optional<std::string>& value) {
    auto made = exec(kRemoteTable);
    if (!made.hasValue())
        return made;
    Stmt change = prepare(m_db.get(), value ? "INSERT OR REPLACE INTO remote (key, value) VALUES (?1, ?2)"
                                            : "DELETE FROM remote WHERE key = ?1");
    if (!change)
        return sqliteError();
    sqlite3_bind_text(change.get(), 1, key, -1, SQLITE_TRANSIENT);
    if (value)
        sqlite3_bind_text(change.get(), 2, value->data(), static_cast<int>(value->size()),
                          SQLITE_TRANSIENT);
    if (sqlite3_step(change.get()) != SQLITE_DONE)
        return sqliteError();
    return {};
}

Expected<void> Database::deleteCommitsAfter(std::uint64_t id) {
    for (const char* sql : {"DELETE FROM commit_files WHERE commit_id > ?1",
                            "DELETE FROM commits WHERE id > ?1"}) {
        Stmt remove = prepare(m_db.get(), sql);
        if (!remove)
            return sqliteError();
        sqlite3_bind_int64(remove.get(), 1, static_cast<sqlite3_int64>(id));
        if (sqlite3_step(remove.get()) != SQLITE_DONE)
            return sqliteError();
    }
    return {};
}

Expected<void> Database::setAuthors(std::uint64_t first, std::uint64_t last,
                                    const OdString& author) {
    Stmt change = prepare(m_db.get(), "UPDATE commits SET author = ?1 WHERE id BETWEEN ?2 AND ?3");
    if (!change)
        return sqliteError();
    const std::string text = utf8(author);
    sqlite3_bind_text(change.get(), 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(change.get(), 2, static_cast<sqlite3_int64>(first));
    sqlite3_bind_int64(change.get(), 3, static_cast<sqlite3_int64>(last));
    if (sqlite3_step(change.get()) != SQLITE_DONE)
        return sqliteError();
    return {};
}

Expected<void> checkNoCutOffPull(Database& db) {
    const auto pending = db.remoteSetting(kPendingKey);
    if (!pending.hasValue())
        return pending.error();
    if (pending.value())
        return hostError("a pull was cut off before it was complete: run rvk pull to complete it");
    return {};
}

Expected<SharingState> sharingState(const Session& session) {
    const auto place = findRoot(session);
    if (!place.hasValue())
        return place.error();
    auto db = Database::open(place.value().root.dbPath());
    if (!db.hasValue())
        return db.error();
    SharingState state;
    state.pullCutOff = !checkNoCutOffPull(db.value()).hasValue();
    const auto conninfo = db.value().remoteSetting(kRemoteKey);
    if (!conninfo.hasValue())
        return conninfo.error();
    state.remote = conninfo.value();
    return state;
}

}  // namespace client

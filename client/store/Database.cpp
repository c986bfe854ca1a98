#include <client/store/Database.h>

#include <sqlite3.h>

#include <string>
#include <utility>

#include <platform/FileName.h>

#include <client/Text.h>
#include <client/store/HostStorage.h>

namespace client {

namespace {

// Raised into user_version when the tables are made: a database without it is not one of ours.
constexpr int kSchemaVersion = 3;

// The first format: commits and the files each one tracks.
constexpr const char* kCommitTables = R"sql(
CREATE TABLE commits (
    id      INTEGER PRIMARY KEY CHECK (id > 0),
    message TEXT    NOT NULL,
    time    INTEGER NOT NULL,
    parent  INTEGER REFERENCES commits (id) CHECK (parent IS NULL OR parent < id)
);
CREATE TABLE commit_files (
    commit_id INTEGER NOT NULL REFERENCES commits (id),
    path      TEXT    NOT NULL,
    url       TEXT    NOT NULL,
    PRIMARY KEY (commit_id, path)
) WITHOUT ROWID;
)sql";

// What the second format adds: the size and digest of every stored copy.
constexpr const char* kCopiesTable = R"sql(
CREATE TABLE copies (
    url    TEXT    PRIMARY KEY,
    size   INTEGER NOT NULL CHECK (size >= 0),
    sha256 TEXT    NOT NULL
) WITHOUT ROWID;
PRAGMA user_version = 2;
)sql";

// What the third format adds: who made each commit. Commits recorded before it have no author.
constexpr const char* kAuthorColumn = R"sql(
ALTER TABLE commits ADD COLUMN author TEXT NOT NULL DEFAULT '';
PRAGMA user_version = 3;
)sql";

// One prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    void bind(int index, std::int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
    void bind(int index, const OdString& text) {
        // SQLITE_TRANSIENT: SQLite copies the bytes, so the narrow buffer may go away.
        sqlite3_bind_text(m_stmt, index, text.ansi_str(), static_cast<int>(text.ansiLength()),
                          SQLITE_TRANSIENT);
    }
    void bindNull(int index) { sqlite3_bind_null(m_stmt, index); }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }
    void reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    std::int64_t integer(int column) { return sqlite3_column_int64(m_stmt, column); }
    bool isNull(int column) { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    OdString text(int column) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column));
        return bytes ? OdString(bytes, size, kCodePageUtf8) : OdString();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

ErrorMessage unknownCommit(std::uint64_t id) {
    return hostError("the database holds no commit " + std::to_string(id) +
                     ", which the state names; the state and the database disagree");
}

}  // namespace

void Database::Closer::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

Database::Database(std::unique_ptr<sqlite3, Closer> db, const OdString& path)
    : m_db(std::move(db)), m_path(path) {}

Database::Database(Database&& other) noexcept
    : m_db(std::move(other.m_db)),
      m_path(std::move(other.m_path)),
      m_inTransaction(other.m_inTransaction) {
    other.m_inTransaction = false;
}

Database::~Database() {
    rollback();
}

ErrorMessage Database::sqliteError() const {
    return hostError("database " + quoteName(utf8(m_path)) + ": " + sqlite3_errmsg(m_db.get()));
}

Expected<void> Database::exec(const char* sql) {
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return sqliteError();
    return {};
}

Expected<Database> Database::openWith(const OdString& path, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.ansi_str(), &raw, flags, nullptr);
    std::unique_ptr<sqlite3, Closer> handle(raw);
    if (rc != SQLITE_OK) {
        return hostError("database " + quoteName(utf8(path)) + ": " +
                         (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    Database db(std::move(handle), path);
    // Another rvk process may hold the write lock for the length of a commit.
    sqlite3_busy_timeout(db.m_db.get(), 5000);
    const auto keys = db.exec("PRAGMA foreign_keys = ON");
    if (!keys.hasValue())
        return keys.error();
    return db;
}

Expected<Database> Database::create(const OdString& path) {
    auto opened = openWith(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!opened.hasValue())
        return opened;
    Database& db = opened.value();
    Statement probe(db.m_db.get(),
                    "SELECT (SELECT user_version FROM pragma_user_version), "
                    "(SELECT count(*) FROM sqlite_master)");
    if (!probe.ok() || probe.step() != SQLITE_ROW)
        return db.sqliteError();
    const std::int64_t version = probe.integer(0);
    const std::int64_t objects = probe.integer(1);
    if (version == kSchemaVersion)
        return opened;
    if (version > 0 && version < kSchemaVersion) {
        const auto upgraded = db.upgrade(version);
        if (!upgraded.hasValue())
            return upgraded.error();
        return opened;
    }
    if (version != 0 || objects != 0)
        return hostError(quoteName(utf8(path)) + " is not a rvk database");
    auto begun = db.begin();
    if (!begun.hasValue())
        return begun.error();
    for (const char* sql : {kCommitTables, kCopiesTable, kAuthorColumn}) {
        auto made = db.exec(sql);
        if (!made.hasValue())
            return made.error();
    }
    auto done = db.commit();
    if (!done.hasValue())
        return done.error();
    return opened;
}

Expected<Database> Database::open(const OdString& path) {
    if (!ut::FileName(path).exists(ut::FileName::kRegularFile))
        return hostError("no database found at " + utf8(path));
    auto opened = openWith(path, SQLITE_OPEN_READWRITE);
    if (!opened.hasValue())
        return opened;
    Database& db = opened.value();
    Statement probe(db.m_db.get(), "PRAGMA user_version");
    if (!probe.ok() || probe.step() != SQLITE_ROW)
        return db.sqliteError();
    const std::int64_t version = probe.integer(0);
    if (version > 0 && version < kSchemaVersion) {
        const auto upgraded = db.upgrade(version);
        if (!upgraded.hasValue())
            return upgraded.error();
    } else if (version != kSchemaVersion) {
        return hostError(quoteName(utf8(path)) + " is not a rvk database");
    }
    return opened;
}

Expected<void> Database::upgrade(std::int64_t version) {
    auto begun = begin();
    if (!begun.hasValue())
        return begun;
    // Another command may have upgraded it between the look and the write lock.
    Statement again(m_db.get(), "PRAGMA user_version");
    if (!again.ok() || again.step() != SQLITE_ROW)
        return sqliteError();
    version = again.integer(0);
    const char* steps[] = {kCopiesTable, kAuthorColumn};
    for (; version >= 1 && version < kSchemaVersion; ++version) {
        const auto made = exec(steps[version - 1]);
        if (!made.hasValue())
            return made;
    }
    return commit();
}

Expected<TrackedFiles> Database::trackedFiles(boost::optional<std::uint64_t> commit) {
    TrackedFiles files;
    if (!commit)
        return files;
    Statement exists(m_db.get(), "SELECT 1 FROM commits WHERE id = ?1");
    if (!exists.ok())
        return sqliteError();
    exists.bind(1, static_cast<std::int64_t>(*commit));
    const int found = exists.step();
    if (found == SQLITE_DONE)
        return unknownCommit(*commit);
    if (found != SQLITE_ROW)
        return sqliteError();

    Statement rows(m_db.get(), "SELECT path, url FROM commit_files WHERE commit_id = ?1");
    if (!rows.ok())
        return sqliteError();
    rows.bind(1, static_cast<std::int64_t>(*commit));
    int rc;
    // The rows come in the order of the primary key, which is almost always the map's: each is
    // then placed at the end without a search.
    while ((rc = rows.step()) == SQLITE_ROW)
        files.emplace_hint(files.end(), rows.text(0), rows.text(1));
    if (rc != SQLITE_DONE)
        return sqliteError();
    return files;
}

Expected<std::vector<CommitRecord>> Database::history(boost::optional<std::uint64_t> head) {
    std::vector<CommitRecord> commits;
    Statement row(m_db.get(),
                  "SELECT message, time, parent, "
                  "(SELECT count(*) FROM commit_files WHERE commit_id = commits.id), author "
                  "FROM commits WHERE id = ?1");
    if (!row.ok())
        return sqliteError();
    for (auto next = head; next; row.reset()) {
        row.bind(1, static_cast<std::int64_t>(*next));
        const int rc = row.step();
        if (rc == SQLITE_DONE)
            return unknownCommit(*next);
        if (rc != SQLITE_ROW)
            return sqliteError();
        CommitRecord record;
        record.id = *next;
        record.message = row.text(0);
        record.time = row.integer(1);
        if (!row.isNull(2)) {
            const std::int64_t parent = row.integer(2);
            // Each step must go back in time, or a chain edited into a loop would never end.
            if (parent <= 0 || static_cast<std::uint64_t>(parent) >= record.id)
                return hostError("database " + quoteName(utf8(m_path)) + " is damaged: commit " +
                                 std::to_string(record.id) + " names " + std::to_string(parent) +
                                 " as its parent, which is not an older commit");
            record.parent = static_cast<std::uint64_t>(parent);
        }
        record.fileCount = static_cast<std::size_t>(row.integer(3));
        record.author = row.text(4);
        next = record.parent;
        commits.push_back(std::move(record));
    }
    return commits;
}

Expected<boost::optional<std::uint64_t>> Database::newestCommit() {
    Statement max(m_db.get(), "SELECT max(id) FROM commits");
    if (!max.ok() || max.step() != SQLITE_ROW)
        return sqliteError();
    if (max.isNull(0))
        return boost::optional<std::uint64_t>();
    return boost::optional<std::uint64_t>(static_cast<std::uint64_t>(max.integer(0)));
}

Expected<bool> Database::hasCommit(std::uint64_t id) {
    Statement exists(m_db.get(), "SELECT 1 FROM commits WHERE id = ?1");
    if (!exists.ok())
        return sqliteError();
    exists.bind(1, static_cast<std::int64_t>(id));
    const int rc = exists.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return sqliteError();
    return rc == SQLITE_ROW;
}

Expected<boost::optional<OdString>> Database::urlOf(std::uint64_t commit, const OdString& path) {
    Statement row(m_db.get(), "SELECT url FROM commit_files WHERE commit_id = ?1 AND path = ?2");
    if (!row.ok())
        return sqliteError();
    row.bind(1, static_cast<std::int64_t>(commit));
    row.bind(2, path);
    const int rc = row.step();
    if (rc == SQLITE_DONE)
        return boost::optional<OdString>();
    if (rc != SQLITE_ROW)
        return sqliteError();
    return boost::optional<OdString>(row.text(0));
}

Expected<std::vector<FileUse>> Database::allFiles() {
    std::vector<FileUse> uses;
    Statement rows(m_db.get(),
                   "SELECT commit_id, path, url FROM commit_files ORDER BY url, commit_id, path");
    if (!rows.ok())
        return sqliteError();
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW)
        uses.push_back({static_cast<std::uint64_t>(rows.integer(0)), rows.text(1), rows.text(2)});
    if (rc != SQLITE_DONE)
        return sqliteError();
    return uses;
}

Expected<boost::optional<CopyRecord>> Database::copyRecord(const OdString& url) {
    Statement row(m_db.get(), "SELECT size, sha256 FROM copies WHERE url = ?1");
    if (!row.ok())
        return sqliteError();
    row.bind(1, url);
    const int rc = row.step();
    if (rc == SQLITE_DONE)
        return boost::optional<CopyRecord>();
    if (rc != SQLITE_ROW)
        return sqliteError();
    return boost::optional<CopyRecord>(CopyRecord{row.integer(0), row.text(1)});
}

Expected<std::map<OdString, CopyRecord>> Database::allCopyRecords() {
    std::map<OdString, CopyRecord> records;
    Statement rows(m_db.get(), "SELECT url, size, sha256 FROM copies");
    if (!rows.ok())
        return sqliteError();
    int rc;
    while ((rc = rows.step()) == SQLITE_ROW)
        records.emplace(rows.text(0), CopyRecord{rows.integer(1), rows.text(2)});
    if (rc != SQLITE_DONE)
        return sqliteError();
    return records;
}

Expected<void> Database::begin() {
    auto begun = exec("BEGIN IMMEDIATE");
    if (begun.hasValue())
        m_inTransaction = true;
    return begun;
}

Expected<std::uint64_t> Database::nextCommitId() {
    Statement max(m_db.get(), "SELECT coalesce(max(id), 0) + 1 FROM commits");
    if (!max.ok() || max.step() != SQLITE_ROW)
        return sqliteError();
    return static_cast<std::uint64_t>(max.integer(0));
}

Expected<void> Database::insertCommit(const CommitRecord& record, const TrackedFiles& files,
                                      const std::vector<KeptCopy>& kept) {
    Statement commit(m_db.get(),
                     "INSERT INTO commits (id, message, time, parent, author) "
                     "VALUES (?1, ?2, ?3, ?4, ?5)");
    if (!commit.ok())
        return sqliteError();
    commit.bind(1, static_cast<std::int64_t>(record.id));
    commit.bind(2, record.message);
    commit.bind(3, record.time);
    if (record.parent)
        commit.bind(4, static_cast<std::int64_t>(*record.parent));
    else
        commit.bindNull(4);
    commit.bind(5, record.author);
    if (commit.step() != SQLITE_DONE)
        return sqliteError();

    Statement file(m_db.get(),
                   "INSERT INTO commit_files (commit_id, path, url) VALUES (?1, ?2, ?3)");
    if (!file.ok())
        return sqliteError();
    for (const auto& [path, url] : files) {
        file.bind(1, static_cast<std::int64_t>(record.id));
        file.bind(2, path);
        file.bind(3, url);
        if (file.step() != SQLITE_DONE)
            return sqliteError();
        file.reset();
    }

    // A copy stored again (a commit run again after a crash rewrites its drawings' copies) gets
    // the record of what it holds now.
    Statement copy(m_db.get(),
                   "INSERT OR REPLACE INTO copies (url, size, sha256) VALUES (?1, ?2, ?3)");
    if (!copy.ok())
        return sqliteError();
    for (const KeptCopy& one : kept) {
        copy.bind(1, one.url);
        copy.bind(2, one.size);
        copy.bind(3, one.digest);
        if (copy.step() != SQLITE_DONE)
            return sqliteError();
        copy.reset();
    }
    return {};
}

Expected<void> Database::commit() {
    const auto done = exec("COMMIT");
    if (!done.hasValue()) {
        rollback();
        return done;
    }
    m_inTransaction = false;
    return done;
}

void Database::rollback() {
    if (!m_inTransaction || !m_db)
        return;
    m_inTransaction = false;
    // A failed ROLLBACK leaves SQLite to roll the journal back when the file is next opened.
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Expected<void> Database::deleteCommit(std::uint64_t id) {
    auto begun = begin();
    if (!begun.hasValue())
        return begun;
    for (const char* sql :
         {"DELETE FROM commit_files WHERE commit_id = ?1", "DELETE FROM commits WHERE id = ?1"}) {
        Statement remove(m_db.get(), sql);
        if (!remove.ok())
            return sqliteError();
        remove.bind(1, static_cast<std::int64_t>(id));
        if (remove.step() != SQLITE_DONE)
            return sqliteError();
    }
    return commit();
}

}  // namespace client

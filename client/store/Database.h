// The reference host's commit database, the file ".rvk/rvk.db" whose path the library composes and
// never opens. It is an SQLite file with two tables:
//
//   commits       (id, message, time, parent, author)
//                                               one row per commit; parent is NULL for the first;
//                                               author is who made it (empty before it was kept)
//   commit_files  (commit_id, path, url)        the files each commit tracks, with their storage
//   URLs
//
// A commit lists every file it tracks, not only the changed ones, so the files of HEAD are one
// query. Paths and URLs are stored as the UTF-8 bytes of their narrow form, which round-trip every
// name (see OdString). `time` is seconds since the Unix epoch. Ids grow by one from 1 and a parent
// is always smaller than its child, so the parent chain can never loop; a database edited by hand
// may break that, so history() checks it rather than trusting it. A database of the first format,
// without `copies`, gains the table when it is opened; copies committed before then have no record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>
#include <platform/OdString.h>

#include <client/store/HostStorage.h>

struct sqlite3;

namespace client {

// Relative path -> storage URL, ordered by path.
using TrackedFiles = std::map<OdString, OdString>;

struct CommitRecord {
    std::uint64_t id = 0;
    std::int64_t time = 0;
    OdString message;
    boost::optional<std::uint64_t> parent;
    std::size_t fileCount = 0;
    // The operating system's user who committed it here, or, once on the server, the role that
    // pushed it.
    OdString author;
};

// What the database recorded of one stored copy when it was committed.
struct CopyRecord {
    std::int64_t size = 0;
    OdString digest;
};

// One file that one commit tracks.
struct FileUse {
    std::uint64_t commit = 0;
    OdString path;
    OdString url;
};

class Database {
public:
    // Opens the database at `path`, creating the file and its tables when they are missing; an
    // existing rvk database is left as it is. Fails, with SQLite's reason, when the file cannot be
    // made or holds something else.
    static Expected<Database> create(const OdString& path);
    // Opens the existing rvk database at `path`. Fails when there is none ("no database found at
    // <path>"), when the file is no SQLite file, or when it is not one of rvk's.
    static Expected<Database> open(const OdString& path);

    Database(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    Database& operator=(Database&&) = delete;
    // Closes the file; an open write transaction is rolled back.
    ~Database();

    // The files tracked by `commit`: none without a commit. Fails when the commit is not in the
    // database (a HEAD that names an unknown commit) or the query fails.
    Expected<TrackedFiles> trackedFiles(boost::optional<std::uint64_t> commit);
    // `head` and its ancestors, newest first; empty without a head. Fails like trackedFiles(), and
    // when a commit names a parent that is not older than itself (a damaged database, whose
    // parent chain could loop).
    Expected<std::vector<CommitRecord>> history(boost::optional<std::uint64_t> head);
    // The commit with the largest id, the newest, or none in an empty database.
    Expected<boost::optional<std::uint64_t>> newestCommit();

    // Whether the database holds the commit `id`.
    Expected<bool> hasCommit(std::uint64_t id);
    // The storage URL of `path` in `commit`, or none when that commit does not track it.
    Expected<boost::optional<OdString>> urlOf(std::uint64_t commit, const OdString& path);
    // Every (commit, path, URL) that any commit records, ordered by URL, then commit and path.
    Expected<std::vector<FileUse>> allFiles();
    // What was recorded of the stored copy `url`, or none.
    Expected<boost::optional<CopyRecord>> copyRecord(const OdString& url);
    // Every recorded copy, by URL.
    Expected<std::map<OdString, CopyRecord>> allCopyRecords();

    // Starts a write transaction, taking the write lock at once so that nextCommitId() stays
    // valid until commit() or rollback(). Waits up to a few seconds for another writer.
    Expected<void> begin();
    // The id the next commit gets: one more than the largest so far, 1 in an empty database.
    Expected<std::uint64_t> nextCommitId();
    // Adds the commit `record` (fileCount is ignored), its tracked `files` and the records of the
    // copies it stored, `kept`, inside the transaction begin() started.
    Expected<void> insertCommit(const CommitRecord& record, const TrackedFiles& files,
                                const std::vector<KeptCopy>& kept = {});
    // Makes the transaction's changes permanent; on failure they are rolled back.
    Expected<void> commit();
    // Abandons the transaction's changes; nothing to do when none is open.
    void rollback();
    // Deletes the commit `id` and its files again, in a transaction of its own: the undo of a
    // committed insertCommit() whose counterpart in the state file could not be written.
    Expected<void> deleteCommit(std::uint64_t id);

    // The settings of a shared history (RemoteSettings.cpp), kept in a table of their own that
    // the first setting makes: the remote's connection string, the newest server commit this
    // clone holds, a pull whose working files are not all in place yet. None when unset.
    Expected<boost::optional<std::string>> remoteSetting(const char* key);
    // Sets `key` (none: removes it), inside the open transaction if there is one.
    Expected<void> setRemoteSetting(const char* key, const boost::optional<std::string>& value);
    // Sets the author of the commits `first` to `last` (a push's, which the server records as
    // its login's), inside the open transaction if there is one.
    Expected<void> setAuthors(std::uint64_t first, std::uint64_t last, const OdString& author);
    // Deletes every commit after `id` and its files, inside the transaction begin() started: a
    // pull takes the clone's own commits off before it puts them back on top of the server's.
    Expected<void> deleteCommitsAfter(std::uint64_t id);

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    Database(std::unique_ptr<sqlite3, Closer> db, const OdString& path);
    static Expected<Database> openWith(const OdString& path, int flags);
    // Brings a database of an earlier format up to this one.
    Expected<void> upgrade(std::int64_t version);
    Expected<void> exec(const char* sql);
    ErrorMessage sqliteError() const;

    std::unique_ptr<sqlite3, Closer> m_db;
    OdString m_path;
    bool m_inTransaction = false;
};

// A write transaction of `db` that is rolled back when it ends uncommitted: an early return or an
// error on the way abandons what it did.
class DatabaseTransaction {
public:
    explicit DatabaseTransaction(Database& db) : m_db(db) {}
    ~DatabaseTransaction() {
        if (m_open)
            m_db.rollback();
    }
    DatabaseTransaction(const DatabaseTransaction&) = delete;
    DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;

    Expected<void> begin() {
        auto begun = m_db.begin();
        m_open = begun.hasValue();
        return begun;
    }
    // On failure the database has rolled the changes back already.
    Expected<void> commit() {
        m_open = false;
        return m_db.commit();
    }

private:
    Database& m_db;
    bool m_open = false;
};

}  // namespace client

// The read-only view of a shared history (HistoryView.h): queries of the server's tables that only
// read, each value bounded on the server before it travels and checked here as a clone checks what
// a pull brings. Pages of the history are found by commit id, never by skipping rows, so that a
// page far back in a long history costs what the newest does. Rows of commits above the head,
// which only a hand-edited table holds, are left out of every answer.
#include <client/HistoryView.h>

#include <algorithm>
#include <limits>
#include <utility>

#include <common/ContentHash.h>
#include <common/RootPath.h>

#include <client/Text.h>
#include <client/shared/RemoteCopies.h>
#include <client/shared/ServerConnection.h>
#include <client/shared/ServerHistory.h>
#include <client/shared/ServerLabels.h>

namespace client {

namespace {

// The largest a commit's author (a role's name, 63 bytes), a copy's digest and a copy's URL may be
// on the server; a longer value, which only a hand-edited row can hold, comes as NULL.
constexpr std::int64_t kAuthorLimit = 256;
constexpr std::int64_t kUrlLimit = 1024;

ErrorMessage damaged(const std::string& what) {
    return hostError("the server's history is damaged: " + what);
}

// A commit id as a query's value; ids beyond what the server counts are held at its largest.
Param idParam(std::uint64_t id) {
    constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return Param(static_cast<std::int64_t>(std::min(id, kLargest)));
}

bool isDigest(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The server's path in column `column` of `row` (NULL when longer than a path may be), checked as
// a clone checks the paths of a pull.
Expected<std::string> pathOf(const QueryResult& rows, int row, int column,
                             const std::string& where) {
    if (rows.isNull(row, column))
        return damaged(where + " names a path longer than 1024 bytes");
    std::string path = rows.text(row, column);
    if (const auto problem = serverPathProblem(path))
        return damaged(where + " names the path " + quotePath(path) +
                       ", which no clone may hold: " + *problem);
    return path;
}

// The digest and the size of a copy, in columns `column` and `column` + 1 of `row`.
Expected<std::pair<std::string, std::int64_t>> copyOf(const QueryResult& rows, int row, int column,
                                                      const std::string& path,
                                                      const std::string& where) {
    if (rows.isNull(row, column) || !isDigest(rows.text(row, column)))
        return damaged(where + " gives " + quotePath(path) + " a copy without a sound digest");
    if (rows.isNull(row, column + 1))
        return damaged(where + " gives " + quotePath(path) + " a copy the server does not hold");
    const std::int64_t size = rows.integer(row, column + 1);
    if (size < 0)
        return damaged(where + " gives " + quotePath(path) + " a copy of " + std::to_string(size) +
                       " bytes");
    return std::make_pair(rows.text(row, column), size);
}

// A commit's time, message and author in columns `column` to `column` + 2 of `row`.
Expected<void> describe(const QueryResult& rows, int row, int column, std::uint64_t id,
                        std::int64_t& time, std::string& message, std::string& author) {
    if (rows.isNull(row, column + 1))
        return damaged("the message of commit " + std::to_string(id) + " is longer than 64 KiB");
    if (rows.isNull(row, column + 2) || rows.text(row, column + 2).empty())
        return damaged("commit " + std::to_string(id) +
                       " has an author that is empty or longer than any may be");
    time = rows.integer(row, column);
    message = rows.text(row, column + 1);
    author = rows.text(row, column + 2);
    return {};
}

// A commit's time, message and author (of the commit "c"), bounded as fetchCommits() bounds them.
constexpr const char* kCommitColumns =
    "c.time, CASE WHEN octet_length(c.message) <= 65536 THEN c.message END, "
    "CASE WHEN octet_length(c.author) <= 256 THEN c.author END";
static_assert(kMessageLimit == 65536 && kAuthorLimit == 256, "the limits of kCommitColumns");

Label publicLabel(LabelRecord record) {
    return Label{std::move(record.name), record.commit, std::move(record.author),
                 std::move(record.made)};
}

}  // namespace

struct HistoryView::Impl {
    explicit Impl(ServerConnection connection) : server(std::move(connection)) {}
    ServerConnection server;

    // Reads the copy through the store, handing each chunk to `sink` as well when there is one,
    // and checks what came against the copy's size and digest.
    Expected<void> read(const ViewCopy& copy, const ChunkSink* sink) {
        const std::string shown = "the stored copy of " + quoteName(copy.path) + " at commit " +
                                  std::to_string(copy.commit);
        common::ContentDigest digest;
        std::int64_t received = 0;
        bool stopped = false;
        const auto got = databaseCopies(server)->get(
            copy.url, copy.sha256, [&](const char* data, std::size_t size) {
                digest.update(data, size);
                received += static_cast<std::int64_t>(size);
                if (sink != nullptr && !(*sink)(data, size)) {
                    stopped = true;
                    return false;
                }
                return true;
            });
        if (stopped)
            return hostError("the reading of " + shown + " was stopped before its end");
        if (!got.hasValue())
            return hostError("cannot read " + shown + ": " + utf8(got.error().message));
        if (received != copy.size)
            return hostError(shown + " is damaged: it holds " + std::to_string(received) +
                             " bytes, not " + std::to_string(copy.size));
        if (utf8(digest.hexDigest()) != copy.sha256)
            return hostError(shown + " is damaged: its bytes do not match its digest");
        return {};
    }
};

HistoryView::HistoryView(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
HistoryView::HistoryView(HistoryView&&) noexcept = default;
HistoryView& HistoryView::operator=(HistoryView&&) noexcept = default;
HistoryView::~HistoryView() = default;

Expected<HistoryView> HistoryView::open(const std::string& conninfo, Reporter& reporter) {
    // A secret in a connection string shows wherever the string does (a process list, a log).
    if (const auto usable = checkConnInfo(conninfo); !usable.hasValue())
        return usable.error();
    // No limit on the connection's life: a view lasts as long as its host. Each query still has
    // the kit's own.
    auto connected = ServerConnection::connect(conninfo, reporter);
    if (!connected.hasValue())
        return connected.error();
    const auto sound = connected.value().checkSchema();
    if (!sound.hasValue())
        return sound.error();
    return HistoryView(std::make_unique<Impl>(std::move(connected.value())));
}

const std::string& HistoryView::role() const {
    return m_impl->server.role();
}

Expected<std::uint64_t> HistoryView::head() {
    return serverHead(m_impl->server);
}

Expected<std::vector<ViewCommit>> HistoryView::commits(std::uint64_t newest, std::size_t count) {
    std::vector<ViewCommit> page;
    if (count == 0 || newest == 0)
        return page;
    const std::uint64_t oldest = newest > count ? newest - count : 0;  // the page's lower bound
    // The head with the page's commits, which the primary key finds by id, and each commit's
    // count of changes: one row with the head alone when the page is empty.
    auto rows = m_impl->server.query(
        std::string("WITH h AS (SELECT count(*) AS n, max(id) AS top FROM rvk.head) "
                    "SELECT h.n, h.top, c.id, ") +
            kCommitColumns +
            ", (SELECT count(*) FROM rvk.changes x WHERE x.commit_id = c.id) "
            " FROM h LEFT JOIN rvk.commits c"
            " ON c.id <= least($1::bigint, coalesce(h.top, 0)) AND c.id > $2::bigint"
            " ORDER BY c.id DESC",
        {idParam(newest), idParam(oldest)});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    if (r.rows() < 1 || r.integer(0, 0) != 1)
        return damaged("it has no head");
    const std::int64_t top = r.isNull(0, 1) ? 0 : r.integer(0, 1);
    if (top < 0 || (top == 0 && !r.isNull(0, 1)))
        return damaged("its head is " + std::to_string(top));
    const std::uint64_t first = std::min(newest, static_cast<std::uint64_t>(top));
    if (first <= oldest)
        return page;
    for (int i = 0; i < r.rows(); ++i) {
        const std::uint64_t expected = first - static_cast<std::uint64_t>(i);
        if (r.isNull(i, 2) || r.integer(i, 2) != static_cast<std::int64_t>(expected))
            return damaged("commit " + std::to_string(expected) + " is not there");
        ViewCommit c;
        c.id = expected;
        const auto described = describe(r, i, 3, c.id, c.time, c.message, c.author);
        if (!described.hasValue())
            return described.error();
        c.files = static_cast<std::size_t>(r.integer(i, 6));
        page.push_back(std::move(c));
    }
    if (page.size() != first - oldest)
        return damaged("commits " + std::to_string(oldest + 1) + " to " + std::to_string(first) +
                       " are not all there");
    auto labels = labelsBetween(m_impl->server, oldest, first);
    if (!labels.hasValue())
        return labels.error();
    for (LabelRecord& label : labels.value()) {
        if (label.commit > oldest && label.commit <= first)
            page[first - label.commit].labels.push_back(std::move(label.name));
    }
    return page;
}

Expected<boost::optional<ViewCommit>> HistoryView::commit(std::uint64_t id) {
    auto page = commits(id, 1);
    if (!page.hasValue())
        return page.error();
    if (page.value().empty())
        return boost::optional<ViewCommit>();
    return boost::optional<ViewCommit>(std::move(page.value().front()));
}

Expected<std::vector<ViewChange>> HistoryView::changes(std::uint64_t id) {
    // Each path with the change before this commit's, found backwards along changes_path: a path
    // whose last change before was no removal is changed, any other added.
    auto rows = m_impl->server.query(
        "SELECT CASE WHEN octet_length(x.path) <= $2 THEN x.path END, x.url IS NULL, "
        "       CASE WHEN octet_length(x.sha256) <= 64 THEN x.sha256 END, p.size, "
        "       coalesce(before.present, false) "
        "FROM rvk.changes x "
        "LEFT JOIN rvk.copies p ON p.url = x.url AND p.sha256 = x.sha256 "
        "LEFT JOIN LATERAL (SELECT y.url IS NOT NULL AS present FROM rvk.changes y "
        "                   WHERE y.path = x.path AND y.commit_id < x.commit_id "
        "                   ORDER BY y.commit_id DESC LIMIT 1) before ON true "
        "WHERE x.commit_id = $1 AND x.commit_id <= coalesce((SELECT h.id FROM rvk.head h), 0) "
        "ORDER BY convert_to(x.path, 'UTF8')",
        {idParam(id), static_cast<std::int64_t>(kPathLimit)});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    const std::string where = "commit " + std::to_string(id);
    std::vector<ViewChange> found;
    for (int i = 0; i < r.rows(); ++i) {
        auto path = pathOf(r, i, 0, where);
        if (!path.hasValue())
            return path.error();
        ViewChange change;
        change.path = std::move(path.value());
        if (r.text(i, 1) == "t") {
            change.kind = ViewChange::Kind::removed;
        } else {
            auto copy = copyOf(r, i, 2, change.path, where);
            if (!copy.hasValue())
                return copy.error();
            change.kind = r.text(i, 4) == "t" ? ViewChange::Kind::changed : ViewChange::Kind::added;
            change.sha256 = std::move(copy.value().first);
            change.size = copy.value().second;
        }
        found.push_back(std::move(change));
    }
    return found;
}

Expected<std::vector<ViewVersion>> HistoryView::fileHistory(const std::string& path) {
    std::vector<ViewVersion> versions;
    // No commit can have touched a path that no commit may hold; nor need it travel.
    if (serverPathProblem(path))
        return versions;
    auto rows = m_impl->server.query(
        std::string("SELECT x.commit_id, ") + kCommitColumns +
            ", x.url IS NULL, CASE WHEN octet_length(x.sha256) <= 64 THEN x.sha256 END, p.size"
            " FROM rvk.changes x JOIN rvk.commits c ON c.id = x.commit_id"
            " LEFT JOIN rvk.copies p ON p.url = x.url AND p.sha256 = x.sha256"
            " WHERE x.path = $1 AND x.commit_id <= coalesce((SELECT h.id FROM rvk.head h), 0)"
            " ORDER BY x.commit_id DESC",
        {path});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    for (int i = 0; i < r.rows(); ++i) {
        ViewVersion v;
        v.commit = static_cast<std::uint64_t>(r.integer(i, 0));
        const auto described = describe(r, i, 1, v.commit, v.time, v.message, v.author);
        if (!described.hasValue())
            return described.error();
        v.removed = r.text(i, 4) == "t";
        if (!v.removed) {
            auto copy = copyOf(r, i, 5, path, "commit " + std::to_string(v.commit));
            if (!copy.hasValue())
                return copy.error();
            v.sha256 = std::move(copy.value().first);
            v.size = copy.value().second;
        }
        versions.push_back(std::move(v));
    }
    return versions;
}

Expected<std::vector<ViewLock>> HistoryView::locks() {
    // How long each has been held, by the server's clock alone: the host's may differ from it.
    auto rows = m_impl->server.query(
        "SELECT CASE WHEN octet_length(path) <= $1 THEN path END, "
        "       CASE WHEN octet_length(holder) <= 128 THEN holder END, "
        "       to_char(taken AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), "
        "       greatest(floor(extract(epoch FROM now() - taken)), 0)::bigint "
        "FROM rvk.locks ORDER BY taken, convert_to(path, 'UTF8')",
        {static_cast<std::int64_t>(kPathLimit)});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    std::vector<ViewLock> found;
    for (int i = 0; i < r.rows(); ++i) {
        if (r.isNull(i, 0) || r.isNull(i, 1) || r.text(i, 1).empty())
            return hostError(
                "the server holds a lock without a holder, or with a path or a "
                "holder longer than any may be");
        std::string path = r.text(i, 0);
        if (const auto problem = serverPathProblem(path))
            return hostError("the server holds a lock of the path " + quotePath(path) +
                             ", which no clone may hold: " + *problem);
        found.push_back(ViewLock{std::move(path), r.text(i, 1), r.text(i, 2), r.integer(i, 3)});
    }
    return found;
}

Expected<std::vector<Label>> HistoryView::labels() {
    auto all = allLabels(m_impl->server);
    if (!all.hasValue())
        return all.error();
    std::vector<Label> found;
    for (LabelRecord& record : all.value())
        found.push_back(publicLabel(std::move(record)));
    return found;
}

Expected<boost::optional<Label>> HistoryView::label(const std::string& name) {
    // A name no label may have names none; it need not travel.
    if (labelNameProblem(name))
        return boost::optional<Label>();
    auto found = findLabel(m_impl->server, name);
    if (!found.hasValue())
        return found.error();
    if (!found.value())
        return boost::optional<Label>();
    return boost::optional<Label>(publicLabel(std::move(*found.value())));
}

Expected<std::vector<RegisterRow>> HistoryView::fileRegister(std::uint64_t id) {
    const auto top = head();
    if (!top.hasValue())
        return top.error();
    if (id == 0 || id > top.value())
        return hostError("the shared history has no commit " + std::to_string(id));
    // For each path, its newest change at or before the commit (changes_path read backwards);
    // those that are no removal are the commit's files. Each names the commit that gave the file
    // the copy it has, as export finds it: the first of the newest run of changes that all
    // recorded that same copy, after the last change that recorded another or removed it.
    auto rows = m_impl->server.query(
        "WITH latest AS ("
        "    SELECT DISTINCT ON (x.path) x.path, x.commit_id, x.url, x.sha256 "
        "    FROM rvk.changes x WHERE x.commit_id <= $1 "
        "    ORDER BY x.path DESC, x.commit_id DESC), "
        "files AS ("
        "    SELECT l.path, l.url, l.sha256, "
        "           (SELECT min(y.commit_id) FROM rvk.changes y "
        "            WHERE y.path = l.path AND y.commit_id <= l.commit_id "
        "              AND y.commit_id > coalesce(other.commit_id, 0)) AS by_id "
        "    FROM latest l "
        "    LEFT JOIN LATERAL (SELECT z.commit_id FROM rvk.changes z "
        "                       WHERE z.path = l.path AND z.commit_id < l.commit_id "
        "                         AND (z.url IS DISTINCT FROM l.url "
        "                              OR z.sha256 IS DISTINCT FROM l.sha256) "
        "                       ORDER BY z.commit_id DESC LIMIT 1) other ON true "
        "    WHERE l.url IS NOT NULL) "
        "SELECT CASE WHEN octet_length(f.path) <= $2 THEN f.path END, "
        "       CASE WHEN octet_length(f.sha256) <= 64 THEN f.sha256 END, p.size, f.by_id, "
        "       CASE WHEN octet_length(c.author) <= $3 THEN c.author END "
        "FROM files f "
        "LEFT JOIN rvk.copies p ON p.url = f.url AND p.sha256 = f.sha256 "
        "LEFT JOIN rvk.commits c ON c.id = f.by_id "
        "ORDER BY convert_to(f.path, 'UTF8')",
        {idParam(id), static_cast<std::int64_t>(kPathLimit), kAuthorLimit});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    const std::string where = "commit " + std::to_string(id);
    // The repository's own settings are not among the files sent out: export leaves them out.
    const std::string settings = utf8(common::RootPath::repositoryDirName()) + "/";
    std::vector<RegisterRow> found;
    for (int i = 0; i < r.rows(); ++i) {
        auto path = pathOf(r, i, 0, where);
        if (!path.hasValue())
            return path.error();
        if (path.value().compare(0, settings.size(), settings) == 0)
            continue;
        auto copy = copyOf(r, i, 1, path.value(), where);
        if (!copy.hasValue())
            return copy.error();
        if (r.isNull(i, 3) || r.isNull(i, 4) || r.text(i, 4).empty())
            return damaged("the commit that gave " + quotePath(path.value()) +
                           " its copy has no author, or one longer than any may be");
        found.push_back(RegisterRow{std::move(path.value()), copy.value().second,
                                    std::move(copy.value().first),
                                    static_cast<std::uint64_t>(r.integer(i, 3)), r.text(i, 4)});
    }
    return found;
}

Expected<boost::optional<ViewCopy>> HistoryView::copyAt(const std::string& path, std::uint64_t id) {
    if (serverPathProblem(path))
        return boost::optional<ViewCopy>();
    auto rows = m_impl->server.query(
        "SELECT x.commit_id, x.url IS NULL, "
        "       CASE WHEN octet_length(x.sha256) <= 64 THEN x.sha256 END, p.size, "
        "       CASE WHEN octet_length(x.url) <= $3 THEN x.url END "
        "FROM rvk.changes x "
        "LEFT JOIN rvk.copies p ON p.url = x.url AND p.sha256 = x.sha256 "
        "WHERE x.path = $1 "
        "  AND x.commit_id <= least($2::bigint, coalesce((SELECT h.id FROM rvk.head h), 0)) "
        "ORDER BY x.commit_id DESC LIMIT 1",
        {path, idParam(id), kUrlLimit});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    if (r.rows() == 0 || r.text(0, 1) == "t")
        return boost::optional<ViewCopy>();
    ViewCopy copy;
    copy.path = path;
    copy.commit = static_cast<std::uint64_t>(r.integer(0, 0));
    const std::string where = "commit " + std::to_string(copy.commit);
    auto stored = copyOf(r, 0, 2, path, where);
    if (!stored.hasValue())
        return stored.error();
    if (r.isNull(0, 4) || r.text(0, 4).empty())
        return damaged(where + " names a copy of " + quotePath(path) +
                       " that is unnamed or whose name is longer than 1024 bytes");
    copy.sha256 = std::move(stored.value().first);
    copy.size = stored.value().second;
    copy.url = r.text(0, 4);
    return boost::optional<ViewCopy>(std::move(copy));
}

Expected<void> HistoryView::checkCopy(const ViewCopy& copy) {
    return m_impl->read(copy, nullptr);
}

Expected<void> HistoryView::readCopy(
    const ViewCopy& copy, const std::function<bool(const char* data, std::size_t size)>& sink) {
    return m_impl->read(copy, &sink);
}

}  // namespace client

#include "ServerHistory.h"

#include <map>

#include <common/ContentHash.h>

#include "Console.h"

namespace host {

namespace {

void feed(common::ContentDigest& sha, const std::string& text) {
    // Each field with its length first, so that no two commits' fields run together alike.
    const std::string length = std::to_string(text.size()) + ":";
    sha.update(length.data(), length.size());
    sha.update(text.data(), text.size());
}

ErrorMessage damaged(const std::string& what) {
    return hostError("the server's history is damaged: " + what);
}

}  // namespace

std::string commitDigest(std::uint64_t id, const ServerCommit& commit) {
    common::ContentDigest sha;
    feed(sha, std::to_string(id));
    feed(sha, std::to_string(commit.time));
    feed(sha, commit.message);
    for (const ServerChange& change : commit.changes) {
        feed(sha, change.path);
        feed(sha, change.url.value_or(""));
        feed(sha, change.sha256.value_or(""));
    }
    return utf8(sha.hexDigest());
}

Expected<std::uint64_t> serverHead(ServerConnection& server) {
    auto head = server.query("SELECT id FROM rvk.head");
    if (!head.hasValue())
        return head.error();
    if (head.value().rows() != 1)
        return damaged("it has no head");
    if (head.value().isNull(0, 0))
        return std::uint64_t{0};
    const std::int64_t id = head.value().integer(0, 0);
    if (id <= 0)
        return damaged("its head is " + std::to_string(id));
    return static_cast<std::uint64_t>(id);
}

Expected<std::vector<ServerCommit>> fetchCommits(ServerConnection& server, std::uint64_t after,
                                                 std::uint64_t upTo) {
    const auto from = static_cast<std::int64_t>(after);
    const auto to = static_cast<std::int64_t>(upTo);
    auto rows = server.query(
        "SELECT id, parent, time, message, author, digest FROM rvk.commits "
        "WHERE id > $1 AND id <= $2 ORDER BY id",
        {from, to});
    if (!rows.hasValue())
        return rows.error();
    std::vector<ServerCommit> commits;
    const QueryResult& r = rows.value();
    for (int i = 0; i < r.rows(); ++i) {
        ServerCommit c;
        c.id = static_cast<std::uint64_t>(r.integer(i, 0));
        const std::uint64_t parent = r.isNull(i, 1) ? 0 : static_cast<std::uint64_t>(r.integer(i, 1));
        if (c.id != after + 1 + static_cast<std::uint64_t>(i) || parent != c.id - 1)
            return damaged("commit " + std::to_string(c.id) + " does not follow commit " +
                           std::to_string(c.id - 1));
        c.time = r.integer(i, 2);
        c.message = r.text(i, 3);
        c.author = r.text(i, 4);
        c.digest = r.text(i, 5);
        commits.push_back(std::move(c));
    }
    if (commits.size() != upTo - after)
        return damaged("commits " + std::to_string(after + 1) + " to " + std::to_string(upTo) +
                       " are not all there");
    auto changes = server.query(
        "SELECT commit_id, path, url, sha256 FROM rvk.changes "
        "WHERE commit_id > $1 AND commit_id <= $2 ORDER BY commit_id, convert_to(path, 'UTF8')",
        {from, to});
    if (!changes.hasValue())
        return changes.error();
    const QueryResult& c = changes.value();
    for (int i = 0; i < c.rows(); ++i) {
        const auto id = static_cast<std::uint64_t>(c.integer(i, 0));
        ServerChange change;
        change.path = c.text(i, 1);
        if (!c.isNull(i, 2))
            change.url = c.text(i, 2);
        if (!c.isNull(i, 3))
            change.sha256 = c.text(i, 3);
        commits[id - after - 1].changes.push_back(std::move(change));
    }
    return commits;
}

Expected<Appended> appendCommits(ServerConnection& server, std::uint64_t base,
                                 const std::vector<ServerCommit>& commits) {
    auto begun = server.begin();
    if (!begun.hasValue())
        return begun.error();
    const auto undo = [&](ErrorMessage error) -> Expected<Appended> {
        server.rollback();
        return error;
    };
    // The head row, taken for the whole transaction: pushes queue up here, one at a time.
    auto head = server.query("SELECT id FROM rvk.head FOR UPDATE");
    if (!head.hasValue())
        return undo(head.error());
    Appended outcome;
    outcome.head = head.value().rows() == 1 && !head.value().isNull(0, 0)
                       ? static_cast<std::uint64_t>(head.value().integer(0, 0))
                       : 0;
    if (outcome.head != base) {
        server.rollback();
        outcome.behind = true;
        return outcome;
    }
    std::vector<std::string> paths;
    for (const ServerCommit& commit : commits) {
        for (const ServerChange& change : commit.changes)
            paths.push_back(change.path);
    }
    auto locked = locksOfOthers(server, paths);
    if (!locked.hasValue())
        return undo(locked.error());
    if (!locked.value().empty()) {
        server.rollback();
        outcome.lockedByOthers = std::move(locked.value());
        return outcome;
    }
    for (const ServerCommit& commit : commits) {
        const auto id = static_cast<std::int64_t>(commit.id);
        auto added = server.query(
            "INSERT INTO rvk.commits (id, parent, time, message, digest) "
            "VALUES ($1, $2, $3, $4, $5)",
            {id, id > 1 ? Param(id - 1) : Param::null(), commit.time, commit.message,
             commit.digest});
        if (!added.hasValue())
            return undo(added.error());
        for (const ServerChange& change : commit.changes) {
            auto row = server.query(
                "INSERT INTO rvk.changes (commit_id, path, url, sha256) VALUES ($1, $2, $3, $4)",
                {id, change.path, change.url ? Param(*change.url) : Param::null(),
                 change.sha256 ? Param(*change.sha256) : Param::null()});
            if (!row.hasValue())
                return undo(row.error());
        }
    }
    const auto newHead = static_cast<std::int64_t>(base + commits.size());
    auto moved = server.query("UPDATE rvk.head SET id = $1", {newHead});
    if (!moved.hasValue())
        return undo(moved.error());
    auto done = server.commit();
    if (!done.hasValue())
        return undo(done.error());
    outcome.head = static_cast<std::uint64_t>(newHead);
    return outcome;
}

}  // namespace host

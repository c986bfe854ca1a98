#include <client/shared/ServerHistory.h>

#include <cstdio>
#include <map>

#include <common/ContentHash.h>

#include <client/Text.h>
#include <client/tree/SafePaths.h>
#include <client/shared/ServerPaths.h>

namespace client {

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

// `text` (UTF-8) as a JSON string.
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
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

boost::optional<std::string> serverPathProblem(const std::string& path) {
    if (path.empty())
        return std::string("it is empty");
    if (path.size() > kPathLimit)
        return std::string("it is longer than 1024 bytes");
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto byte = static_cast<unsigned char>(path[i]);
        // C0 and DEL, and C1 (U+0080 to U+009F, 0xc2 0x80 to 0xc2 0x9f in UTF-8).
        if (byte < 0x20 || byte == 0x7f ||
            (byte == 0xc2 && i + 1 < path.size() &&
             static_cast<unsigned char>(path[i + 1]) >= 0x80 &&
             static_cast<unsigned char>(path[i + 1]) <= 0x9f))
            return std::string("it holds a control character");
    }
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return std::string("it is absolute or has an empty, \".\" or \"..\" component");
        if (part.size() > kNameLimit)
            return std::string("one of its names is longer than 255 bytes");
        start = end + 1;
    }
    if (!isTrackablePath(path))
        return std::string("it leads outside the working tree or into .rvk");
    return boost::none;
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
    // A value larger than a commit may hold comes as NULL: it never travels, let alone into
    // memory.
    auto rows = server.query(
        "SELECT id, parent, time, "
        "       CASE WHEN octet_length(message) <= $3 THEN message END, "
        "       CASE WHEN octet_length(author) <= 256 THEN author END, "
        "       CASE WHEN octet_length(digest) <= 64 THEN digest END "
        "FROM rvk.commits WHERE id > $1 AND id <= $2 ORDER BY id",
        {from, to, static_cast<std::int64_t>(kMessageLimit)});
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
        if (r.isNull(i, 3))
            return damaged("the message of commit " + std::to_string(c.id) +
                           " is longer than 64 KiB");
        if (r.isNull(i, 4) || r.isNull(i, 5))
            return damaged("commit " + std::to_string(c.id) +
                           " has an author or a digest longer than any may be");
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
        "WITH c AS (SELECT commit_id, path, url, sha256, "
        "                  octet_length(path) <= $3 AND coalesce(octet_length(url), 0) <= $3 "
        "                  AND coalesce(octet_length(sha256), 0) <= 64 AS fits "
        "           FROM rvk.changes WHERE commit_id > $1 AND commit_id <= $2) "
        "SELECT commit_id, CASE WHEN fits THEN path END, CASE WHEN fits THEN url END, "
        "       CASE WHEN fits THEN sha256 END, fits "
        "FROM c ORDER BY commit_id, convert_to(path, 'UTF8')",
        {from, to, static_cast<std::int64_t>(kPathLimit)});
    if (!changes.hasValue())
        return changes.error();
    const QueryResult& c = changes.value();
    for (int i = 0; i < c.rows(); ++i) {
        const auto id = static_cast<std::uint64_t>(c.integer(i, 0));
        if (c.text(i, 4) != "t")
            return damaged("commit " + std::to_string(id) +
                           " changes a path, or names a copy, longer than 1024 bytes");
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
                                 const std::vector<ServerCommit>& commits, bool keepLocks) {
    std::string json = "[";
    for (const ServerCommit& commit : commits) {
        if (commit.message.size() > kMessageLimit)
            return hostError("the message of commit " + std::to_string(commit.id) +
                             " is longer than the server takes (64 KiB)");
        json += json.size() > 1 ? ",{" : "{";
        json += "\"id\":" + std::to_string(commit.id) + ",\"time\":" + std::to_string(commit.time) +
                ",\"message\":" + jsonString(commit.message) +
                ",\"digest\":" + jsonString(commit.digest) + ",\"changes\":[";
        bool first = true;
        for (const ServerChange& change : commit.changes) {
            if (const auto problem = serverPathProblem(change.path))
                return hostError("commit " + std::to_string(commit.id) + " changes " +
                                 shownPath(change.path) + ", which the server cannot hold: " +
                                 *problem);
            json += first ? "{" : ",{";
            first = false;
            json += "\"path\":" + jsonString(change.path);
            if (change.url && change.sha256)
                json += ",\"url\":" + jsonString(*change.url) +
                        ",\"sha256\":" + jsonString(*change.sha256);
            json += "}";
        }
        json += "]}";
    }
    json += "]";
    // One statement, and so one transaction on the server: a push cut off anywhere leaves either
    // all its commits and the head moved, or nothing.
    auto rows = server.query(
        "SELECT outcome, head_id, lock_path, lock_holder, lock_taken "
        "FROM rvk.push($1, $2::jsonb, $3::boolean)",
        {static_cast<std::int64_t>(base), json, std::string(keepLocks ? "true" : "false")});
    if (!rows.hasValue())
        return rows.error();
    const QueryResult& r = rows.value();
    Appended outcome;
    for (int i = 0; i < r.rows(); ++i) {
        const std::string what = r.text(i, 0);
        outcome.head = r.isNull(i, 1) ? 0 : static_cast<std::uint64_t>(r.integer(i, 1));
        if (what == "behind") {
            outcome.behind = true;
        } else if (what == "locked") {
            outcome.lockedByOthers.push_back(LockRecord{r.text(i, 2), r.text(i, 3), r.text(i, 4)});
        } else if (what == "unlocked") {
            outcome.unlocked.push_back(r.text(i, 2));
        } else if (what == "released") {
            outcome.released.push_back(r.text(i, 2));
        } else if (what != "pushed") {
            return hostError("the server answered a push with " + quoteName(what));
        }
    }
    if (r.rows() == 0)
        return hostError("the server answered a push with nothing");
    return outcome;
}

}  // namespace client

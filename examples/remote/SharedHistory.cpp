// clone, push and pull: a clone's commits and the server's, kept one linear history.
//
// Commit ids are the server's: commit N is the N-th of the shared history in every clone. A
// clone's own commits take the ids after its newest server commit (the "base", kept in rvk.db);
// when the server has moved on meanwhile, pull gives them the ids after the server's head and
// puts them on top of its commits (each keeps its own changes, its message and its time).
//
// Everything that comes from the server is input: every path passes isTrackablePath() and
// checkWorkingPath(), every URL storedCopyPath(), and every copy is checked against its digest
// before it is stored, all before a working file is touched. Working files are written through
// restoreFiles(), the road restore takes: copied into ".rvk", checked, renamed into place.
//
// Interrupted anywhere, a command run again completes the work:
//   push   copies land whole or not at all, each in a transaction of its own, and the commits
//          with the head in one; a clone finds its own commits on the server by their digests.
//   pull   copies are stored before any commit names them; the commits, the new base and a
//          note of the working files still to update change in one SQLite transaction; the
//          note goes only when HEAD and every working file are in place, and any command that
//          pulls finishes a noted update first.
#include "SharedHistory.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <map>
#include <new>
#include <set>
#include <sstream>

#include <common/RepoIgnore.h>
#include <platform/FileName.h>

#include <client/tree/HostFiles.h>
#include <client/store/HostStorage.h>
#include <client/shared/PullPlan.h>
#include <client/shared/RemoteCopies.h>
#include <client/tree/SafePaths.h>
#include <client/shared/ServerHistory.h>
#include <client/tree/WindowsNames.h>
#include <client/tree/WorkingTree.h>

namespace rvk {

namespace {

// A counter of files and bytes on stderr, "<label> <files>/<total> files, <n> MiB", rewritten in
// place at most ten times a second, and only on a terminal, like ProgressLine.
class Transfer {
public:
    Transfer(const char* label, std::size_t files)
        : m_label(label), m_files(files), m_enabled(stderrIsTerminal()) {}
    ~Transfer() {
        if (m_shown)
            std::fputs("\r\033[K", stderr);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    void add(std::int64_t bytes) {
        m_bytes += bytes;
        draw(false);
    }
    void file() {
        ++m_done;
        draw(m_done == m_files);
    }

private:
    void draw(bool last) {
        if (!m_enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (m_shown && !last && now - m_drawn < std::chrono::milliseconds(100))
            return;
        std::fprintf(stderr, "\r%s %zu/%zu files, %.1f MiB\033[K", m_label, m_done, m_files,
                     static_cast<double>(m_bytes) / (1 << 20));
        std::fflush(stderr);
        m_shown = true;
        m_drawn = now;
    }

    const char* m_label;
    std::size_t m_files;
    bool m_enabled;
    bool m_shown = false;
    std::size_t m_done = 0;
    std::int64_t m_bytes = 0;
    std::chrono::steady_clock::time_point m_drawn;
};

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string mib(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

Expected<std::uint64_t> numberSetting(Database& db, const char* key) {
    auto value = db.remoteSetting(key);
    if (!value.hasValue())
        return value.error();
    if (!value.value())
        return std::uint64_t{0};
    try {
        return static_cast<std::uint64_t>(std::stoull(*value.value()));
    } catch (const std::exception&) {
        return hostError("rvk.db holds a damaged setting " + quoteName(key));
    }
}

bool isDigest(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The SHA-256 digest of the stored copy `url`: in a generic file's URL, recorded for a drawing,
// or, for a drawing committed before rvk recorded digests, read from the copy.
// The changes from `before` to `after`, ordered by path, with the digests of the copies.
Expected<std::vector<ServerChange>> changesBetween(Database& db, const common::RootPath& root,
                                                   const TrackedFiles& before,
                                                   const TrackedFiles& after) {
    std::map<std::string, ServerChange> changes;
    for (const auto& [path, url] : before) {
        if (after.count(path) == 0)
            changes[serverPath(path)] = ServerChange{serverPath(path), boost::none, boost::none};
    }
    for (const auto& [path, url] : after) {
        const auto old = before.find(path);
        if (old != before.end() && old->second == url)
            continue;
        const auto digest = copyDigest(db, root, url);
        if (!digest.hasValue())
            return digest.error();
        changes[serverPath(path)] = ServerChange{serverPath(path), utf8(url), utf8(digest.value())};
    }
    std::vector<ServerChange> ordered;
    for (auto& [path, change] : changes)
        ordered.push_back(std::move(change));
    return ordered;
}

// Checks a change from the server as restore checks the database's paths and URLs.
Expected<void> checkChange(const common::RootPath& root, const ServerChange& change) {
    const std::string shown = quotePath(change.path);
    if (!isTrackablePath(change.path))
        return hostError("the server names the path " + shown +
                         ", which leads outside the working tree or into .rvk");
    // Where folders take names as Windows does, a name that Windows would refuse or change (a
    // "\\" in it would even become a folder) is refused here, before it becomes a local path.
    if (hostNaming().windowsNames) {
        if (const auto problem = windowsNameProblem(change.path))
            return hostError("the server names the path " + shown + ", which Windows cannot hold: " +
                             *problem);
    }
    const auto inside = checkWorkingPath(root, localPath(change.path), "the server");
    if (!inside.hasValue())
        return inside;
    if (!change.url)
        return {};
    if (!change.sha256 || !isDigest(*change.sha256))
        return hostError("the server gives " + shown + " a copy without a sound digest");
    const OdString url = fromUtf8(*change.url);
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    if (common::urlToType(url) == common::FileStorage::Generic && utf8(url.mid(2)) != *change.sha256)
        return hostError("the server gives " + shown + " a copy whose URL " +
                         quoteName(*change.url) + " does not match its digest");
    return {};
}

// Moves HEAD in the state file; the Cache that ends here writes it.
Expected<void> setHead(Repository& r, std::uint64_t head) {
    const auto written = changeState(r.cache.value(), *r.io,
                                     [&](common::State& state) { state.head.commit = head; });
    if (!written.hasValue())
        return hostError("the state file could not be written: run rvk pull again");
    // Loaded again for what follows; a Cache cannot be assigned, so it is made in place.
    r.cache.~Expected<common::Cache>();
    new (&r.cache) Expected<common::Cache>(common::Cache::get(r.root, false, *r.io));
    if (!r.cache.hasValue())
        return r.cache.error();
    return {};
}

// What finishPending() found and did.
struct Completed {
    bool wasCutOff = false;  // a pull had been cut off, and is complete now
    std::size_t files = 0;   // working files it updated
};

// Completes a pull whose commits are in rvk.db: HEAD, then the working files. Nothing to do
// without a noted one.
Expected<Completed> finishPending(Repository& r) {
    auto pending = r.db.remoteSetting(kPendingKey);
    if (!pending.hasValue())
        return pending.error();
    if (!pending.value())
        return Completed{};
    std::istringstream fields(*pending.value());
    std::uint64_t oldHead = 0, newHead = 0, from = 0;
    if (!(fields >> oldHead >> newHead >> from))
        return hostError("rvk.db holds a damaged note of an unfinished pull");
    const auto server = numberSetting(r.db, kBaseKey);
    if (!server.hasValue())
        return server.error();
    const auto head = r.cache.value().read().head.commit;
    if (head.value_or(0) == oldHead && oldHead != newHead) {
        auto moved = setHead(r, newHead);
        if (!moved.hasValue())
            return moved.error();
    }
    auto before = r.db.trackedFiles(from ? boost::optional<std::uint64_t>(from) : boost::none);
    auto after = r.db.trackedFiles(server.value() ? boost::optional<std::uint64_t>(server.value())
                                                  : boost::none);
    if (!before.hasValue() || !after.hasValue())
        return !before.hasValue() ? before.error() : after.error();
    auto plan = planPull(r.db, r.root, before.value(), after.value(), {});
    if (!plan.hasValue())
        return plan.error();
    if (!plan.value().conflicts.empty() || !plan.value().blocked.empty())
        return refusal(plan.value());
    auto applied = applyPull(r.root, plan.value());
    if (!applied.hasValue())
        return applied.error();
    auto cleared = r.db.setRemoteSetting(kPendingKey, boost::none);
    if (!cleared.hasValue())
        return cleared.error();
    return Completed{true, applied.value()};
}

// The clone's commits after `base`, oldest first, each with its files.
Expected<std::vector<std::pair<CommitRecord, TrackedFiles>>> localCommits(
    Database& db, boost::optional<std::uint64_t> head, std::uint64_t base) {
    std::vector<std::pair<CommitRecord, TrackedFiles>> commits;
    auto history = db.history(head);
    if (!history.hasValue())
        return history.error();
    for (const CommitRecord& c : history.value()) {
        if (c.id <= base)
            break;
        auto files = db.trackedFiles(c.id);
        if (!files.hasValue())
            return files.error();
        commits.emplace_back(c, std::move(files.value()));
    }
    std::reverse(commits.begin(), commits.end());
    return commits;
}

// The clone's own commits, those after its base: each as rvk.db has it and as the server takes it.
struct OwnCommits {
    std::vector<std::pair<CommitRecord, TrackedFiles>> local;
    std::vector<ServerCommit> sent;
};

Expected<OwnCommits> ownCommits(Repository& r, std::uint64_t base) {
    OwnCommits own;
    auto local = localCommits(r.db, r.cache.value().read().head.commit, base);
    if (!local.hasValue())
        return local.error();
    own.local = std::move(local.value());
    auto before = r.db.trackedFiles(base ? boost::optional<std::uint64_t>(base) : boost::none);
    if (!before.hasValue())
        return before.error();
    const TrackedFiles* previous = &before.value();
    for (const auto& [record, files] : own.local) {
        ServerCommit c;
        c.id = record.id;
        c.time = record.time;
        c.message = utf8(record.message);
        auto changes = changesBetween(r.db, r.root, *previous, files);
        if (!changes.hasValue())
            return changes.error();
        c.changes = std::move(changes.value());
        c.digest = commitDigest(c.id, c);
        own.sent.push_back(std::move(c));
        previous = &files;
    }
    return own;
}

// A push cut off after the server took it leaves the clone's first own commits on the server
// already: found by their digests, they become the clone's base, as a completed push would have
// made them. How many there were.
Expected<std::size_t> takeLanded(Repository& r, ServerConnection& server, std::uint64_t& base,
                                 std::uint64_t top, OwnCommits& own) {
    if (top <= base || own.sent.empty())
        return std::size_t{0};
    const auto theirs =
        fetchCommits(server, base, std::min<std::uint64_t>(top, base + own.sent.size()));
    if (!theirs.hasValue())
        return theirs.error();
    std::size_t landed = 0;
    while (landed < theirs.value().size() && theirs.value()[landed].digest == own.sent[landed].digest)
        ++landed;
    if (landed == 0)
        return landed;
    auto moved = r.db.setRemoteSetting(kBaseKey, std::to_string(base + landed));
    if (!moved.hasValue())
        return moved.error();
    base += landed;
    const auto cut = static_cast<std::ptrdiff_t>(landed);
    own.local.erase(own.local.begin(), own.local.begin() + cut);
    own.sent.erase(own.sent.begin(), own.sent.begin() + cut);
    return landed;
}

// The paths that any of the clone's own commits changed, each against the one before it: a file
// edited and then put back byte for byte was still touched, and the server's change to it must
// not be taken for no change at all.
std::set<OdString> touchedPaths(const TrackedFiles& base, const OwnCommits& own) {
    std::set<OdString> touched;
    const TrackedFiles* previous = &base;
    for (const auto& [record, files] : own.local) {
        for (const OdString& path : changedPaths(*previous, files))
            touched.insert(path);
        previous = &files;
    }
    return touched;
}

// Where the clone stands against its server: the newest server commit it holds (its base), the
// server's head, and its own commits after the base, those the server holds already (from a push
// cut off after the server took them) counted into the base.
struct Standing {
    std::uint64_t base = 0;
    std::uint64_t top = 0;
    OwnCommits own;
    std::size_t landed = 0;
};

Expected<Standing> standing(Repository& r, ServerConnection& server) {
    Standing s;
    auto base = numberSetting(r.db, kBaseKey);
    if (!base.hasValue())
        return base.error();
    s.base = base.value();
    auto top = serverHead(server);
    if (!top.hasValue())
        return top.error();
    s.top = top.value();
    if (s.top < s.base)
        return hostError("the server's history ends at commit " + std::to_string(s.top) +
                         ", before commit " + std::to_string(s.base) +
                         " this clone took from it: is the remote another repository?");
    const std::uint64_t head = r.cache.value().read().head.commit.value_or(0);
    if (head < s.base)
        return hostError("HEAD is commit " + std::to_string(head) +
                         ", older than the server's commit " + std::to_string(s.base) +
                         " this clone holds");
    auto own = ownCommits(r, s.base);
    if (!own.hasValue())
        return own.error();
    s.own = std::move(own.value());
    auto landed = takeLanded(r, server, s.base, s.top, s.own);
    if (!landed.hasValue())
        return landed.error();
    s.landed = landed.value();
    return s;
}

void noteLanded(std::size_t landed) {
    if (landed > 0)
        std::printf("the server holds %s of this clone already, from a push that was cut off\n",
                    plural(landed, "commit", "commits").c_str());
}

}  // namespace

Expected<ServerConnection> connectRemote(Database& db, Reporter& reporter) {
    auto conninfo = db.remoteSetting(kRemoteKey);
    if (!conninfo.hasValue())
        return conninfo.error();
    if (!conninfo.value())
        return hostError("this repository has no remote (rvk remote set CONNINFO names one)");
    auto server = ServerConnection::connect(*conninfo.value(), reporter);
    if (!server.hasValue())
        return server;
    auto sound = server.value().checkSchema();
    if (!sound.hasValue())
        return sound.error();
    return server;
}

int pullInto(Repository& r, ServerConnection& server, const char* verb) {
    const Completed completed = orFail(finishPending(r));
    if (completed.wasCutOff)
        std::printf("completed the pull that was cut off (%s updated)\n",
                    plural(completed.files, "working file", "working files").c_str());
    Standing standing = orFail(rvk::standing(r, server));
    noteLanded(standing.landed);
    const std::uint64_t base = standing.base, top = standing.top;
    const std::uint64_t head = r.cache.value().read().head.commit.value_or(0);
    const OwnCommits& own = standing.own;
    if (top == 0) {
        std::printf("%s nothing: the server has no commit yet\n", verb);
        return 0;
    }
    if (top == base) {
        std::printf("%s nothing: already up to date with the server (commit %llu)\n", verb,
                    static_cast<unsigned long long>(top));
        return 0;
    }
    const auto fetched = orFail(fetchCommits(server, base, top));
    for (const ServerCommit& c : fetched) {
        for (const ServerChange& change : c.changes)
            orFail(checkChange(r.root, change));
    }

    // The server's snapshots, from the clone's base on.
    const auto baseFiles =
        orFail(r.db.trackedFiles(base ? boost::optional<std::uint64_t>(base) : boost::none));
    std::vector<TrackedFiles> snapshots;
    std::map<OdString, std::string> digests;
    std::vector<std::pair<OdString, std::string>> wanted;  // copies to fetch, in order
    std::map<OdString, OdString> wantedFor;                 // a path each copy is of, for messages
    TrackedFiles files = baseFiles;
    for (const ServerCommit& c : fetched) {
        for (const ServerChange& change : c.changes) {
            const OdString path = localPath(change.path);
            if (!change.url) {
                files.erase(path);
                continue;
            }
            const OdString url = fromUtf8(*change.url);
            files[path] = url;
            const auto known = digests.find(url);
            if (known != digests.end() && known->second != *change.sha256)
                return fail(hostError("the server names two copies as " + quoteName(*change.url)));
            digests[url] = *change.sha256;
            if (wantedFor.emplace(url, path).second)
                wanted.emplace_back(url, *change.sha256);
        }
        snapshots.push_back(files);
    }
    const TrackedFiles& serverFiles = snapshots.back();

    // HEAD's files after the pull: the server's, with the changes of each of the clone's own
    // commits on top, commit by commit.
    std::vector<TrackedFiles> replayed;
    {
        TrackedFiles next = serverFiles;
        const TrackedFiles* previous = &baseFiles;
        for (const auto& [record, commitFiles] : own.local) {
            for (const OdString& path : changedPaths(*previous, commitFiles)) {
                const auto now = commitFiles.find(path);
                if (now == commitFiles.end())
                    next.erase(path);
                else
                    next[path] = now->second;
            }
            replayed.push_back(next);
            previous = &commitFiles;
        }
    }

    // Refused before anything changes: a file changed on both sides (in a commit of this clone's,
    // staged, or in the working tree), and a file the working tree cannot take.
    std::set<OdString> changedHere = touchedPaths(baseFiles, own);
    for (const common::StagedFile& staged : r.cache.value().read().stagedFiles)
        changedHere.insert(staged.path);
    PullPlan plan = orFail(planPull(r.db, r.root, baseFiles, serverFiles, digests));
    std::set<OdString> conflicts(plan.conflicts.begin(), plan.conflicts.end());
    for (const OdString& path : changedPaths(baseFiles, serverFiles)) {
        if (changedHere.count(path) > 0)
            conflicts.insert(path);
    }
    plan.conflicts.assign(conflicts.begin(), conflicts.end());
    for (Blocked& clash : folderClashes(replayed.empty() ? serverFiles : replayed.back()))
        plan.blocked.push_back(std::move(clash));
    if (!plan.conflicts.empty() || !plan.blocked.empty())
        return fail(refusal(plan));

    // The copies, each whole and checked before it is stored, and all on disk before any commit
    // names them.
    auto store = databaseCopies(server);
    std::vector<std::pair<OdString, std::string>> missing;
    for (const auto& [url, sha256] : wanted) {
        const auto record = orFail(r.db.copyRecord(url));
        const auto stored = orFail(storedCopyPath(r.root, url));
        const bool there = ut::FileName(stored).exists(ut::FileName::kRegularFile);
        if (record && utf8(record->digest) != sha256 &&
            common::urlToType(url) != common::FileStorage::Generic)
            return fail(hostError("the server's copy " + quotePath(url) +
                                  " differs from the one this clone holds under that URL"));
        if (!there || (!record && common::urlToType(url) != common::FileStorage::Generic))
            missing.emplace_back(url, sha256);
    }
    std::vector<KeptCopy> received;
    {
        Transfer transfer("receiving", missing.size());
        for (const auto& [url, sha256] : missing) {
            received.push_back(orFail(receiveCopy(
                r.root, url, fromUtf8(sha256),
                [&](const std::function<bool(const char*, std::size_t)>& sink) {
                    return store->get(utf8(url), sha256, [&](const char* data, std::size_t n) {
                        transfer.add(static_cast<std::int64_t>(n));
                        return sink(data, n);
                    });
                },
                quotePath(wantedFor[url]))));
            transfer.file();
        }
    }
    std::int64_t bytes = 0;
    for (const KeptCopy& k : received)
        bytes += k.size;
    orFail(flushStoredCopies(r.root));

    // The commits: the server's, then the clone's own on top, with the new base and the note of
    // the working files to update, in one transaction.
    orFail(r.db.begin());
    orFail(r.db.deleteCommitsAfter(base));
    for (std::size_t i = 0; i < fetched.size(); ++i) {
        const ServerCommit& c = fetched[i];
        CommitRecord record;
        record.id = c.id;
        record.time = c.time;
        record.message = fromUtf8(c.message);
        if (c.id > 1)
            record.parent = c.id - 1;
        orFail(r.db.insertCommit(record, snapshots[i], i == 0 ? received : std::vector<KeptCopy>()));
    }
    std::uint64_t newHead = top;
    for (std::size_t i = 0; i < own.local.size(); ++i) {
        CommitRecord moved = own.local[i].first;
        moved.id = ++newHead;
        moved.parent = newHead - 1;
        orFail(r.db.insertCommit(moved, replayed[i]));
    }
    orFail(r.db.setRemoteSetting(kBaseKey, std::to_string(top)));
    orFail(r.db.setRemoteSetting(kPendingKey, std::to_string(head) + " " +
                                                  std::to_string(newHead) + " " +
                                                  std::to_string(base)));
    orFail(r.db.commit());

    const std::size_t updated = orFail(finishPending(r)).files;
    std::string line = std::string(verb) + " " + plural(fetched.size(), "commit", "commits") +
                       " (" + plural(received.size(), "copy", "copies") + ", " + mib(bytes) +
                       " received; " + plural(updated, "working file", "working files") +
                       " updated)";
    if (!own.local.empty())
        line += ", " + plural(own.local.size(), "commit", "commits") + " of this clone put on top";
    std::printf("%s: HEAD is commit %llu\n", line.c_str(), static_cast<unsigned long long>(newHead));
    return 0;
}

int pull(const std::vector<std::string>& args, const Session& session) {
    if (!parseArguments("pull", args, {}).operands.empty())
        throw BadUsage{"pull: takes no arguments"};
    auto repo = orFail(openRepository(session));
    auto server = orFail(connectRemote(repo.db, session.reporter));
    return pullInto(repo, server, "pulled");
}

int push(const std::vector<std::string>& args, const Session& session) {
    if (!parseArguments("push", args, {}).operands.empty())
        throw BadUsage{"push: takes no arguments"};
    auto repo = orFail(openRepository(session));
    Repository& r = repo;
    auto server = orFail(connectRemote(r.db, session.reporter));
    // A pull cut off before HEAD moved would leave HEAD on an id that now means another commit.
    orFail(finishPending(r));
    const Standing standing = orFail(rvk::standing(r, server));
    const std::uint64_t base = standing.base;
    const std::size_t landed = standing.landed;
    if (standing.top > base)
        return fail(hostError("the server has commits this clone lacks: run rvk pull first"));
    const std::vector<ServerCommit>& commits = standing.own.sent;
    if (commits.empty()) {
        std::printf("pushed %s: the server's head is commit %llu\n",
                    landed ? plural(landed, "commit", "commits").c_str() : "nothing",
                    static_cast<unsigned long long>(base));
        return 0;
    }

    // The copies the server lacks, each in a transaction of its own.
    auto store = databaseCopies(server);
    std::vector<std::pair<std::string, std::string>> needed;
    std::set<std::pair<std::string, std::string>> seen;
    for (const ServerCommit& c : commits) {
        for (const ServerChange& change : c.changes) {
            if (change.url && seen.insert({*change.url, *change.sha256}).second &&
                !orFail(store->has(*change.url, *change.sha256)))
                needed.emplace_back(*change.url, *change.sha256);
        }
    }
    std::int64_t total = 0;
    std::vector<std::int64_t> sizes;
    for (const auto& [url, sha256] : needed) {
        FileStat info;
        const auto stored = orFail(storedCopyPath(r.root, fromUtf8(url)));
        if (lookAt(utf8(stored), &info) != PathKind::file)
            return fail(hostError("the stored copy " + quoteName(url) + " is missing; see rvk verify"));
        sizes.push_back(info.size);
        total += info.size;
    }
    {
        Transfer transfer("sending", needed.size());
        for (std::size_t i = 0; i < needed.size(); ++i) {
            const auto& [url, sha256] = needed[i];
            orFail(store->put(url, sha256, sizes[i], [&](const ChunkSink& sink) {
                return readCopy(r.root, fromUtf8(url), [&](const char* data, std::size_t n) {
                    transfer.add(static_cast<std::int64_t>(n));
                    return sink(data, n);
                });
            }));
            transfer.file();
        }
    }

    const auto appended = orFail(appendCommits(server, base, commits));
    if (appended.behind)
        return fail(hostError("the server has commits this clone lacks: run rvk pull first"));
    if (!appended.lockedByOthers.empty()) {
        std::string text = "push changes nothing: it changes files that others have locked:";
        for (const LockRecord& l : appended.lockedByOthers)
            text += "\n  " + shownPath(l.path) + " (locked by " + quoteName(l.holder) + " since " +
                    l.taken + ")";
        return fail(hostError(text));
    }
    orFail(r.db.setRemoteSetting(kBaseKey, std::to_string(appended.head)));
    std::printf("pushed %s (%s, %s sent): the server's head is commit %llu\n",
                plural(commits.size() + landed, "commit", "commits").c_str(),
                plural(needed.size(), "copy", "copies").c_str(), mib(total).c_str(),
                static_cast<unsigned long long>(appended.head));
    return 0;
}

// Turns the clone's own commits, those the server lacks, back into staged changes: HEAD goes back
// to the clone's base, and what the commits changed against it is staged, beside what was staged
// already. Working files stay as they are, so no work is lost and a refused push never traps it.
// The state file is written first: cut off after it, the commits are left in rvk.db where HEAD no
// longer reaches them, and the next uncommit or pull removes them.
int uncommit(const std::vector<std::string>& args, const Session& session) {
    if (!parseArguments("uncommit", args, {}).operands.empty())
        throw BadUsage{"uncommit: takes no arguments"};
    auto repo = orFail(openRepository(session));
    Repository& r = repo;
    orFail(checkNoCutOffPull(r.db));
    auto server = orFail(connectRemote(r.db, session.reporter));
    const Standing standing = orFail(rvk::standing(r, server));
    noteLanded(standing.landed);
    const std::uint64_t base = standing.base;
    const OwnCommits& own = standing.own;
    if (own.local.empty()) {
        orFail(r.db.begin());
        orFail(r.db.deleteCommitsAfter(base));
        orFail(r.db.commit());
        std::printf("nothing to uncommit: the server holds every commit of this clone\n");
        return 0;
    }

    using common::EFileChange;
    const TrackedFiles baseFiles =
        orFail(r.db.trackedFiles(base ? boost::optional<std::uint64_t>(base) : boost::none));
    const TrackedFiles& headFiles = own.local.back().second;
    const auto against = [&](const OdString& path, bool present) -> boost::optional<EFileChange> {
        const bool known = baseFiles.count(path) > 0;
        if (!known && !present)
            return boost::none;
        return !known ? EFileChange::added : present ? EFileChange::modified : EFileChange::removed;
    };
    std::map<OdString, EFileChange, bool (*)(const OdString&, const OdString&)> staged(byBytes);
    for (const OdString& path : changedPaths(baseFiles, headFiles)) {
        if (const auto change = against(path, headFiles.count(path) > 0))
            staged[path] = *change;
    }
    // What was staged counts against the last commit; now it counts against the base.
    for (const common::StagedFile& file : r.cache.value().read().stagedFiles) {
        const auto change = against(file.path, file.change != EFileChange::removed);
        if (change)
            staged[file.path] = *change;
        else
            staged.erase(file.path);
    }

    const auto written = changeState(r.cache.value(), *r.io, [&](common::State& state) {
        state.head.commit = base ? boost::optional<std::uint64_t>(base) : boost::none;
        state.stagedFiles.clear();
        for (const auto& [path, change] : staged)
            state.stagedFiles.emplace_back(path, change);
    });
    if (!written.hasValue())
        return 1;
    orFail(r.db.begin());
    orFail(r.db.deleteCommitsAfter(base));
    orFail(r.db.commit());
    std::printf("uncommitted %s: HEAD is %s; their changes are staged\n",
                plural(own.local.size(), "commit", "commits").c_str(),
                base ? ("commit " + std::to_string(base)).c_str() : "on no commit");
    for (const auto& [path, change] : staged)
        std::printf("%-2s %s\n", stagedCode(change), quotePath(path).c_str());
    return 0;
}

int clone(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("clone", args, {});
    if (parsed.operands.size() != 2)
        throw BadUsage{"clone: give CONNINFO and DIR"};
    const std::string conninfo = parsed.operands[0];
    orFail(checkConnInfo(conninfo));
    // Without its ".." ("../plans" typed inside a working tree would otherwise lead the search for
    // a repository up into that tree's own).
    const OdString full = ut::FileName(fromArg(parsed.operands[1])).getFullPath();
    auto typed = std::filesystem::u8path(utf8(full)).lexically_normal();
    if (!typed.has_filename() && typed.has_relative_path())
        typed = typed.parent_path();  // "plans/" is the folder "plans"
    const std::string where = typed.u8string();
    const OdString folder = fromUtf8(where);
    const PathKind there = lookAt(where);
    if (there == PathKind::none) {
        if (!makeFolder(where))
            return fail(hostError("cannot make " + quotePath(folder) + ": " + lastSystemError()));
    } else if (there != PathKind::folder) {
        return fail(hostError(quotePath(folder) + " is not a folder"));
    }
    // A clone that was cut off is taken up again; any other repository or file there is not, nor
    // a folder inside another repository's working tree, whose repository the clone would take
    // for its own.
    const auto found = common::RootPath::get(folder, false);
    if (found.hasValue() && found.value().path() != folder) {
        if (there == PathKind::none)
            removeEmptyFolder(where);
        return fail(hostError(quotePath(folder) + " lies inside the working tree of " +
                              quotePath(found.value().path()) +
                              ": clone makes a repository of its own, outside any other"));
    }
    const bool resumed = found.hasValue();
    Session exclusive{session.io, session.reporter, session.lockTimeout, LockMode::exclusive};
    {
        if (!resumed) {
            std::error_code ec;
            if (!std::filesystem::is_empty(std::filesystem::u8path(where), ec))
                return fail(hostError(quotePath(folder) +
                                      " is not empty: clone makes a repository in an empty folder"));
        }
        const auto root = orFail(common::RootPath::get(folder, true));
        orFail(checkRepositoryFolder(root));
        const auto held = orFail(lockFor(exclusive, root));
        auto db = orFail(Database::create(root.dbPath()));
        const auto before = orFail(db.remoteSetting(kRemoteKey));
        if (resumed && before != conninfo)
            return fail(hostError(quotePath(folder) +
                                  " holds a repository that is no clone of this remote"));
        auto cache = orFail(common::Cache::get(root, true, session.io));
        orFail(db.setRemoteSetting(kRemoteKey, conninfo));
    }
    if (!enterFolder(where))
        return fail(hostError("cannot enter " + quotePath(folder) + ": " + lastSystemError()));
    auto repo = orFail(openRepository(exclusive));
    auto server = orFail(connectRemote(repo.db, session.reporter));
    const int result = pullInto(repo, server, "cloned");
    if (result == 0 && !ut::FileName(repo.root.ignorePath()).exists(ut::FileName::kAnyObject))
        orFail(common::RepoIgnore::write(repo.root));
    return result;
}

Expected<Repository> openRepository(const Session& session) {
    const auto kit = session.kit();
    if (!kit.hasValue())
        return kit.error();
    return client::openRepository(kit.value(), session.lockMode);
}

Expected<Place> findRoot(const Session& session) {
    const auto kit = session.kit();
    if (!kit.hasValue())
        return kit.error();
    return client::findRoot(kit.value());
}

Expected<common::RepoLock> lockFor(const Session& session, const common::RootPath& root) {
    // Taking a lock needs no current folder.
    const client::Session kit{session.io, session.reporter, OdString(), session.lockTimeout};
    return client::lockFor(kit, root, session.lockMode);
}

}  // namespace rvk

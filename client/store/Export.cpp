// export: the files of a commit written into a new folder from the stored copies, with a register
// of them (path, size, digest, the commit that last changed each file and its author).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <common/RootPath.h>

#include <client/HistoryView.h>
#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/store/HostStorage.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>
#include <client/tree/WindowsNames.h>

namespace client {

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

// Where the export goes: the new folder, and the folder that holds it, both with their links
// resolved.
struct Target {
    std::string parent;
    std::string folder;
};

Expected<Target> exportTarget(const Session& session, const OdString& typed) {
    std::string full = absolutePath(utf8(typed), utf8(session.folder));
    while (full.size() > 1 && full.back() == '/')
        full.pop_back();
    const std::string shown = quoteName(utf8(typed));
    if (lookAt(full) != PathKind::none)
        return hostError(shown + " exists already: export makes a new folder");
    const std::size_t slash = full.rfind('/');
    const std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
    if (slash == std::string::npos || name.empty() || name == "." || name == "..")
        return hostError(shown + " names no new folder");
    // "/x" lies in "/", and "C:/x" in "C:/" (not in "C:", the current folder of drive C).
    std::string parent = full.substr(0, slash);
    if (parent.empty() || parent.back() == ':')
        parent += '/';
    Target target;
    // The parent as the system reaches it: "..", links and letter case are the file system's
    // business, and the repository is looked for from there.
    if (!resolveFolder(parent, target.parent))
        return hostError("cannot export into " + shown +
                         ": the folder that would hold it is not "
                         "there (" +
                         lastSystemError() + ")");
    const auto inside = common::RootPath::get(fromUtf8(target.parent), false);
    if (inside.hasValue())
        return hostError(shown + " lies inside the working tree of " +
                         quotePath(inside.value().path()) +
                         ": export makes a folder outside every working tree, where its files "
                         "would count as new ones");
    target.folder = target.parent + (target.parent.back() == '/' ? "" : "/") + name;
    return target;
}

// Nanoseconds since 1970 of a commit's time, held within what they can count.
std::int64_t timeNs(std::int64_t seconds) {
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / kNsPerSecond;
    return std::clamp(seconds, -kLimit, kLimit) * kNsPerSecond;
}

// A file of the commit, as export writes it.
struct Item {
    std::string path;  // '/'-separated, UTF-8
    OdString local;    // as the database has it
    OdString url;
    std::size_t changedBy = 0;  // its entry in the commit's history
};

// The commit's files that export writes, by the bytes of their '/'-separated paths, each checked
// as restore checks the database's paths.
Expected<std::vector<Item>> itemsOf(std::uint64_t id, const TrackedFiles& files) {
    std::vector<Item> items;
    const std::string repository = utf8(common::RootPath::repositoryDirName());
    for (const auto& [path, url] : files) {
        const std::string slashedPath = slashed(utf8(path));
        if (!isTrackablePath(slashedPath))
            return hostError("the database names the path " + quotePath(path) + " in commit " +
                             std::to_string(id) +
                             ", which leads outside the working tree or into .rvk");
        // The repository's own settings, which make no part of an issued set.
        if (slashedPath.compare(0, repository.size() + 1, repository + "/") == 0)
            continue;
        if (windowsFolding(slashedPath) == windowsFolding(kRegisterName))
            return hostError("commit " + std::to_string(id) + " has a file " + quotePath(path) +
                             " at its root, where export puts its register " + kRegisterName +
                             ": nothing was exported");
        if (hostNaming().windowsNames) {
            if (const auto problem = windowsNameProblem(slashedPath))
                return hostError("cannot export " + quotePath(path) + ": " + *problem);
        }
        items.push_back(Item{slashedPath, path, url});
    }
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.path < b.path; });
    if (hostNaming().windowsNames) {
        std::vector<std::string> paths;
        for (const Item& item : items)
            paths.push_back(item.path);
        const auto clashes = caseClashes(paths);
        if (!clashes.empty())
            return hostError("cannot export " + quoteName(clashes.front().paths.front()) + " and " +
                             quoteName(clashes.front().paths.back()) +
                             ": they differ only in letter case, and this system takes them for "
                             "one file");
    }
    return items;
}

// Finds for each item the newest commit of `history` (the commit's, newest first) that gave it
// its URL: walking back, the first whose parent gave the path another URL or none. Stops as soon
// as every item is placed, so that files changed lately cost few commits' lists.
Expected<void> findChanges(Database& db, const std::vector<CommitRecord>& history,
                           std::vector<Item>& items) {
    std::vector<Item*> open;
    for (Item& item : items)
        open.push_back(&item);
    for (std::size_t i = 0; i < history.size() && !open.empty(); ++i) {
        TrackedFiles parent;
        if (i + 1 < history.size()) {
            auto files = db.trackedFiles(history[i + 1].id);
            if (!files.hasValue())
                return files.error();
            parent = std::move(files.value());
        }
        std::vector<Item*> still;
        for (Item* item : open) {
            const auto before = parent.find(item->local);
            if (before != parent.end() && before->second == item->url)
                still.push_back(item);
            else
                item->changedBy = i;
        }
        open.swap(still);
    }
    return {};
}

// `text` as one field of a register line (RFC 4180).
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// The folder an export is built in, and all that was made in it: removed again, deepest first,
// unless it was renamed into place. Only what the export made is removed, never anything else.
class Building {
public:
    ~Building() {
        if (m_root.empty())
            return;
        for (auto it = m_files.rbegin(); it != m_files.rend(); ++it)
            removeFile(*it);
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it)
            removeEmptyFolder(*it);
        removeEmptyFolder(m_root);
    }

    // Makes a hidden folder in `parent` that no one else uses.
    Expected<void> start(const std::string& parent) {
        const std::string stem = parent + (parent.back() == '/' ? "" : "/") + ".rvk-export-" +
                                 std::to_string(ut::sys::processId()) + "-";
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = stem + std::to_string(attempt);
            if (makeFolder(candidate)) {
                m_root = candidate;
                return {};
            }
            if (errno != EEXIST)
                break;
        }
        return hostError("cannot make a folder in " + quoteName(parent) + ": " + lastSystemError());
    }
    const std::string& root() const { return m_root; }

    // The place of `path` ('/'-separated) in the folder, its folders made.
    Expected<std::string> placeFor(const std::string& path) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            const std::string folder = m_root + "/" + path.substr(0, slash);
            if (m_made.count(folder) > 0)
                continue;
            if (makeFolder(folder)) {
                m_folders.push_back(folder);
            } else if (errno != EEXIST || lookAt(folder) != PathKind::folder) {
                // A folder that exists already is one of ours in another letter case.
                return hostError("cannot export " + quoteName(path) + ": " + lastSystemError());
            }
            m_made.insert(folder);
        }
        const std::string place = m_root + "/" + path;
        // Where names differ in letter case alone and the system takes them for one, the second
        // would replace the first.
        if (lookAt(place) != PathKind::none)
            return hostError("cannot export " + quoteName(path) +
                             ": another file of the commit has that name on this system");
        return place;
    }
    void made(const std::string& file) { m_files.push_back(file); }

    // Renames the folder to `target`; nothing is removed after that.
    Expected<void> finish(const std::string& target, const std::string& shown) {
        if (!flushFileSystem(m_root))
            return hostError("cannot flush " + quoteName(shown) + " to disk: " + lastSystemError());
        if (!renameFolder(m_root, target))
            return hostError("cannot make " + quoteName(shown) + ": " +
                             (errno == EEXIST || errno == ENOTEMPTY
                                  ? std::string("something was put there meanwhile")
                                  : lastSystemError()));
        m_root.clear();
        return {};
    }

private:
    std::string m_root;
    std::vector<std::string> m_files;
    std::vector<std::string> m_folders;
    std::set<std::string> m_made;
};

Expected<void> writeRegister(Building& building, const std::string& text, std::int64_t modifiedNs) {
    ut::sys::TemporaryFile out;
    const std::string target = building.root() + "/" + kRegisterName;
    if (!out.create(fromUtf8(building.root()), OdString(L".register-")) ||
        !out.writeAll(text.data(), text.size()) || !finishCopy(out, false, modifiedNs))
        return hostError(std::string("cannot write the register ") + kRegisterName + ": " +
                         lastSystemError());
    const std::string temp = utf8(out.keep());
    if (!placeCopy(temp, target))
        return hostError(std::string("cannot write the register ") + kRegisterName + ": " +
                         lastSystemError());
    building.made(target);
    return {};
}

}  // namespace

std::string registerCsv(const std::vector<RegisterRow>& rows) {
    std::string text = "path,size,sha256,commit,author\n";
    for (const RegisterRow& row : rows)
        text += csvField(row.path) + "," + std::to_string(row.size) + "," + row.sha256 + "," +
                std::to_string(row.commit) + "," + csvField(row.author) + "\n";
    return text;
}

Expected<Exported> exportCommit(const Session& session, std::uint64_t commit,
                                const OdString& folder) {
    const auto target = exportTarget(session, folder);
    if (!target.hasValue())
        return target.error();
    auto repo = openRepository(session, LockMode::shared);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    const auto known = r.db.hasCommit(commit);
    if (!known.hasValue())
        return known.error();
    if (!known.value())
        return hostError("there is no commit " + std::to_string(commit) + " in this clone");
    const auto history = r.db.history(commit);
    if (!history.hasValue())
        return history.error();
    const auto files = r.db.trackedFiles(commit);
    if (!files.hasValue())
        return files.error();
    auto items = itemsOf(commit, files.value());
    if (!items.hasValue())
        return items.error();
    if (const auto found = findChanges(r.db, history.value(), items.value()); !found.hasValue())
        return found.error();

    Building building;
    if (const auto started = building.start(target.value().parent); !started.hasValue())
        return started.error();
    Exported outcome;
    std::vector<RegisterRow> rows;
    for (const Item& item : items.value()) {
        if (const auto going = advance(session, "exporting", outcome.files, items.value().size(),
                                       static_cast<std::uint64_t>(outcome.bytes));
            !going.hasValue())
            return going.error();
        const CommitRecord& by = history.value()[item.changedBy];
        const auto digest = expectedDigest(r.db, item.url);
        if (!digest.hasValue())
            return digest.error();
        const auto place = building.placeFor(item.path);
        if (!place.hasValue())
            return place.error();
        const auto copied = exportCopy(r.root, item.url, digest.value(), place.value(),
                                       utf8(item.local), timeNs(by.time));
        if (!copied.hasValue())
            return hostError(utf8(copied.error().message) + "; nothing was exported");
        building.made(place.value());
        ++outcome.files;
        outcome.bytes += copied.value().size;
        rows.push_back(RegisterRow{item.path, copied.value().size, utf8(copied.value().digest),
                                   by.id, utf8(by.author)});
    }
    if (const auto written =
            writeRegister(building, registerCsv(rows), timeNs(history.value().front().time));
        !written.hasValue())
        return written.error();
    if (const auto placed = building.finish(target.value().folder, utf8(folder));
        !placed.hasValue())
        return placed.error();
    session.reporter.progress(Progress{"exporting", outcome.files, outcome.files,
                                       static_cast<std::uint64_t>(outcome.bytes)});
    flushFileSystem(target.value().parent);
    outcome.folder = fromUtf8(target.value().folder);
    return outcome;
}

}  // namespace client

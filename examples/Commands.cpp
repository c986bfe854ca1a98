#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "HostFiles.h"

namespace host {

OdString fromArg(const std::string& arg) {
    return OdString(arg.data(), arg.size(), kCodePageUtf8);
}

const char* stagedCode(common::EFileChange change) {
    switch (change) {
        case common::EFileChange::modified:
            return "M+";
        case common::EFileChange::added:
            return "A+";
        case common::EFileChange::removed:
            return "D+";
    }
    return "?+";
}

int fail(const ErrorMessage& error) {
    printError(error);
    return 1;
}

Expected<OdString> currentFolder() {
    std::string path;
    if (!currentFolderPath(path))
        return hostError("cannot find the current folder: " + lastSystemError());
    return OdString(path.data(), path.size(), kCodePageUtf8);
}

Arguments parseArguments(const char* command, const std::vector<std::string>& args,
                         std::initializer_list<const char*> flags,
                         std::initializer_list<const char*> valued) {
    Arguments parsed;
    const auto among = [](std::initializer_list<const char*> names, const std::string& word) {
        return std::any_of(names.begin(), names.end(), [&](const char* n) { return word == n; });
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--") {
            parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            parsed.operands.push_back(word);
            continue;
        }
        const std::string shown = quoteName(shortened(word));
        if (!among(flags, word) && !among(valued, word))
            throw BadUsage{std::string(command) + ": " + shown + " is no option of rvk " + command +
                           " (put -- before a name that begins with '-')"};
        if (parsed.has(word))
            throw BadUsage{std::string(command) + ": " + shown + " is given twice"};
        if (among(valued, word)) {
            if (i + 1 == args.size())
                throw BadUsage{std::string(command) + ": " + shown + " needs a value after it"};
            parsed.options[word] = args[++i];
        } else {
            parsed.options[word];
        }
    }
    return parsed;
}

bool wantsAll(const char* command, const Arguments& parsed, const char* operands) {
    const bool all = parsed.has("--all");
    if (all && !parsed.operands.empty())
        throw BadUsage{std::string(command) + ": give " + operands + " or --all, not both"};
    if (!all && parsed.operands.empty())
        throw BadUsage{std::string(command) + ": name the files to " + command + ", or give --all"};
    return all;
}

Expected<Place> findRoot() {
    const auto here = currentFolder();
    if (!here.hasValue())
        return here.error();
    const auto root = common::RootPath::get(here.value(), false);
    if (!root.hasValue())
        return root.error();
    const auto sound = checkRepositoryFolder(root.value());
    if (!sound.hasValue())
        return sound.error();
    return placeOf(root.value(), here.value());
}

Expected<void> checkRepositoryFolder(const common::RootPath& root) {
    const std::pair<OdString, const char*> entries[] = {{root.rvkPath(), "folder"},
                                                        {root.objectStorePath(), "folder"},
                                                        {root.drawingStorePath(), "folder"},
                                                        {root.propertiesPath(), "folder"},
                                                        {root.dbPath(), "file"},
                                                        {root.statePath(), "file"}};
    for (const auto& [path, kind] : entries) {
        if (lookAt(utf8(path)) == PathKind::link)
            return hostError(quoteName(utf8(path)) +
                             " is a symbolic link: rvk follows no link inside a repository "
                             "folder, so it reads and writes nothing there; put the real " +
                             kind + " in its place");
    }
    return {};
}

Expected<Repository> openRepository(const Session& session) {
    auto place = findRoot();
    if (!place.hasValue())
        return place.error();
    const common::RootPath& root = place.value().root;
    auto lock = session.lock(root);
    if (!lock.hasValue())
        return lock.error();
    auto cache = common::Cache::get(root, false, session.io);
    if (!cache.hasValue())
        return cache.error();
    auto db = Database::open(root.dbPath());
    if (!db.hasValue())
        return db.error();
    auto head = db.value().trackedFiles(cache.value().read().head.commit);
    if (!head.hasValue())
        return head.error();
    return Repository{std::move(lock.value()), root,
                      place.value(),           std::move(cache),
                      std::move(db.value()),   std::move(head.value())};
}

}  // namespace host

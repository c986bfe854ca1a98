#include "WorkingTree.h"

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>

#include <common/ContentHash.h>
#include <common/WorkingTreeScan.h>
#include <platform/FileName.h>

#include "Console.h"

namespace host {

namespace {

Expected<std::vector<common::PossibleRepoFile>> scan(const common::RootPath& root) {
    try {
        return common::collectRelPaths(root);
    } catch (const std::regex_error& e) {
        return hostError(std::string("the ignore file .rvk/properties/ignore holds a rule that is "
                                     "no valid regular expression: ") +
                         e.what());
    }
}

template <typename Record>
void sortByPath(std::vector<Record>& records) {
    std::sort(records.begin(), records.end(),
              [](const Record& a, const Record& b) { return byBytes(a.path, b.path); });
}

}  // namespace

bool byBytes(const OdString& a, const OdString& b) {
    return std::strcmp(a.ansi_str(), b.ansi_str()) < 0;
}

Expected<common::RepoChanges> sortWorkingTree(const common::RootPath& root,
                                              const TrackedFiles& tracked) {
    const auto scanned = scan(root);
    if (!scanned.hasValue())
        return scanned.error();

    common::RepoChanges changes;
    Progress progress("checking");
    std::size_t checked = 0;
    // Only tracked files are counted: testing them is what can take long, since a generic file
    // whose time does not decide is read whole and hashed.
    const auto test = [&](const OdString& path, const OdString& url) -> Expected<void> {
        progress.update(++checked, tracked.size());
        const auto modified = common::isModified(path, url, root);
        if (!modified.hasValue())
            return modified.error();
        if (modified.value())
            changes.modified.emplace_back(path);
        else
            changes.unchanged.emplace_back(path, url);
        return {};
    };

    std::set<OdString> present;
    for (const common::PossibleRepoFile& file : scanned.value()) {
        present.insert(file.path);
        const auto entry = tracked.find(file.path);
        if (entry == tracked.end()) {
            changes.untracked.push_back(file);
            continue;
        }
        const auto tested = test(entry->first, entry->second);
        if (!tested.hasValue())
            return tested.error();
    }
    for (const auto& [path, url] : tracked) {
        if (present.count(path) != 0)
            continue;
        const int fileKinds = ut::FileName::kRegularFile | ut::FileName::kSymbolicLink;
        if (!ut::FileName(root.pathTo(path)).exists(fileKinds)) {
            changes.removed.emplace_back(path, url);
            continue;
        }
        const auto tested = test(path, url);
        if (!tested.hasValue())
            return tested.error();
    }
    sortByPath(changes.unchanged);
    sortByPath(changes.modified);
    sortByPath(changes.untracked);
    sortByPath(changes.removed);
    return changes;
}

}  // namespace host

#include "WorkingTree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>

#include <common/ContentHash.h>
#include <common/RepoIgnore.h>
#include <common/WorkingTreeScan.h>
#include <platform/FileName.h>
#include <platform/TextFile.h>

#include "Console.h"

namespace host {

namespace {

// The library refuses the ignore file as a whole; to name the rule, each line is given to it
// alone, in a scratch repository, in the order the library reads them (up to the first empty
// line). Gives ", line N: 'rule'", or nothing when no single line is refused.
std::string refusedRule(const common::RootPath& root) {
    const OdString separator = ut::FileName::getPathSeparator();
    ut::TextFile file(root.propertiesPath() + separator + L"ignore");
    if (!file.open(nullptr))
        return {};
    std::string scratch = (std::filesystem::temp_directory_path() / "rvk-ignore-XXXXXX").string();
    if (!mkdtemp(scratch.data()))
        return {};
    const OdString scratchPath(scratch.c_str(), kCodePageUtf8);
    std::string found;
    const auto scratchRoot = common::RootPath::get(scratchPath, true);
    std::size_t number = 1;
    for (OdString line = file.getFirstLine(); scratchRoot.hasValue() && !line.isEmpty();
         line = file.getNextLine(), ++number) {
        ut::TextFile alone(scratchRoot.value().propertiesPath() + separator + L"ignore");
        alone.create();
        alone.addLine(line);
        if (!alone.write(nullptr, nullptr, 0))
            break;
        try {
            common::RepoIgnore ignore(scratchRoot.value());
        } catch (const std::regex_error&) {
            found = ", line " + std::to_string(number) + ": '" + shortened(utf8(line)) + "'";
            break;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return found;
}

Expected<std::vector<common::PossibleRepoFile>> scan(const common::RootPath& root) {
    try {
        return common::collectRelPaths(root);
    } catch (const std::regex_error& e) {
        return hostError("the ignore file .rvk/properties/ignore holds a rule that is no valid "
                         "regular expression" + refusedRule(root) + ": " + e.what());
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

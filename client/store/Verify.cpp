// verify: every stored copy a commit names, checked against what was recorded of it.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include <common/FileStorage.h>

#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/store/HostStorage.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>

namespace client {

Expected<Verified> verify(const Session& session) {
    auto repo = openRepository(session, LockMode::shared);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    const auto uses = r.db.allFiles();
    if (!uses.hasValue())
        return uses.error();
    const auto records = r.db.allCopyRecords();
    if (!records.hasValue())
        return records.error();

    // By URL: the paths and the commits that name each stored copy.
    struct Named {
        std::set<OdString> paths;
        std::set<std::uint64_t> commits;
    };
    std::map<OdString, Named> copies;
    for (const FileUse& use : uses.value()) {
        Named& named = copies[use.url];
        named.paths.insert(use.path);
        named.commits.insert(use.commit);
    }

    Verified outcome;
    outcome.copies = copies.size();
    std::uint64_t done = 0, bytes = 0;
    for (const auto& [url, named] : copies) {
        if (const auto going = advance(session, "verifying", done++, copies.size(), bytes);
            !going.hasValue())
            return going.error();
        std::string problem;
        const auto stored = storedCopyPath(r.root, url);
        const auto record = records.value().find(url);
        const bool generic = common::urlToType(url) == common::FileStorage::Generic;
        FileStat info;
        if (!stored.hasValue()) {
            problem = utf8(stored.error().message);
        } else if (lookAt(utf8(stored.value()), &info) != PathKind::file) {
            problem = "missing";
        } else if (record != records.value().end() && record->second.size != info.size) {
            problem = "it holds " + std::to_string(info.size) + " bytes, not the " +
                      std::to_string(record->second.size) + " it was committed with";
        } else if (generic || record != records.value().end()) {
            bytes += static_cast<std::uint64_t>(info.size);
            const OdString want = generic ? url.mid(2) : record->second.digest;
            const auto digest = fileDigest(utf8(stored.value()), utf8(url));
            if (!digest.hasValue())
                problem = utf8(digest.error().message);
            else if (digest.value() != want)
                problem = "its content does not match its digest";
        } else {
            ++outcome.unrecorded;
        }
        if (problem.empty())
            continue;
        outcome.bad.push_back(BadCopy{url, problem,
                                      std::vector<OdString>(named.paths.begin(), named.paths.end()),
                                      std::vector<std::uint64_t>(named.commits.begin(),
                                                                 named.commits.end())});
    }
    session.reporter.progress(Progress{"verifying", done, done, bytes});
    return outcome;
}

}  // namespace client

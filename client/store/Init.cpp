// init: a repository made, or completed, and the state file as the library reads it.
#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/tree/HostFiles.h>
#include <common/RepoIgnore.h>
#include <platform/FileName.h>

namespace client {

Expected<Initialized> init(const OdString& folder, const Session& session) {
    const bool existed = common::RootPath::get(folder, false).hasValue();
    const auto root = common::RootPath::get(folder, true);
    if (!root.hasValue())
        return root.error();
    if (const auto sound = checkRepositoryFolder(root.value()); !sound.hasValue())
        return sound.error();
    // Only now is there a ".rvk" to hold the lock file.
    const auto lock = lockFor(session, root.value(), LockMode::exclusive);
    if (!lock.hasValue())
        return lock.error();
    if (const auto ignore = common::RepoIgnore::write(root.value()); !ignore.hasValue())
        return ignore.error();
    auto db = Database::create(root.value().dbPath());
    if (!db.hasValue())
        return db.error();
    const bool hadState = ut::FileName(root.value().statePath()).exists(ut::FileName::kAnyObject);
    const auto newest = db.value().newestCommit();
    if (!newest.hasValue())
        return newest.error();
    Initialized outcome;
    outcome.root = root.value().path();
    outcome.kind = existed ? Initialized::Kind::existed : Initialized::Kind::made;
    // Made fresh, the state file is written at once and again when the Cache ends.
    CountingIo io(session.io);
    auto cache = common::Cache::get(root.value(), true, io);
    if (!cache.hasValue())
        return cache.error();
    const bool complete = !hadState && newest.value();
    const auto written = changeState(cache.value(), io, [&](common::State& state) {
        if (complete)
            state.head.commit = newest.value();
    });
    if (!written.hasValue())
        return written.error();
    if (complete) {
        outcome.kind = Initialized::Kind::completed;
        outcome.head = *newest.value();
    }
    return outcome;
}

Expected<std::string> stateText(const Session& session) {
    const auto place = findRoot(session);
    if (!place.hasValue())
        return place.error();
    const common::RootPath& root = place.value().root;
    const auto lock = lockFor(session, root, LockMode::shared);
    if (!lock.hasValue())
        return lock.error();
    // Loading it first turns a missing or broken state file into the library's message for it.
    const auto cache = common::Cache::get(root, false, session.io);
    if (!cache.hasValue())
        return cache.error();
    FileStat stat;
    const auto text = MappedFile::map(utf8(root.statePath()), stat);
    return std::string(text.data(), text.size());
}

}  // namespace client

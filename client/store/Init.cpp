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
    const auto made = makeRoot(session, folder);
    if (!made.hasValue())
        return made.error();
    const common::RootPath& root = made.value().root;
    if (const auto ignore = common::RepoIgnore::write(root); !ignore.hasValue())
        return ignore.error();
    auto db = Database::create(root.dbPath());
    if (!db.hasValue())
        return db.error();
    const bool hadState = ut::FileName(root.statePath()).exists(ut::FileName::kAnyObject);
    const auto newest = db.value().newestCommit();
    if (!newest.hasValue())
        return newest.error();
    Initialized outcome;
    outcome.root = root.path();
    outcome.kind = existed ? Initialized::Kind::existed : Initialized::Kind::made;
    // Made fresh, the state file is written at once and again when the Cache ends.
    CountingIo io(session.io);
    auto cache = common::Cache::get(root, true, io);
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
    // Loading it first turns a missing or broken state file into the library's message for it.
    const auto loaded = loadState(session, LockMode::shared, session.io);
    if (!loaded.hasValue())
        return loaded.error();
    const common::RootPath& root = loaded.value().locked.place.root;
    FileStat stat;
    const auto text = MappedFile::map(utf8(root.statePath()), stat);
    return std::string(text.data(), text.size());
}

}  // namespace client

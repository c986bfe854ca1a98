#include "Commands.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "RepositoryLock.h"

namespace host {

Expected<common::RepoLock> lockRepository(const Session& session, const common::RootPath& root) {
    return host::lockRepository(root,
                                session.lockMode == LockMode::shared
                                    ? common::RepoLock::EMode::shared
                                    : common::RepoLock::EMode::exclusive,
                                session.lockTimeout);
}

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
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return hostError(std::string("cannot find the current folder: ") +
                             std::strerror(errno));
        buffer.resize(buffer.size() * 2);
    }
    return OdString(buffer.data(), kCodePageUtf8);
}

Expected<common::RootPath> findRoot() {
    const auto here = currentFolder();
    if (!here.hasValue())
        return here.error();
    return common::RootPath::get(here.value(), false);
}

Expected<Repository> openRepository(const Session& session) {
    auto root = findRoot();
    if (!root.hasValue())
        return root.error();
    auto lock = lockRepository(session, root.value());
    if (!lock.hasValue())
        return lock.error();
    auto cache = common::Cache::get(root.value(), false, session.io);
    if (!cache.hasValue())
        return cache.error();
    auto db = Database::open(root.value().dbPath());
    if (!db.hasValue())
        return db.error();
    auto head = db.value().trackedFiles(cache.value().read().head.commit);
    if (!head.hasValue())
        return head.error();
    return Repository{std::move(lock.value()), root.value(), std::move(cache),
                      std::move(db.value()), std::move(head.value())};
}

}  // namespace host

// status in a clone: the local listing, with what the server says of each file's lock.
#include <algorithm>
#include <map>
#include <utility>

#include <client/SharedOperations.h>
#include <client/SharedState.h>
#include <client/Text.h>
#include <client/shared/ServerConnection.h>
#include <client/shared/ServerLocks.h>
#include <client/shared/ServerPaths.h>

namespace client {

namespace {

struct KnownLocks {
    // By the path as status gives it (UTF-8, the system's separator), in the order status lists.
    std::map<std::string, DrawingLock> byPath;
    std::string role;
};

// The locks, asked before the listing: one connection and one query, however large the tree.
Expected<KnownLocks> askLocks(const std::string& conninfo, Reporter& reporter, int seconds) {
    auto server = ServerConnection::connect(conninfo, reporter, seconds);
    if (!server.hasValue())
        return server.error();
    const auto all = allLocks(server.value());
    if (!all.hasValue())
        return all.error();
    KnownLocks known;
    known.role = server.value().role();
    for (const LockRecord& l : all.value()) {
        const OdString path = localPath(l.path);
        known.byPath.emplace(utf8(path), DrawingLock{path, l.holder, l.taken});
    }
    return known;
}

}  // namespace

Expected<void> statusWithLocks(const Session& session, int seconds,
                               const std::function<void(const StatusEntry&)>& each) {
    const auto sharing = sharingState(session);
    if (!sharing.hasValue() || !sharing.value().remote)
        return status(session, each);
    auto asked = askLocks(*sharing.value().remote, session.reporter, seconds);
    if (!asked.hasValue()) {
        session.reporter.note(hostError("locks not shown: " + utf8(asked.error().message)));
        return status(session, each);
    }
    const KnownLocks& known = asked.value();
    // This role's locks on files status would not list come in their place in the order.
    auto next = known.byPath.begin();
    const auto listMineBefore = [&](const std::string_view* path) {
        for (; next != known.byPath.end() && (path == nullptr || next->first < *path); ++next) {
            if (next->second.holder == known.role)
                each(StatusEntry{"L", next->first, &next->second, true});
        }
    };
    const auto listed = status(session, [&](const StatusEntry& entry) {
        listMineBefore(&entry.path);
        StatusEntry shown = entry;
        const auto found = known.byPath.find(std::string(entry.path));
        if (found != known.byPath.end()) {
            shown.lock = &found->second;
            shown.lockIsMine = found->second.holder == known.role;
            if (next == found)
                ++next;
        }
        each(shown);
    });
    if (!listed.hasValue())
        return listed;
    listMineBefore(nullptr);
    return {};
}

}  // namespace client

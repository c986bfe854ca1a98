// Labels on the server: made by writers on commits the server holds, moved or removed by members
// of rvk_admin, and looked up for restore and export, which need the commit in this clone.
#include <client/SharedOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerLabels.h>
#include <client/shared/Standing.h>

namespace client {

namespace {

Label labelOf(const LabelRecord& record) {
    return Label{record.name, record.commit, record.author, record.made};
}

Expected<void> checkName(const std::string& name) {
    if (const auto problem = labelNameProblem(name))
        return hostError(quoteName(shortened(name)) + " cannot name a label: " + *problem);
    return {};
}

// The commit a label is to name: `named`, or HEAD's. Commit ids after the clone's base are its
// own until they are pushed, and the server's commit of that id, if any, is another one: such a
// commit is refused here rather than labelled by mistake.
Expected<std::uint64_t> commitToLabel(Repository& r, boost::optional<std::uint64_t> named) {
    std::uint64_t id = 0;
    if (named) {
        id = *named;
    } else {
        const auto head = r.cache.value().read().head.commit;
        if (!head)
            return hostError("HEAD names no commit yet: there is nothing to label");
        id = *head;
    }
    const auto base = numberSetting(r.db, kBaseKey);
    if (!base.hasValue())
        return base.error();
    if (id <= base.value())
        return id;
    const auto own = r.db.hasCommit(id);
    if (!own.hasValue())
        return own.error();
    if (own.value())
        return hostError("commit " + std::to_string(id) +
                         " is not on the server yet: push it first");
    return id;  // one this clone has not pulled: the server knows whether it has it
}

}  // namespace

Expected<LabelOutcome> label(const Session& session, const std::string& name,
                             boost::optional<std::uint64_t> commit) {
    if (const auto named = checkName(name); !named.hasValue())
        return named.error();
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    const auto id = commitToLabel(linked.value().repo, commit);
    if (!id.hasValue())
        return id.error();
    const auto made = makeLabel(linked.value().server, name, id.value());
    if (!made.hasValue())
        return made.error();
    return LabelOutcome{made.value().made, id.value(), labelOf(made.value().label)};
}

Expected<bool> moveLabel(const Session& session, const std::string& name,
                         boost::optional<std::uint64_t> commit) {
    // A removal names the label as the server holds it, whatever that is.
    if (commit) {
        if (const auto named = checkName(name); !named.hasValue())
            return named.error();
    }
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    if (commit) {
        const auto id = commitToLabel(linked.value().repo, commit);
        if (!id.hasValue())
            return id.error();
    }
    return moveLabel(linked.value().server, name, commit);
}

Expected<std::vector<Label>> labels(const Session& session) {
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    const auto all = allLabels(linked.value().server);
    if (!all.hasValue())
        return all.error();
    std::vector<Label> out;
    for (const LabelRecord& record : all.value())
        out.push_back(labelOf(record));
    return out;
}

Expected<std::uint64_t> labelCommit(const Session& session, const std::string& name) {
    if (const auto named = checkName(name); !named.hasValue())
        return named.error();
    auto repo = openRepository(session, LockMode::shared);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    const auto conninfo = r.db.remoteSetting(kRemoteKey);
    if (!conninfo.hasValue())
        return conninfo.error();
    if (!conninfo.value())
        return hostError(quoteName(name) +
                         " is no commit id, and this repository has no remote to look it up on as "
                         "a label (rvk remote set CONNINFO names one)");
    auto server = connectChecked(*conninfo.value(), session.reporter);
    if (!server.hasValue())
        return server.error();
    const auto found = findLabel(server.value(), name);
    if (!found.hasValue())
        return found.error();
    if (!found.value())
        return hostError("the server has no label " + quoteName(name) + " (rvk labels lists them)");
    const std::uint64_t id = found.value()->commit;
    // Ids after the base are this clone's own commits, not the server's.
    const auto base = numberSetting(r.db, kBaseKey);
    if (!base.hasValue())
        return base.error();
    if (id > base.value())
        return hostError("the label " + quoteName(name) + " is on commit " + std::to_string(id) +
                         ", which this clone does not have yet: pull first");
    return id;
}

}  // namespace client

// The commands of a shared history: what the kit did, as lines.
#include <cstdio>
#include <string>
#include <vector>

#include <client/LocalOperations.h>
#include <client/SharedOperations.h>

#include "Commands.h"

namespace rvk {

namespace {

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string mib(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

void noArguments(const char* command, const std::vector<std::string>& args) {
    if (!parseArguments(command, args, {}).operands.empty())
        throw BadUsage{std::string(command) + ": takes no arguments"};
}

void noteLanded(std::size_t landed) {
    std::printf("the server holds %s of this clone already, from a push that was cut off\n",
                plural(landed, "commit", "commits").c_str());
}

// What pull and clone say as they go.
client::PullEvents pullEvents(const Session& session) {
    client::PullEvents events;
    events.completedCutOff = [&session](std::size_t files) {
        session.reporter.endProgress();
        std::printf("completed the pull that was cut off (%s updated)\n",
                    plural(files, "working file", "working files").c_str());
    };
    events.landed = noteLanded;
    return events;
}

int printPulled(const client::Pulled& pulled, const char* verb) {
    switch (pulled.kind) {
        case client::Pulled::Kind::empty:
            std::printf("%s nothing: the server has no commit yet\n", verb);
            return 0;
        case client::Pulled::Kind::upToDate:
            std::printf("%s nothing: already up to date with the server (commit %llu)\n", verb,
                        static_cast<unsigned long long>(pulled.head));
            return 0;
        case client::Pulled::Kind::pulled:
            break;
    }
    const auto head = static_cast<unsigned long long>(pulled.head);
    if (pulled.commits > 0 || pulled.held.empty()) {
        std::string line = std::string(verb) + " " + plural(pulled.commits, "commit", "commits") +
                           " (" + plural(pulled.copies, "copy", "copies") + ", " +
                           mib(pulled.bytes) + " received; " +
                           plural(pulled.files, "working file", "working files") + " updated)";
        if (pulled.replayed > 0)
            line +=
                ", " + plural(pulled.replayed, "commit", "commits") + " of this clone put on top";
        std::printf("%s: HEAD is commit %llu\n", line.c_str(), head);
    } else {
        // Files of an earlier pull were still held open, and nothing new was brought.
        std::printf("updated %s of the pull that was cut off: HEAD is commit %llu\n",
                    plural(pulled.files, "working file", "working files").c_str(), head);
    }
    const std::string rerun = std::string(verb) == "cloned" ? "in the clone" : "again";
    for (const OdString& path : pulled.held)
        printError(hostError("cannot update " + quoteName(utf8(path)) +
                             ": it is open in another program; close it there and run rvk pull " +
                             rerun));
    return pulled.held.empty() ? 0 : 1;
}

std::vector<OdString> operands(const Arguments& parsed) {
    std::vector<OdString> out;
    for (const std::string& word : parsed.operands)
        out.push_back(fromArg(word));
    return out;
}

}  // namespace

int remote(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("remote", args, {});
    const auto& words = parsed.operands;
    if (words.empty()) {
        const std::string conninfo = orFail(client::remote(orFail(session.kit())));
        std::printf("%s\n", escapeControls(conninfo).c_str());
        return 0;
    }
    if (words.size() != 2 || (words[0] != "set" && words[0] != "create"))
        throw BadUsage{"remote: give nothing, 'set CONNINFO' or 'create CONNINFO'"};
    if (words[0] == "create") {
        const auto created = orFail(client::createServer(words[1], session.reporter));
        std::printf(created == client::ServerCreated::made
                        ? "created an empty shared repository on the server\n"
                    : created == client::ServerCreated::upgraded
                        ? "upgraded the shared repository on the server to this rvk's format\n"
                        : "the server holds a shared repository already; privileges and limits "
                          "granted again\n");
        return 0;
    }
    orFail(client::setRemote(orFail(session.kit()), words[1]));
    std::printf("remote set\n");
    return 0;
}

int clone(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("clone", args, {});
    if (parsed.operands.size() != 2)
        throw BadUsage{"clone: give CONNINFO and DIR"};
    const auto pulled = orFail(client::clone(orFail(session.kit()), parsed.operands[0],
                                             fromArg(parsed.operands[1]), pullEvents(session)));
    session.reporter.endProgress();
    return printPulled(pulled, "cloned");
}

int pull(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("pull", args, {"--theirs", "--mine"});
    if (!parsed.operands.empty())
        throw BadUsage{"pull: takes no arguments"};
    if (parsed.has("--theirs") && parsed.has("--mine"))
        throw BadUsage{"pull: give --theirs or --mine, not both"};
    client::PullOptions options;
    if (parsed.has("--theirs"))
        options.conflicts = client::Conflicts::theirs;
    if (parsed.has("--mine")) {
        options.conflicts = client::Conflicts::mine;
        options.keptTime = orFail(commitTime());
    }
    const auto pulled = orFail(client::pull(orFail(session.kit()), pullEvents(session), options));
    session.reporter.endProgress();
    // Said first: what became of the drafter's own work.
    for (const auto& [path, copy] : pulled.setAside)
        std::printf("kept your %s as %s\n", quotePath(path).c_str(), quotePath(copy).c_str());
    for (const OdString& path : pulled.taken)
        std::printf("took the server's %s: yours was removed or the same\n",
                    quotePath(path).c_str());
    if (pulled.keptIn > 0) {
        std::printf("kept your versions in commit %llu (rvk push sends them):\n",
                    static_cast<unsigned long long>(pulled.keptIn));
        for (const OdString& path : pulled.kept)
            std::printf("  %s\n", quotePath(path).c_str());
    }
    return printPulled(pulled, "pulled");
}

int push(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("push", args, {"--keep-locks"});
    if (!parsed.operands.empty())
        throw BadUsage{"push: takes no arguments but --keep-locks"};
    const auto pushed =
        orFail(client::push(orFail(session.kit()), parsed.has("--keep-locks")));
    session.reporter.endProgress();
    if (!pushed.appended)
        std::printf("pushed %s: the server's head is commit %llu\n",
                    pushed.commits ? plural(pushed.commits, "commit", "commits").c_str()
                                   : "nothing",
                    static_cast<unsigned long long>(pushed.head));
    else
        std::printf("pushed %s (%s, %s sent): the server's head is commit %llu\n",
                    plural(pushed.commits, "commit", "commits").c_str(),
                    plural(pushed.copies, "copy", "copies").c_str(), mib(pushed.bytes).c_str(),
                    static_cast<unsigned long long>(pushed.head));
    for (const OdString& path : pushed.released)
        std::printf("released the lock of %s\n", quotePath(path).c_str());
    return 0;
}

int uncommit(const std::vector<std::string>& args, const Session& session) {
    noArguments("uncommit", args);
    client::PullEvents events;
    events.landed = noteLanded;
    const auto done = orFail(client::uncommit(orFail(session.kit()), events));
    if (done.commits == 0) {
        std::printf("nothing to uncommit: the server holds every commit of this clone\n");
        return 0;
    }
    std::printf("uncommitted %s: HEAD is %s; their changes are staged\n",
                plural(done.commits, "commit", "commits").c_str(),
                done.head ? ("commit " + std::to_string(done.head)).c_str() : "on no commit");
    for (const common::StagedFile& file : done.staged)
        std::printf("%-2s %s\n", client::stagedCode(file.change), quotePath(file.path).c_str());
    return 0;
}

int lock(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("lock", args, {});
    if (parsed.operands.empty())
        throw BadUsage{"lock: name the files to lock"};
    bool failed = false;
    for (const auto& l : orFail(client::lock(orFail(session.kit()), operands(parsed)))) {
        if (l.done) {
            std::printf("locked %s\n", quotePath(l.path).c_str());
            continue;
        }
        printError(hostError(quotePath(l.path) + " is locked by " + quoteName(l.held.holder) +
                             " since " + l.held.taken));
        failed = true;
    }
    return failed ? 1 : 0;
}

int unlock(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("unlock", args, {"--force"});
    if (parsed.operands.empty())
        throw BadUsage{"unlock: name the files to unlock"};
    const bool force = parsed.has("--force");
    bool failed = false;
    for (const auto& l : orFail(client::unlock(orFail(session.kit()), operands(parsed), force))) {
        if (l.done) {
            std::printf("unlocked %s\n", quotePath(l.path).c_str());
            continue;
        }
        failed = true;
        if (l.held.holder.empty())
            printError(hostError(quotePath(l.path) + " is not locked"));
        else
            printError(hostError(
                quotePath(l.path) + " is locked by " + quoteName(l.held.holder) + " since " +
                l.held.taken +
                (force ? ": only a member of rvk_admin may release another's lock"
                       : ": rvk unlock --force releases it (members of rvk_admin only)")));
    }
    return failed ? 1 : 0;
}

int locks(const std::vector<std::string>& args, const Session& session) {
    noArguments("locks", args);
    for (const auto& l : orFail(client::locks(orFail(session.kit()))))
        std::printf("%s\t%s\t%s\n", quotePath(l.path).c_str(), escapeControls(l.holder).c_str(),
                    l.taken.c_str());
    return 0;
}

namespace {

std::string madeBy(const client::Label& l) {
    return "made by " + quoteName(l.author) + " at " + escapeControls(l.made);
}

}  // namespace

int label(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("label", args, {"--move", "--remove"});
    const auto& words = parsed.operands;
    const bool move = parsed.has("--move"), remove = parsed.has("--remove");
    if (move && remove)
        throw BadUsage{"label: give --move or --remove, not both"};
    if (remove ? words.size() != 1 : move ? words.size() != 2 : words.empty() || words.size() > 2)
        throw BadUsage{remove ? "label: --remove takes one NAME"
                       : move ? "label: --move takes NAME and COMMIT"
                              : "label: give NAME, and COMMIT unless it is HEAD's"};
    const std::string& name = words[0];
    boost::optional<std::uint64_t> commit;
    if (words.size() == 2)
        commit = orFail(parseCommitId(words[1]));
    const auto kit = orFail(session.kit());
    if (move || remove) {
        if (!orFail(client::moveLabel(kit, name, commit)))
            return fail(
                hostError("there is no label " + quoteName(name) + " (rvk labels lists them)"));
        if (remove)
            std::printf("removed the label %s\n", quoteName(name).c_str());
        else
            std::printf("moved the label %s to commit %llu\n", quoteName(name).c_str(),
                        static_cast<unsigned long long>(*commit));
        return 0;
    }
    const auto outcome = orFail(client::label(kit, name, commit));
    const client::Label& l = outcome.label;
    if (outcome.made) {
        std::printf("labelled commit %llu %s\n", static_cast<unsigned long long>(l.commit),
                    quoteName(l.name).c_str());
        return 0;
    }
    // The name is taken: on the commit asked for, that is what was wanted; elsewhere it stays.
    if (l.commit == outcome.wanted) {
        std::printf("the label %s is on commit %llu already (%s)\n", quoteName(l.name).c_str(),
                    static_cast<unsigned long long>(l.commit), madeBy(l).c_str());
        return 0;
    }
    return fail(hostError("the label " + quoteName(l.name) + " is on commit " +
                          std::to_string(l.commit) + " (" + madeBy(l) +
                          "); only rvk_admin moves it"));
}

int lockable(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("lockable", args, {});
    const auto& words = parsed.operands;
    if (words.empty()) {
        for (const std::string& rule : orFail(client::lockableRules(orFail(session.kit()))))
            std::printf("%s\n", escapeControls(rule).c_str());
        return 0;
    }
    if (words[0] != "set")
        throw BadUsage{"lockable: give nothing, or 'set' and the RULEs (none: no rules)"};
    const std::vector<std::string> rules(words.begin() + 1, words.end());
    orFail(client::setLockableRules(orFail(session.kit()), rules));
    std::printf("%s set: drawings and the files they match need their lock\n",
                plural(rules.size(), "lockable rule", "lockable rules").c_str());
    return 0;
}

int labels(const std::vector<std::string>& args, const Session& session) {
    noArguments("labels", args);
    for (const client::Label& l : orFail(client::labels(orFail(session.kit()))))
        std::printf("%s\t%llu\t%s\t%s\n", escapeControls(l.name).c_str(),
                    static_cast<unsigned long long>(l.commit), escapeControls(l.author).c_str(),
                    escapeControls(l.made).c_str());
    return 0;
}

}  // namespace rvk

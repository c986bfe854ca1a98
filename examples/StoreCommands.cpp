// rvk restore, rvk verify and rvk export: what the kit put back, found or wrote, as lines.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <client/LocalOperations.h>
#include <client/SharedOperations.h>

#include "Commands.h"

namespace rvk {

namespace {

// The commit --commit or --label names, or none for HEAD's.
Expected<boost::optional<std::uint64_t>> commitOption(const Arguments& options,
                                                      const Session& session) {
    const auto id = options.options.find("--commit");
    const auto label = options.options.find("--label");
    if (id != options.options.end() && label != options.options.end())
        throw BadUsage{"restore: give --commit or --label, not both"};
    if (id != options.options.end()) {
        const auto parsed = parseCommitId(id->second);
        if (!parsed.hasValue())
            return parsed.error();
        return boost::optional<std::uint64_t>(parsed.value());
    }
    if (label == options.options.end())
        return boost::optional<std::uint64_t>();
    const auto kit = session.kit();
    if (!kit.hasValue())
        return kit.error();
    const auto labelled = client::labelCommit(kit.value(), label->second);
    if (!labelled.hasValue())
        return labelled.error();
    return boost::optional<std::uint64_t>(labelled.value());
}

std::string copiesOf(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " stored copy" : " stored copies");
}

std::string mib(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

}  // namespace

int restore(const std::vector<std::string>& args, const Session& session) {
    const Arguments options =
        parseArguments("restore", args, {"--force", "--all"}, {"--commit", "--label"});
    client::RestoreRequest request;
    request.all = wantsAll("restore", options, "PATHs");
    request.force = options.has("--force");
    for (const std::string& operand : options.operands)
        request.paths.push_back(fromArg(operand));
    const auto kit = orFail(session.kit());
    request.commit = orFail(commitOption(options, session));
    const auto restored = orFail(client::restore(kit, request, [&](const OdString& path) {
        session.reporter.endProgress();
        std::printf("restored %s\n", quotePath(path).c_str());
    }));
    session.reporter.endProgress();
    for (const ErrorMessage& error : restored.refused)
        printError(error);
    for (const OdString& path : restored.held)
        printError(hostError("cannot restore " + quoteName(utf8(path)) +
                             ": it is open in another program; close it there and try again"));
    return restored.refused.empty() && restored.held.empty() ? 0 : 1;
}

int verify(const std::vector<std::string>& args, const Session& session) {
    if (!parseArguments("verify", args, {}).operands.empty())
        throw BadUsage{"verify: takes no arguments"};
    const auto verified = orFail(client::verify(orFail(session.kit())));
    session.reporter.endProgress();
    for (const client::BadCopy& bad : verified.bad) {
        std::string line = quotePath(bad.url) + ": " + bad.problem + "; named by ";
        std::string separator;
        for (const OdString& path : bad.paths) {
            line += separator + quotePath(path);
            separator = ", ";
        }
        line += " in commit" + std::string(bad.commits.size() > 1 ? "s " : " ");
        separator.clear();
        for (const std::uint64_t commit : bad.commits) {
            line += separator + std::to_string(commit);
            separator = ", ";
        }
        std::printf("%s\n", line.c_str());
    }
    const std::size_t bad = verified.bad.size();
    if (bad > 0)
        return fail(hostError(std::to_string(bad) + " of " + copiesOf(verified.copies) +
                              (bad == 1 ? " is" : " are") + " missing or damaged"));
    std::printf("%s verified: all present and whole", copiesOf(verified.copies).c_str());
    if (verified.unrecorded > 0)
        std::printf(
            " (%s of drawings from before rvk recorded digests: present, content not "
            "checked)",
            copiesOf(verified.unrecorded).c_str());
    std::printf("\n");
    return 0;
}

int exportCommit(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("export", args, {});
    if (parsed.operands.size() != 2)
        throw BadUsage{"export: give LABEL or COMMIT, and DIR"};
    const std::string& what = parsed.operands[0];
    const auto kit = orFail(session.kit());
    // Digits alone name a commit of this clone; a label never is one.
    const bool byId = what.find_first_not_of("0123456789") == std::string::npos;
    const std::uint64_t commit =
        byId ? orFail(parseCommitId(what)) : orFail(client::labelCommit(kit, what));
    const auto exported = orFail(client::exportCommit(kit, commit, fromArg(parsed.operands[1])));
    session.reporter.endProgress();
    std::printf("exported commit %llu%s to %s: %zu %s (%s) and %s\n",
                static_cast<unsigned long long>(commit),
                byId ? "" : (" (" + escapeControls(what) + ")").c_str(),
                quotePath(exported.folder).c_str(), exported.files,
                exported.files == 1 ? "file" : "files", mib(exported.bytes).c_str(),
                client::kRegisterName);
    return 0;
}

}  // namespace rvk

// rvk restore and rvk verify: what the kit put back or found, as lines.
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include <client/LocalOperations.h>

#include "Commands.h"

namespace rvk {

namespace {

// The commit --commit names, or none for HEAD's.
Expected<boost::optional<std::uint64_t>> commitOption(const Arguments& options) {
    const auto named = options.options.find("--commit");
    if (named == options.options.end())
        return boost::optional<std::uint64_t>();
    static const std::regex kId("[1-9][0-9]{0,17}");
    if (!std::regex_match(named->second, kId))
        return hostError(quoteName(shortened(named->second)) + " is no commit id");
    return boost::optional<std::uint64_t>(std::stoull(named->second));
}

std::string copiesOf(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " stored copy" : " stored copies");
}

}  // namespace

int restore(const std::vector<std::string>& args, const Session& session) {
    const Arguments options = parseArguments("restore", args, {"--force", "--all"}, {"--commit"});
    client::RestoreRequest request;
    request.all = wantsAll("restore", options, "PATHs");
    request.force = options.has("--force");
    for (const std::string& operand : options.operands)
        request.paths.push_back(fromArg(operand));
    const auto kit = orFail(session.kit());
    request.commit = orFail(commitOption(options));
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

}  // namespace rvk

#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <utility>

namespace rvk {

OdString fromArg(const std::string& arg) {
    return OdString(arg.data(), arg.size(), kCodePageUtf8);
}

int fail(const ErrorMessage& error) {
    // A state file that could not be written was reported by ConsoleIo already.
    if (error.code != kStateNotWritten)
        printError(error);
    return 1;
}

Expected<std::int64_t> commitTime() {
    const char* fixed = std::getenv("RVK_COMMIT_TIME");
    if (fixed == nullptr)
        return static_cast<std::int64_t>(std::time(nullptr));
    static const std::regex kSeconds("-?[0-9]{1,18}");
    if (!std::regex_match(fixed, kSeconds))
        return hostError("RVK_COMMIT_TIME must be a number of seconds since 1970, not " +
                         quoteName(shortened(fixed)));
    return static_cast<std::int64_t>(std::stoll(fixed));
}

Expected<std::chrono::milliseconds> parseLockTimeout(const std::string& text,
                                                     const std::string& source) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(begin, &end);
    // strtod also takes "inf", "nan", hexadecimal and leading blanks; a plain number is wanted.
    const bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    if (!plain || end != begin + text.size() || errno != 0 || !std::isfinite(seconds) ||
        seconds < 0 || seconds > 86400)
        return hostError(source + " must be a number of seconds from 0 to 86400, not " +
                         quoteName(shortened(text)));
    return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

Expected<std::uint64_t> parseCommitId(const std::string& text) {
    // Eighteen digits at most: every such number fits the server's bigint.
    const bool plain = !text.empty() && text.size() <= 18 && text[0] != '0' &&
                       text.find_first_not_of("0123456789") == std::string::npos;
    if (!plain)
        return hostError(quoteName(shortened(text)) + " is no commit id");
    return static_cast<std::uint64_t>(std::stoull(text));
}

Arguments parseArguments(const char* command, const std::vector<std::string>& args,
                         std::initializer_list<const char*> flags,
                         std::initializer_list<const char*> valued) {
    Arguments parsed;
    const auto among = [](std::initializer_list<const char*> names, const std::string& word) {
        return std::any_of(names.begin(), names.end(), [&](const char* n) { return word == n; });
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--") {
            parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (word.size() < 2 || word[0] != '-') {
            parsed.operands.push_back(word);
            continue;
        }
        const std::string shown = quoteName(shortened(word));
        if (!among(flags, word) && !among(valued, word))
            throw BadUsage{std::string(command) + ": " + shown + " is no option of rvk " + command +
                           " (put -- before a name that begins with '-')"};
        if (parsed.has(word))
            throw BadUsage{std::string(command) + ": " + shown + " is given twice"};
        if (among(valued, word)) {
            if (i + 1 == args.size())
                throw BadUsage{std::string(command) + ": " + shown + " needs a value after it"};
            parsed.options[word] = args[++i];
        } else {
            parsed.options[word];
        }
    }
    return parsed;
}

bool wantsAll(const char* command, const Arguments& parsed, const char* operands) {
    const bool all = parsed.has("--all");
    if (all && !parsed.operands.empty())
        throw BadUsage{std::string(command) + ": give " + operands + " or --all, not both"};
    if (!all && parsed.operands.empty())
        throw BadUsage{std::string(command) + ": name the files to " + command + ", or give --all"};
    return all;
}

}  // namespace rvk

// Fuzz target: the matcher of user patterns against its definition, std::regex_match with the
// ECMAScript grammar. The input is a pattern, a zero byte, and a subject. Both must agree on
// whether the pattern is refused (but for the refusals that are ours alone: a quantifier right
// after another, an anchor inside a look-ahead) and, when it is not, on the answer, asked over the
// subject's bytes and over its wide form.
//
// The standard library backtracks and cannot be interrupted, so the inputs it sees stay small
// enough for it to answer at once: subjects of six bytes, single-digit counts, and at most three
// quantifiers and alternatives together (empty alternatives under a repetition multiply its paths
// at every byte of the subject).
// The matcher's own behaviour on large and deep inputs is the other target's concern.
#include <cstring>
#include <regex>
#include <string>

#include <common/internal/Patterns.h>
#include <platform/Utf8.h>

#include "FuzzSupport.h"

namespace {

constexpr std::size_t kMaxPattern = 48;
constexpr std::size_t kMaxSubject = 6;

bool isQuantifier(char c) {
    return c == '*' || c == '+' || c == '?' || c == '{';
}

// Whether std::regex answers this pattern quickly on any short subject.
bool tame(const std::string& pattern) {
    int quantifiers = 0, alternatives = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (i > 0 && pattern[i - 1] >= '0' && pattern[i - 1] <= '9' && c >= '0' && c <= '9')
            return false;  // a count of ten or more multiplies the work
        const char before = i > 0 ? pattern[i - 1] : '\0';
        // A lazy mark and the '?' of "(?:" are no further repetition.
        if (isQuantifier(c) &&
            !(c == '?' && (before == '(' || isQuantifier(before) || before == '}')))
            ++quantifiers;
        alternatives += c == '|';
    }
    return quantifiers <= 2 && alternatives <= 2 && quantifiers + alternatives <= 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const char* cut = static_cast<const char*>(std::memchr(text, '\0', size));
    const std::string pattern(text, cut ? cut : text + size);
    const std::string subject = cut ? std::string(cut + 1, text + size) : std::string();
    if (pattern.size() > kMaxPattern || subject.size() > kMaxSubject || !tame(pattern))
        return 0;

    bool refused = false;
    std::regex reference;
    try {
        reference.assign(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error&) {
        refused = true;
    }
    try {
        const common::UserPattern ours(pattern.data(), pattern.size());
        fuzz_support::require(!refused, "a pattern std::regex refuses is refused",
                              [&] { return pattern; });
        const bool answer = ours.matches(subject.data(), subject.data() + subject.size());
        fuzz_support::require(answer == std::regex_match(subject, reference),
                              "the answer is std::regex_match's",
                              [&] { return pattern + " on " + subject; });
        // The subject's wide form encodes back to these very bytes, whatever they are.
        fuzz_support::require(ours.matches(OdString(ut::decodeUtf8(subject))) == answer,
                              "the answer over the wide form is the same",
                              [&] { return pattern + " on " + subject; });
    } catch (const std::regex_error& e) {
        fuzz_support::require(refused || e.code() == std::regex_constants::error_badrepeat ||
                                  e.code() == std::regex_constants::error_complexity,
                              "a pattern std::regex accepts is accepted",
                              [&] { return pattern + ": " + e.what(); });
    }
    return 0;
}

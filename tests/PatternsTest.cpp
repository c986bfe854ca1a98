// The matcher of user patterns against its definition, std::regex_match with the ECMAScript
// grammar over the same bytes: answers on generated (pattern, subject) pairs, refusals on
// generated malformed patterns, and hostile patterns that must end with an answer or a refusal.
#include <common/internal/Patterns.h>

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

namespace {

using common::UserPattern;
using std::regex_constants::error_type;
using Pieces = std::vector<std::string>;

// The refusals that are ours alone: a quantifier right after another, and an anchor or word
// boundary inside a look-ahead.
bool refusedOnPurpose(const std::regex_error& e) {
    return e.code() == std::regex_constants::error_badrepeat ||
           e.code() == std::regex_constants::error_complexity;
}

class Generator {
public:
    explicit Generator(unsigned seed) : m_random(seed) {}
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random);
    }
    const std::string& pick(const Pieces& pieces) { return pieces[below(pieces.size())]; }
    std::string join(const Pieces& pieces, std::size_t most) {
        std::string text;
        for (std::size_t n = below(most + 1); n > 0; --n)
            text += pick(pieces);
        return text;
    }

    // A valid-looking pattern of nested terms: atoms of every kind, each maybe quantified.
    std::string pattern(int depth) {
        static const Pieces atoms = {
            "a", "b", "ab", "A", "1", "_", " ", "-", "\xC3\xA9", "\xFF", "\x80", "\\n", "\\r",
            ".", "[ab]", "[^a]", "[a-c]", "[^\\n]", "[\\d.]", "[\\w-]", "[\\s\\S]", "[]", "[^]",
            "[\x80-\xff]", "[[:alpha:]]", "[[:space:]]", "[.]", "[\\b]", "\\d", "\\D", "\\w",
            "\\W", "\\s", "\\S", "\\.", "\\t", "\\cJ", "\\x41", "\\xe9", "\\u00e9", "\\u0141",
            "\\0", "\\b", "\\B", "^", "$", "\\1", "\\/", "\\-", "}", "]"};
        static const Pieces quantifiers = {"", "", "", "*", "+", "?", "*?", "+?", "??",
                                           "{2}", "{1,}", "{0,2}", "{1,3}?", "{0}", "{,}"};
        std::string text;
        for (std::size_t n = 1 + below(3); n > 0; --n) {
            const std::size_t kind = depth > 0 ? below(10) : 0;
            if (kind < 6)
                text += pick(atoms);
            else if (kind == 6)
                text += "(" + pattern(depth - 1) + ")";
            else if (kind == 7)
                text += "(?:" + pattern(depth - 1) + "|" + pattern(depth - 1) + ")";
            else if (kind == 8)
                text += std::string(below(2) ? "(?=" : "(?!") + pattern(depth - 1) + ")";
            else
                text += pattern(depth - 1) + "|";
            text += pick(quantifiers);
        }
        return text;
    }

private:
    std::mt19937 m_random;
};

// The standard library's answer, or its refusal.
struct Reference {
    bool refused = false;
    error_type code{};
    std::regex regex;
};

Reference reference(const std::string& pattern) {
    Reference r;
    try {
        r.regex.assign(pattern, std::regex::ECMAScript);
    } catch (const std::regex_error& e) {
        r.refused = true;
        r.code = e.code();
    }
    return r;
}

// Subjects: the bytes the atoms above decide on, line breaks, UTF-8 sequences and the raw bytes
// that stand for undecodable elements in the narrow form.
const Pieces kSubjectPieces = {"a", "b", "ab", "A", "1", "_", " ", "-", ".", "\n", "\r",
                               "\t", "\xC3\xA9", "\xFF", "\x80", "J", "/", "\x01"};

TEST(UserPatterns, AnswersEqualRegexMatchOnGeneratedPairs) {
    Generator g(16);
    std::size_t compared = 0, matched = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string pattern = g.pattern(2);
        SCOPED_TRACE("pattern \"" + pattern + "\"");
        const Reference expected = reference(pattern);
        try {
            const UserPattern ours(pattern.data(), pattern.size());
            ASSERT_FALSE(expected.refused) << "accepted a pattern std::regex refuses";
            for (int s = 0; s < 25; ++s) {
                const std::string subject = g.join(kSubjectPieces, 6);
                const bool answer = std::regex_match(subject, expected.regex);
                ASSERT_EQ(ours.matches(subject.data(), subject.data() + subject.size()), answer)
                    << "subject \"" << subject << "\"";
                ++compared;
                matched += answer;
            }
        } catch (const std::regex_error& e) {
            if (!refusedOnPurpose(e)) {
                ASSERT_TRUE(expected.refused) << "refused a valid pattern: " << e.what();
                EXPECT_EQ(e.code(), expected.code);
            }
        }
    }
    EXPECT_GT(compared, 20000u);
    EXPECT_GT(matched, compared / 20) << "too few matches to prove anything";
}

TEST(UserPatterns, RefusalsEqualRegexOnGeneratedMalformedPatterns) {
    const Pieces pieces = {"a", "(", ")", "[", "]", "{", "}", "*", "+", "?", "|", "\\", "^", "$",
                           ".", "-", ",", "2", "{2,1}", "[z-a]", "(?", "(?<", "(?:", "(?=",
                           "\\1", "\\2", "[[:foo:]]", "[[:alpha:]", "[[.a.]]", "[[=a=]]",
                           "[[.hyphen.]]", "\\x4", "\\u12", "\\c", "\\b", "\\d-z", "[\\d-z]",
                           "[a-\\d]", "\xFF", "\\\xFF", "{1,2}", "{0}"};
    Generator g(61);
    std::size_t refusals = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string pattern = g.join(pieces, 6);
        SCOPED_TRACE("pattern \"" + pattern + "\"");
        const Reference expected = reference(pattern);
        try {
            const UserPattern ours(pattern.data(), pattern.size());
            ASSERT_FALSE(expected.refused);
            const std::string subject = g.join(pieces, 3);
            ASSERT_EQ(ours.matches(subject.data(), subject.data() + subject.size()),
                      std::regex_match(subject, expected.regex));
        } catch (const std::regex_error& e) {
            ++refusals;
            if (!refusedOnPurpose(e)) {
                ASSERT_TRUE(expected.refused) << e.what();
                EXPECT_EQ(e.code(), expected.code);
            }
        }
    }
    EXPECT_GT(refusals, 5000u);
}

// The cases that hung or crashed the host before: each must end with the right answer (or, for
// the backtracking patterns that may run out of their bounded work, error_complexity), and past
// the limits with error_space or error_complexity.
TEST(UserPatterns, HostilePatternsEndWithAnAnswerOrARefusal) {
    constexpr int kMatches = 1, kNoMatch = 0, kComplexity = -1, kSpace = -2;
    const std::string a255(255, 'a');
    const std::string path4000 = std::string(3990, 'a') + "/level-02/";
    const struct Case {
        std::string pattern;
        std::string subject;
        int expected;
        bool mayGiveUp = false;  // error_complexity is an answer too
    } cases[] = {
        {"^([A-Za-z]+ ?)+\\.tmp$", "Ground floor plan revision final version two.dwg", kNoMatch},
        {"^([A-Za-z]+ ?)+\\.tmp$", "Ground floor plan revision final version two.tmp", kMatches},
        {".*([A-Za-z]+ ?)+x(\\.[a-zA-Z]+)+$", "Ground floor plan revision final version two",
         kNoMatch},
        {".*(a*)*b", a255, kNoMatch},
        {".*(a*)*b", a255 + "b", kMatches},
        {"(.*)*x", "site/level-02/plan.dwg", kNoMatch},
        {"(.*)*x", path4000, kNoMatch},
        {"(a|a)*b", a255, kNoMatch},
        {".*.*(a*)*b", path4000, kNoMatch},
        {"(a+)+b", a255, kNoMatch},
        {"(a+)+b", std::string(100000, 'a'), kNoMatch},
        {"a{1000}", std::string(1000, 'a'), kMatches},
        {"(?:a{1000}){3}", std::string(3000, 'a'), kMatches},
        {"a{2000}b?", std::string(2000, 'a'), kMatches},
        {"(a?){30}a{30}", std::string(30, 'a'), kMatches},
        // Back-references and look-aheads backtrack; their work is bounded instead.
        {"(a*)*\\1b", a255, kNoMatch, true},
        {"(a|aa)+\\1c", std::string(30, 'a') + "c", kMatches, true},
        {"(?=(a+)+b)a*", a255, kNoMatch, true},
        {"(?!(a+)+b)a*", std::string(40, 'a'), kComplexity},
        {"(?!(a+)+b)a*", std::string(5, 'a'), kMatches},
        // Past the limits.
        {std::string(60000, '(') + "a" + std::string(60000, ')'), "a", kSpace},
        {std::string(101, '(') + "a" + std::string(101, ')'), "a", kComplexity},
        {std::string(100, '(') + "a" + std::string(100, ')'), "a", kMatches},
        {std::string(100000, 'a'), "a", kSpace},
        {std::string(1 << 20, '('), "", kSpace},
        {std::string(4096, 'a'), std::string(4096, 'a'), kMatches},
        {"(a{1000}){1000}", "a", kSpace},  // the standard library's own state limit
        // The standard library reads these against the look-ahead's start: refused on purpose.
        {"a(?=^b)b", "ab", kComplexity},
        {"a(?=\\bb)b", "ab", kComplexity},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern.substr(0, 60) + " on " + c.subject.substr(0, 60));
        int answer;
        try {
            const UserPattern pattern(c.pattern.data(), c.pattern.size());
            answer = pattern.matches(c.subject.data(), c.subject.data() + c.subject.size());
        } catch (const std::regex_error& e) {
            answer = e.code() == std::regex_constants::error_complexity ? kComplexity
                     : e.code() == std::regex_constants::error_space    ? kSpace
                                                                        : -3;
        }
        if (!(c.mayGiveUp && answer == kComplexity)) {
            EXPECT_EQ(answer, c.expected);
        }
    }
}

}  // namespace

// The matcher of user patterns against its definition, std::regex_match with the ECMAScript
// grammar over the same bytes: answers on generated (pattern, subject) pairs, for each engine,
// refusals on generated malformed patterns, and hostile patterns that must end with an answer or a
// refusal.
#include <common/internal/Patterns.h>
#include <platform/Utf8.h>

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
            "a",    "b",        "ab",          "A",           "1",           "_",       " ",
            "-",    "\xC3\xA9", "\xFF",        "\x80",        "\\n",         "\\r",     ".",
            "[ab]", "[^a]",     "[a-c]",       "[^\\n]",      "[\\d.]",      "[\\w-]",  "[\\s\\S]",
            "[]",   "[^]",      "[\x80-\xff]", "[[:alpha:]]", "[[:space:]]", "[.]",     "[\\b]",
            "\\d",  "\\D",      "\\w",         "\\W",         "\\s",         "\\S",     "\\.",
            "\\t",  "\\cJ",     "\\x41",       "\\xe9",       "\\u00e9",     "\\u0141", "\\0",
            "\\b",  "\\B",      "^",           "$",           "\\1",         "\\/",     "\\-",
            "}",    "]"};
        static const Pieces quantifiers = {"",     "",      "",       "*",   "+",
                                           "?",    "*?",    "+?",     "??",  "{2}",
                                           "{1,}", "{0,2}", "{1,3}?", "{0}", "{,}"};
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
const Pieces kSubjectPieces = {"a",  "b",  "ab", "A",        "1",    "_",    " ", "-", ".",
                               "\n", "\r", "\t", "\xC3\xA9", "\xFF", "\x80", "J", "/", "\x01"};

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

// The literal engine takes the shapes "[^][.*]BODY[(\.[a-zA-Z]+)+][$]"; the generated patterns
// are those shapes and near misses of them (which other engines take), each with subjects built
// to match and then maybe spoiled. Subjects are wide texts, so that matches(OdString), which may
// answer from the elements, is held to the answer over their UTF-8 form too, with the elements
// whose bytes are several (or, for undecodable bytes kept as U+DC80..U+DCFF, one of 0x80 or more).
TEST(UserPatterns, LiteralShapesAnswerAsRegexMatch) {
    struct Piece {
        std::string pattern;
        std::wstring instance;  // what it matches; for a wildcard, one element drawn at random
    };
    const std::vector<Piece> bodyPieces = {
        {"a", L"a"},         {"Z", L"Z"},         {"1", L"1"},       {"_", L"_"},
        {" ", L" "},         {"-", L"-"},         {"plan", L"plan"}, {"\xC3\xA9", L"\u00e9"},
        {"\xFF", L"\xDCFF"}, {"\x80", L"\xDC80"}, {".", L""},        {".", L""},
        {"\\.", L"."},       {"\\-", L"-"},       {"\\/", L"/"},     {"\\$", L"$"},
        {"\\(", L"("},       {"\\\\", L"\\"},     {"\\[", L"["},     {"\\^", L"^"},
        {"\\*", L"*"},       {"\\|", L"|"},       {"\\}", L"}"},     {"\\~", L"~"},
        {"\\_", L"_"}};
    // Each near miss replaces one part of the shape and leaves the pattern to another engine.
    const std::vector<std::string> nearMisses = {"$$",
                                                 "^^",
                                                 ".*?",
                                                 ".+",
                                                 "(\\.[a-zA-Z]+)*",
                                                 "(\\.[a-z]+)+",
                                                 "(\\.[a-zA-Z]+)+?",
                                                 "(?:\\.[a-zA-Z]+)+",
                                                 "]",
                                                 "}",
                                                 "\\d",
                                                 "\\n",
                                                 "a|b",
                                                 "[.]",
                                                 "\\x41",
                                                 "\\1"};
    const std::wstring nul(1, L'\0'), beyond(1, static_cast<wchar_t>(0x110000));
    const std::vector<std::wstring> elements = {
        L"a",   L"Z",          L"1",      L".",      L"-",      L"$",      L"\\",     L"/",
        L"\n",  L"\r",         L"\u00e9", L"\u0141", L"\xDCFF", L"\xDC80", L"\xD800", nul,
        beyond, L"\U0001F600", L"\x7F",   L"\u0080", L"@",      L"["};
    const std::vector<std::wstring> extensions = {L".dwg", L".b",      L".",   L"..",
                                                  L".d2",  L".\u00e9", L".Az", L".z@"};

    std::mt19937 random(4021);
    const auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    const auto anyOf = [&](const std::vector<std::wstring>& pieces, std::size_t most) {
        std::wstring text;
        for (std::size_t n = below(most + 1); n > 0; --n)
            text += pieces[below(pieces.size())];
        return text;
    };
    std::size_t literal = 0, compared = 0, matched = 0;
    for (int i = 0; i < 3000; ++i) {
        // The shape's parts in order: "^", ".*", BODY, the tail, "$"; one may be a near miss.
        std::string parts[5];
        std::wstring instance[5];
        if (below(2))
            parts[0] = "^";
        if (below(3)) {
            parts[1] = ".*";
            instance[1] = anyOf(elements, 2);
        }
        for (std::size_t n = below(5); n > 0; --n) {
            const Piece& piece = bodyPieces[below(bodyPieces.size())];
            parts[2] += piece.pattern;
            instance[2] += piece.pattern == "." ? elements[below(elements.size())] : piece.instance;
        }
        if (below(2)) {
            parts[3] = "(\\.[a-zA-Z]+)+";
            instance[3] = anyOf(extensions, 2) + L".dwg";
        }
        if (below(2))
            parts[4] = "$";
        const bool nearMiss = below(4) == 0;
        if (nearMiss)
            parts[below(5)] = nearMisses[below(nearMisses.size())];
        const std::string pattern = parts[0] + parts[1] + parts[2] + parts[3] + parts[4];
        SCOPED_TRACE("pattern \"" + pattern + "\"");
        const Reference expected = reference(pattern);
        if (expected.refused)
            continue;  // "\\1" without a group: the refusals are another test's concern
        const UserPattern ours(pattern.data(), pattern.size());
        if (!nearMiss) {
            ASSERT_EQ(ours.engine(), UserPattern::EEngine::literal);
            ++literal;
        }
        for (int s = 0; s < 20; ++s) {
            std::wstring subject = instance[0] + instance[1] + instance[2] + instance[3];
            // Spoil some: an element dropped, changed or added somewhere.
            for (std::size_t edits = below(3); edits > 0; --edits) {
                const std::size_t at = below(subject.size() + 1);
                const std::size_t kind = below(3);
                if (kind == 0 && at < subject.size())
                    subject.erase(at, 1);
                else if (kind == 1 && at < subject.size())
                    subject[at] = elements[below(elements.size())][0];
                else
                    subject.insert(at, elements[below(elements.size())]);
            }
            const std::string bytes = ut::encodeUtf8(subject);
            const bool answer = std::regex_match(bytes, expected.regex);
            ASSERT_EQ(ours.matches(bytes.data(), bytes.data() + bytes.size()), answer)
                << "subject \"" << bytes << "\"";
            const OdString text(subject);
            ASSERT_EQ(ours.matches(text), answer) << "wide subject \"" << bytes << "\"";
            ++compared;
            matched += answer;
        }
    }
    EXPECT_GT(literal, 1500u);
    EXPECT_GT(matched, compared / 5) << "too few matches to prove anything";
    EXPECT_LT(matched, compared - compared / 5) << "too few misses to prove anything";
}

TEST(UserPatterns, RefusalsEqualRegexOnGeneratedMalformedPatterns) {
    const Pieces pieces = {"a",
                           "(",
                           ")",
                           "[",
                           "]",
                           "{",
                           "}",
                           "*",
                           "+",
                           "?",
                           "|",
                           "\\",
                           "^",
                           "$",
                           ".",
                           "-",
                           ",",
                           "2",
                           "{2,1}",
                           "[z-a]",
                           "(?",
                           "(?<",
                           "(?:",
                           "(?=",
                           "\\1",
                           "\\2",
                           "[[:foo:]]",
                           "[[:alpha:]",
                           "[[.a.]]",
                           "[[=a=]]",
                           "[[.hyphen.]]",
                           "\\x4",
                           "\\u12",
                           "\\c",
                           "\\b",
                           "\\d-z",
                           "[\\d-z]",
                           "[a-\\d]",
                           "\xFF",
                           "\\\xFF",
                           "{1,2}",
                           "{0}"};
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

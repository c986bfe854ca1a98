// The regular expressions the library takes from text it does not control: the lines of an
// ignore file and the names a user types. Internal to the library.
//
// What a pattern means is fixed by the standard library: a subject matches exactly when
// std::regex_match, with a std::regex of the ECMAScript grammar and no other flag, says so over the
// same bytes. That matcher backtracks, so a plausible rule can take time exponential in the
// subject's length, and it recurses once per character of the subject and once per term of the
// pattern, so a long subject or pattern overflows the stack. UserPattern computes the same answers
// another way, with the cheapest engine that can express the pattern, chosen when it is compiled:
//  - a literal engine for the shapes most rules and typed names have, "[^][.*]BODY[TAIL][$]" with
//    BODY of plain bytes, escaped punctuation and '.', and TAIL the extension run
//    "(\.[a-zA-Z]+)+" that the explorer adds to a name ("^.*\.bak$", "plan-01.dwg",
//    ".*plan(\.[a-zA-Z]+)+$"): a comparison of bytes from the end, linear in the subject;
//  - a finite automaton, in time linear in the subject, for every other pattern it can express;
//  - a backtracking matcher with bounded work for back-references and look-aheads.
#pragma once

#include <cstddef>
#include <memory>
#include <regex>

#include <platform/OdString.h>

namespace common {

// Within these limits a pattern is refused exactly when std::regex refuses it (but for the
// refusals documented at UserPattern). A longer text is refused with error_space, a deeper nesting
// of groups with error_complexity.
constexpr std::size_t kMaxPatternBytes = 4096;
constexpr std::size_t kMaxPatternNesting = 100;

// A compiled user pattern. Immutable: copies share the compiled form, and matches() may be called
// from several threads at once.
class UserPattern {
public:
    // Compiles `pattern`, the narrow text of `size` bytes, of which `frameBytes` were written
    // around the user's text by the library, or throws std::regex_error:
    //  - error_space past kMaxPatternBytes bytes of the user's text, error_complexity past
    //    kMaxPatternNesting nested groups;
    //  - error_badrepeat for a quantifier right after another ("a**", "x+*", ".**.dwg"; the lazy
    //    mark in "a*?" is no quantifier): ECMAScript refuses those, while the standard library
    //    accepts them as nested repetitions;
    //  - error_backref / error_badbrace for a back-reference number or repeat count of more than
    //    nine digits, which the standard library would overflow reading;
    //  - error_complexity for '^', \b or \B inside a look-ahead, where the standard library
    //    reads them against the look-ahead's start instead of the subject's;
    //  - whatever std::regex throws for the text;
    //  - error_space when the compiled form outgrows the engines (repeat counts beyond 65,535).
    UserPattern(const char* pattern, std::size_t size, std::size_t frameBytes = 0);

    // Whether the whole of [begin, end) matches. Throws std::regex_error with error_complexity,
    // instead of running on, when a pattern that needs backtracking (a back-reference or a
    // look-ahead) exceeds its bounded work on this subject.
    bool matches(const char* begin, const char* end) const;

    // The answer of matches() over the narrow form of `text` (all its UTF-8 bytes, zeros
    // included). The literal engine answers from the wide elements whenever their bytes cannot
    // shift under it, which spares encoding most texts; otherwise the narrow form is made, and kept
    // in `text` as ansi_str() keeps it, so calls passing the same object must not overlap.
    bool matches(const OdString& text) const;

    // Which engine compiling chose; only the tests ask, to know that they compare each engine.
    enum class EEngine { literal, automaton, backtracking };
    EEngine engine() const;

    struct Engine;

private:
    std::shared_ptr<const Engine> m_engine;
};

}  // namespace common

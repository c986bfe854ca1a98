#include <common/Patterns.h>

namespace common {

namespace {

// The standard library reads a repeat count or a back-reference number into a long without a
// bound, so a long run of digits overflows it; no sensible count needs more than nine digits.
bool longDigitRun(const char* pattern, std::size_t from, std::size_t size) {
    std::size_t run = 0;
    for (std::size_t i = from; i < size && pattern[i] >= '0' && pattern[i] <= '9'; ++i)
        ++run;
    return run > 9;
}

void refuseRepeatedQuantifier(const char* pattern, std::size_t size) {
    bool quantified = false;  // the token before is a quantifier
    bool lazyMarkAllowed = false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (longDigitRun(pattern, i + 1, size))
                throw std::regex_error(std::regex_constants::error_backref);
            ++i;  // an escape is one atom, whatever follows the backslash
            quantified = false;
            continue;
        }
        if (c == '[') {
            // A bracket expression is one atom; an unclosed one is left to the compiler to refuse.
            std::size_t j = i + 1;
            for (; j < size && pattern[j] != ']'; ++j) {
                if (pattern[j] == '\\')
                    ++j;
            }
            i = j;
            quantified = false;
            continue;
        }
        if (c != '*' && c != '+' && c != '?' && c != '{') {
            quantified = false;
            continue;
        }
        if (quantified) {
            if (c == '?' && lazyMarkAllowed) {
                lazyMarkAllowed = false;
                continue;
            }
            throw std::regex_error(std::regex_constants::error_badrepeat);
        }
        quantified = true;
        lazyMarkAllowed = true;
        if (c == '{') {
            for (; i < size && pattern[i] != '}';
                 ++i) {  // an unclosed brace is left to the compiler
                if (longDigitRun(pattern, i + 1, size))
                    throw std::regex_error(std::regex_constants::error_badbrace);
            }
        }
    }
}

}  // namespace

std::regex compileEcmaScript(const char* pattern, std::size_t size) {
    refuseRepeatedQuantifier(pattern, size);
    return std::regex(pattern, size, std::regex::ECMAScript);
}

}  // namespace common

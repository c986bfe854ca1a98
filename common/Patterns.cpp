#include <common/internal/Patterns.h>

#include <bitset>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <re2/re2.h>

namespace common {

namespace {

using std::regex_constants::error_type;

[[noreturn]] void refuse(error_type code) {
    throw std::regex_error(code);
}

// A refusal past the limits, with a text saying which: the standard one for error_space speaks
// of memory, which would send the user looking in the wrong place.
class LimitError : public std::regex_error {
public:
    LimitError(std::regex_constants::error_type code, std::string text)
        : std::regex_error(code), m_text(std::move(text)) {}
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::string m_text;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The standard library reads a repeat count or a back-reference number into a long without a
// bound, so a long run of digits overflows it; no sensible count needs more than nine digits.
bool longDigitRun(const char* pattern, std::size_t from, std::size_t size) {
    std::size_t run = 0;
    for (std::size_t i = from; i < size && isDigit(pattern[i]); ++i)
        ++run;
    return run > 9;
}

// How many bytes the escape at pattern[i] (a backslash) takes, the way the standard library's
// ECMAScript scanner reads it, in or out of a bracket expression. A back-reference takes all the
// digits after it; "\0" is the NUL character, with any digits after it read on their own.
std::size_t escapeLength(const char* pattern, std::size_t i, std::size_t size) {
    if (i + 1 >= size)
        return size - i;
    const char c = pattern[i + 1];
    std::size_t length = 2;
    if (c == 'c')
        length = 3;
    else if (c == 'x')
        length = 4;
    else if (c == 'u')
        length = 6;
    else if (c >= '1' && c <= '9')
        while (i + length < size && isDigit(pattern[i + length]))
            ++length;
    return std::min(length, size - i);
}

// How many bytes the bracket expression at pattern[i] ('[') takes: in ECMAScript a ']' ends it
// wherever it stands, and "[:", "[." and "[=" open a name that runs to the same mark before ']'.
std::size_t bracketLength(const char* pattern, std::size_t i, std::size_t size) {
    std::size_t j = i + 1;
    if (j < size && pattern[j] == '^')
        ++j;
    while (j < size) {
        const char c = pattern[j];
        if (c == ']')
            return j + 1 - i;
        if (c == '\\') {
            j += escapeLength(pattern, j, size);
        } else if (c == '[' && j + 1 < size &&
                   (pattern[j + 1] == '.' || pattern[j + 1] == ':' || pattern[j + 1] == '=')) {
            const char mark = pattern[j + 1];
            j += 2;
            while (j + 1 < size && !(pattern[j] == mark && pattern[j + 1] == ']'))
                ++j;
            j += 2;
        } else {
            ++j;
        }
    }
    return size - i;
}

// The limits, checked before the standard library's compiler (which recurses per term and per
// group) sees the text, so that checking a pattern needs a bounded stack.
void checkLimits(const char* pattern, std::size_t size, std::size_t frameBytes) {
    if (size > kMaxPatternBytes + frameBytes)
        throw LimitError(std::regex_constants::error_space,
                         "Pattern longer than " + std::to_string(kMaxPatternBytes) + " bytes");
    std::size_t depth = 0;
    for (std::size_t i = 0; i < size;) {
        const char c = pattern[i];
        if (c == '\\') {
            i += escapeLength(pattern, i, size);
        } else if (c == '[') {
            i += bracketLength(pattern, i, size);
        } else {
            if (c == '(' && ++depth > kMaxPatternNesting)
                throw LimitError(std::regex_constants::error_complexity,
                                 "Pattern nests groups more than " +
                                     std::to_string(kMaxPatternNesting) + " deep");
            if (c == ')' && depth > 0)
                --depth;
            ++i;
        }
    }
}

void refuseRepeatedQuantifier(const char* pattern, std::size_t size) {
    bool quantified = false;  // the token before is a quantifier
    bool lazyMarkAllowed = false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = pattern[i];
        // An escape or a bracket expression is one atom, read as the standard library's scanner
        // reads it ("\\c[" is the character '[', no bracket); an unclosed one is left to the
        // compiler to refuse.
        if (c == '\\') {
            if (i + 1 < size && pattern[i + 1] != '0' && longDigitRun(pattern, i + 1, size))
                refuse(std::regex_constants::error_backref);
            i += escapeLength(pattern, i, size) - 1;
            quantified = false;
            continue;
        }
        if (c == '[') {
            i += bracketLength(pattern, i, size) - 1;
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
            refuse(std::regex_constants::error_badrepeat);
        }
        quantified = true;
        lazyMarkAllowed = true;
        if (c == '{') {
            for (; i < size && pattern[i] != '}';
                 ++i) {  // an unclosed brace is left to the compiler
                if (longDigitRun(pattern, i + 1, size))
                    refuse(std::regex_constants::error_badbrace);
            }
        }
    }
}

// Rewrites a pattern that std::regex accepted into the syntax the engines share, with the same
// meaning over bytes. Every atom that stands for one character (a '.', an escape, a bracket
// expression) becomes the explicit set of the bytes it matches, asked of std::regex itself on
// each of the 256 one-byte subjects: that carries over exactly whatever the standard library makes
// of "\cX", "\u0141", "[[:alpha:]]", a range over bytes above 0x7F or a class escape inside a
// bracket, without restating its rules. The atom alone is short and flat, so that question is
// cheap and bounded. Anchors become \A and \z, which see neither line breaks nor a final newline,
// as ECMAScript's ^ and $ without the multiline flag.
class Translator {
public:
    Translator(const char* pattern, std::size_t size) : m_pattern(pattern), m_size(size) {
        m_out.reserve(size * 2);
    }

    void run() {
        std::size_t i = 0;
        while (i < m_size) {
            const char c = m_pattern[i];
            switch (c) {
            case '\\': {
                const std::size_t length = escapeLength(m_pattern, i, m_size);
                const char kind = m_pattern[i + 1];
                if ((kind == 'b' || kind == 'B') && m_lookAheads > 0)
                    refuseAnchorInLookAhead();
                if (kind == 'b' || kind == 'B') {
                    m_out += '\\';
                    m_out += kind;
                } else if (kind >= '1' && kind <= '9') {
                    m_out += "(?:\\g{";
                    m_out.append(m_pattern + i + 1, length - 1);
                    m_out += "})";
                    m_backtracking = true;
                } else {
                    appendSet(i, length);
                }
                i += length;
                break;
            }
            case '[': {
                const std::size_t length = bracketLength(m_pattern, i, m_size);
                appendSet(i, length);
                i += length;
                break;
            }
            case '.':
                appendSet(i, 1);
                ++i;
                break;
            case '(': {
                // "(?:", or a look-ahead "(?=" / "(?!", which only the backtracking engine has.
                const bool lookAhead = i + 1 < m_size && m_pattern[i + 1] == '?' &&
                                       m_pattern[i + 2] != ':';
                const std::size_t length = i + 1 < m_size && m_pattern[i + 1] == '?' ? 3 : 1;
                m_backtracking = m_backtracking || lookAhead;
                m_groups.push_back(lookAhead);
                m_lookAheads += lookAhead;
                m_out.append(m_pattern + i, length);
                i += length;
                break;
            }
            case ')':
                m_lookAheads -= m_groups.back();
                m_groups.pop_back();
                m_out += c;
                ++i;
                break;
            case '|':
            case '*':
            case '+':
            case '?':
                m_out += c;
                ++i;
                break;
            case '^':
                if (m_lookAheads > 0)
                    refuseAnchorInLookAhead();
                m_out += "\\A";
                ++i;
                break;
            case '$':
                m_out += "\\z";
                ++i;
                break;
            case '{':
                i = appendInterval(i);
                break;
            default:  // an ordinary byte, ']' and '}' and NUL included
                appendByte(static_cast<unsigned char>(c));
                ++i;
                break;
            }
        }
    }

    const std::string& output() const { return m_out; }
    bool backtracking() const { return m_backtracking; }

private:
    // Inside a look-ahead the standard library takes the look-ahead's start for the start of the
    // subject: '^' matches there, and \b and \B see no character before it. No engine has that
    // meaning, and no sensible rule needs it.
    [[noreturn]] static void refuseAnchorInLookAhead() {
        throw LimitError(std::regex_constants::error_complexity,
                         "Pattern uses ^, \\b or \\B inside a look-ahead");
    }

    // "{n}", "{n,}" or "{n,m}", written with plain numbers ("{007}" is a count of seven).
    std::size_t appendInterval(std::size_t i) {
        ++i;
        m_out += '{';
        auto number = [&] {
            unsigned long value = 0;
            for (; i < m_size && isDigit(m_pattern[i]); ++i)
                value = value * 10 + static_cast<unsigned long>(m_pattern[i] - '0');
            m_out += std::to_string(value);
        };
        number();
        if (i < m_size && m_pattern[i] == ',') {
            m_out += ',';
            ++i;
            if (i < m_size && isDigit(m_pattern[i]))
                number();
        }
        m_out += '}';
        return i + 1;  // past '}'
    }

    void appendByte(unsigned char byte) {
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9')) {
            m_out += static_cast<char>(byte);
            return;
        }
        char text[8];
        std::snprintf(text, sizeof text, "\\x{%02x}", byte);
        m_out += text;
    }

    void appendSet(std::size_t at, std::size_t length) {
        const std::bitset<256>& set = byteSet(std::string(m_pattern + at, length));
        if (set.count() == 1) {
            for (unsigned b = 0; b < 256; ++b) {
                if (set[b])
                    appendByte(static_cast<unsigned char>(b));
            }
            return;
        }
        if (set.none()) {
            m_out += "[^\\x{00}-\\x{ff}]";
            return;
        }
        m_out += '[';
        for (unsigned b = 0; b < 256;) {
            if (!set[b]) {
                ++b;
                continue;
            }
            unsigned last = b;
            while (last + 1 < 256 && set[last + 1])
                ++last;
            char text[24];
            if (last == b)
                std::snprintf(text, sizeof text, "\\x{%02x}", b);
            else
                std::snprintf(text, sizeof text, "\\x{%02x}-\\x{%02x}", b, last);
            m_out += text;
            b = last + 1;
        }
        m_out += ']';
    }

    const std::bitset<256>& byteSet(const std::string& atom) {
        auto found = m_sets.find(atom);
        if (found != m_sets.end())
            return found->second;
        std::bitset<256> set;
        const std::regex alone(atom, std::regex::ECMAScript);
        for (unsigned b = 0; b < 256; ++b) {
            const char subject = static_cast<char>(b);
            set[b] = std::regex_match(&subject, &subject + 1, alone);
        }
        return m_sets.emplace(atom, set).first->second;
    }

    const char* m_pattern;
    std::size_t m_size;
    std::string m_out;
    bool m_backtracking = false;
    std::vector<bool> m_groups;  // for each open group, whether it is a look-ahead
    std::size_t m_lookAheads = 0;
    std::map<std::string, std::bitset<256>> m_sets;
};

// The backtracking engine's bounds: its work per call (steps and memory) is capped, so a pattern
// that would backtrack exponentially ends with error_complexity after a few milliseconds.
constexpr std::uint32_t kMatchLimit = 1000000;
constexpr std::uint32_t kDepthLimit = 100000;
constexpr std::uint32_t kHeapLimitKiB = 64 * 1024;

}  // namespace

struct UserPattern::Engine {
    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() {
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }

    std::unique_ptr<RE2> automaton;             // set when a finite automaton expresses it
    pcre2_code* code = nullptr;                 // otherwise the backtracking engine
    pcre2_match_context* context = nullptr;     // its bounds; only read while matching
};

UserPattern::UserPattern(const char* pattern, std::size_t size, std::size_t frameBytes) {
    checkLimits(pattern, size, frameBytes);
    refuseRepeatedQuantifier(pattern, size);
    // The definition of validity; within the limits above its recursion is bounded.
    (void)std::regex(pattern, size, std::regex::ECMAScript);

    Translator translator(pattern, size);
    translator.run();
    const std::string& text = translator.output();
    auto engine = std::make_shared<Engine>();
    if (!translator.backtracking()) {
        RE2::Options options;
        options.set_encoding(RE2::Options::EncodingLatin1);  // one byte, one character
        options.set_log_errors(false);
        options.set_never_capture(true);
        options.set_max_mem(32 << 20);
        auto automaton = std::make_unique<RE2>(re2::StringPiece(text), options);
        // Past the automaton's own limits (repeat counts above 1000, a program too large) the
        // bounded backtracking engine takes the pattern.
        if (automaton->ok())
            engine->automaton = std::move(automaton);
    }
    if (!engine->automaton) {
        int error = 0;
        PCRE2_SIZE offset = 0;
        // The meaning is carried by the translation (explicit byte sets, \A and \z). A
        // back-reference to a group that took part in no match fails here as in the standard
        // library (which, unlike ECMAScript, does not read it as empty).
        const std::uint32_t options =
            PCRE2_ANCHORED | PCRE2_ENDANCHORED | PCRE2_NEVER_UTF | PCRE2_NEVER_UCP;
        engine->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                     options, &error, &offset, nullptr);
        if (!engine->code)
            throw LimitError(std::regex_constants::error_space,
                             "Pattern too large for the matcher (a repeat count above 65535?)");
        engine->context = pcre2_match_context_create(nullptr);
        if (!engine->context)
            refuse(std::regex_constants::error_space);
        pcre2_set_match_limit(engine->context, kMatchLimit);
        pcre2_set_depth_limit(engine->context, kDepthLimit);
        pcre2_set_heap_limit(engine->context, kHeapLimitKiB);
    }
    m_engine = std::move(engine);
}

bool UserPattern::matches(const char* begin, const char* end) const {
    const std::size_t size = static_cast<std::size_t>(end - begin);
    if (m_engine->automaton)
        return RE2::FullMatch(re2::StringPiece(begin, size), *m_engine->automaton);
    std::unique_ptr<pcre2_match_data, void (*)(pcre2_match_data*)> data(
        pcre2_match_data_create_from_pattern(m_engine->code, nullptr), pcre2_match_data_free);
    if (!data)
        refuse(std::regex_constants::error_space);
    const int result = pcre2_match(m_engine->code, reinterpret_cast<PCRE2_SPTR>(begin), size, 0,
                                   0, data.get(), m_engine->context);
    if (result >= 0)
        return true;
    if (result == PCRE2_ERROR_NOMATCH)
        return false;
    // The bounds were reached (or memory ran out): no answer rather than a late one.
    refuse(std::regex_constants::error_complexity);
}

}  // namespace common

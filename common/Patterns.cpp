#include <common/internal/Patterns.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
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
                    const bool lookAhead =
                        i + 1 < m_size && m_pattern[i + 1] == '?' && m_pattern[i + 2] != ':';
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

enum class Verdict { kNo, kYes, kUndecided };

bool isLineTerminator(std::uint32_t c) {
    return c == '\n' || c == '\r';
}

bool isAsciiLetter(std::uint32_t c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

template <class Char>
std::uint32_t unit(Char c) {
    return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
}

// The literal engine: patterns "[^][.*]BODY[(\.[a-zA-Z]+)+][$]", where BODY holds plain bytes,
// escaped ASCII punctuation (each its own byte) and '.'. Whole-subject matching makes '^' at the
// start and '$' at the end say nothing, and every '.' of the narrow ECMAScript grammar, the one
// after '^' included, stands for any byte but LF and CR. So a subject S matches exactly when, for
// some position j:
//   - S[j..] is empty without the tail, and otherwise one or more groups of a dot and one or more
//     ASCII letters;
//   - BODY matches S[j-n..j), byte for byte, a wildcard facing anything but LF and CR;
//   - S[0..j-n) is empty without the head ".*", and holds no LF or CR with it.
// Such patterns are the built-in ignore rules, most rules users write, and every name a user types
// without pattern characters; they are answered by comparing bytes from the end, with no
// automaton to build or run.
class LiteralEngine {
public:
    // The engine for `pattern` (which std::regex accepted), or nothing when it has another shape.
    static std::optional<LiteralEngine> recognize(const char* pattern, std::size_t size) {
        static constexpr char kTail[] = "(\\.[a-zA-Z]+)+";
        static constexpr std::size_t kTailSize = sizeof kTail - 1;
        LiteralEngine engine;
        std::size_t i = 0;
        if (i < size && pattern[i] == '^')
            ++i;
        if (i + 1 < size && pattern[i] == '.' && pattern[i + 1] == '*') {
            engine.m_head = true;
            i += 2;
        }
        while (i < size) {
            const char c = pattern[i];
            if (c == '(' && size - i >= kTailSize &&
                std::char_traits<char>::compare(pattern + i, kTail, kTailSize) == 0) {
                engine.m_tail = true;
                i += kTailSize;
                break;
            }
            if (c == '$')
                break;
            if (c == '\\') {
                if (i + 1 >= size || !isEscapedLiteral(pattern[i + 1]))
                    return std::nullopt;
                engine.append(pattern[i + 1], false);
                i += 2;
            } else if (c == '.') {
                engine.append(c, true);
                ++i;
            } else if (c == '\0' || std::strchr(kPatternCharacters, c)) {
                return std::nullopt;  // a quantifier, a class, a group, an anchor, an alternative
            } else {
                engine.append(c, false);
                ++i;
            }
        }
        if (i < size && pattern[i] == '$')
            ++i;
        if (i != size)
            return std::nullopt;
        return engine;
    }

    // Over the bytes of a subject (Char = char), never undecided; or over the wide elements of a
    // text (Char = wchar_t), whose narrow form is their UTF-8 encoding. An element below 0x80 is
    // its own byte, and every byte of a larger one is 0x80 or more: one is no LF, CR, dot, ASCII
    // letter or ASCII literal. So, counted from the end, elements keep their byte positions as
    // long as no larger element stands between, and the answer over the elements is the answer
    // over the bytes but where a wildcard faces a larger element, whose bytes may be several.
    template <class Char>
    Verdict match(const Char* subject, std::size_t size) const {
        if (sizeof(Char) > 1 && !m_ascii)
            return Verdict::kUndecided;
        if (!m_tail)
            return matchBefore(subject, size);
        bool undecided = false;
        // Walk back over the letters and dots at the end; every dot reached with a letter after
        // it, and no other byte after that, starts a valid run of extensions.
        bool letterAfter = false;
        for (std::size_t k = size; k > 0; --k) {
            const std::uint32_t c = unit(subject[k - 1]);
            if (isAsciiLetter(c)) {
                letterAfter = true;
            } else if (c == '.' && letterAfter) {
                const Verdict verdict = matchBefore(subject, k - 1);
                if (verdict == Verdict::kYes)
                    return verdict;
                undecided = undecided || verdict == Verdict::kUndecided;
                letterAfter = false;
            } else {
                break;
            }
        }
        return undecided ? Verdict::kUndecided : Verdict::kNo;
    }

private:
    // The bytes with a meaning in an ECMAScript pattern, '.' aside; ']' and '}' alone are plain
    // bytes to std::regex, but are left to the other engines rather than told apart here.
    static constexpr char kPatternCharacters[] = "\\^$*+?()[]{}|";

    // ASCII punctuation after a backslash stands for itself.
    static bool isEscapedLiteral(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7F && !isDigit(c) && !isAsciiLetter(u);
    }

    void append(char c, bool wildcard) {
        m_body += c;
        m_wildcard.push_back(wildcard);
        m_ascii = m_ascii && static_cast<unsigned char>(c) < 0x80;
    }

    // Whether BODY ends at `end`, after what the head may take.
    template <class Char>
    Verdict matchBefore(const Char* subject, std::size_t end) const {
        // Compared from `end` backwards, so that over elements the comparison stops, undecided,
        // at the first element that is not a byte of its own, before positions could drift.
        const std::size_t n = m_body.size();
        const std::size_t overlap = std::min(n, end);
        for (std::size_t i = 1; i <= overlap; ++i) {
            const std::uint32_t c = unit(subject[end - i]);
            const char expected = m_body[n - i];
            // Equal is a match, for a wildcard too ('.' is no line terminator), so the flag is
            // read only where BODY holds a '.' that the subject does not.
            if (c == unit(expected))
                continue;
            if (expected != '.' || !m_wildcard[n - i] || isLineTerminator(c))
                return Verdict::kNo;
            if (c >= 0x80 && sizeof(Char) > 1)
                return Verdict::kUndecided;
        }
        // Fewer elements than BODY's bytes, all below 0x80, are fewer bytes too.
        if (overlap < n)
            return Verdict::kNo;
        const std::size_t start = end - n;
        if (!m_head)
            return start == 0 ? Verdict::kYes : Verdict::kNo;
        const bool clean = std::none_of(subject, subject + start,
                                        [](Char c) { return isLineTerminator(unit(c)); });
        return clean ? Verdict::kYes : Verdict::kNo;
    }

    std::string m_body;            // BODY's bytes, a wildcard's as '.'
    std::vector<bool> m_wildcard;  // for each byte of m_body, whether it is a wildcard
    bool m_head = false;           // ".*" comes first
    bool m_tail = false;           // "(\.[a-zA-Z]+)+" comes last
    bool m_ascii = true;           // every byte of BODY is below 0x80
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

    std::optional<LiteralEngine> literal;    // set when the pattern has the literal shape
    std::unique_ptr<RE2> automaton;          // otherwise set when a finite automaton expresses it
    pcre2_code* code = nullptr;              // otherwise the backtracking engine
    pcre2_match_context* context = nullptr;  // its bounds; only read while matching
};

UserPattern::UserPattern(const char* pattern, std::size_t size, std::size_t frameBytes) {
    checkLimits(pattern, size, frameBytes);
    refuseRepeatedQuantifier(pattern, size);
    // The definition of validity; within the limits above its recursion is bounded.
    (void)std::regex(pattern, size, std::regex::ECMAScript);

    auto engine = std::make_shared<Engine>();
    engine->literal = LiteralEngine::recognize(pattern, size);
    if (engine->literal) {
        m_engine = std::move(engine);
        return;
    }
    Translator translator(pattern, size);
    translator.run();
    const std::string& text = translator.output();
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
    if (m_engine->literal)
        return m_engine->literal->match(begin, size) == Verdict::kYes;
    if (m_engine->automaton)
        return RE2::FullMatch(re2::StringPiece(begin, size), *m_engine->automaton);
    std::unique_ptr<pcre2_match_data, void (*)(pcre2_match_data*)> data(
        pcre2_match_data_create_from_pattern(m_engine->code, nullptr), pcre2_match_data_free);
    if (!data)
        refuse(std::regex_constants::error_space);
    const int result = pcre2_match(m_engine->code, reinterpret_cast<PCRE2_SPTR>(begin), size, 0, 0,
                                   data.get(), m_engine->context);
    if (result >= 0)
        return true;
    if (result == PCRE2_ERROR_NOMATCH)
        return false;
    // The bounds were reached (or memory ran out): no answer rather than a late one.
    refuse(std::regex_constants::error_complexity);
}

bool UserPattern::matches(const OdString& text) const {
    if (m_engine->literal) {
        const std::wstring& wide = text.wstr();
        const Verdict verdict = m_engine->literal->match(wide.data(), wide.size());
        if (verdict != Verdict::kUndecided)
            return verdict == Verdict::kYes;
    }
    const char* const narrow = text.ansi_str();
    return matches(narrow, narrow + text.ansiLength());
}

UserPattern::EEngine UserPattern::engine() const {
    if (m_engine->literal)
        return EEngine::literal;
    return m_engine->automaton ? EEngine::automaton : EEngine::backtracking;
}

}  // namespace common

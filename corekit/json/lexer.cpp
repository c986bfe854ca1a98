#include <corekit/json/internal/lexer.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>

#include <platform/Utf8.h>

namespace corekit {
namespace json {

namespace {

int hex_digit(wchar_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<int>(c - 'A' + 10);
    }
    return -1;
}

template <class Char>
bool is_digit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

template <class Char>
bool is_space(Char c) {
    return c == Char(' ') || (c >= Char(0x09) && c <= Char(0x0D));
}

// The element an input unit stands for outside the decoded runs: a byte as its unsigned value.
wchar_t unit(char c) {
    return static_cast<unsigned char>(c);
}
wchar_t unit(wchar_t c) {
    return c;
}

// --- sixteen bytes at a time --------------------------------------------------------------------
//
// UTF-8 text is mostly indentation and plain ASCII strings; both are crossed two words at a time,
// each byte classified on its own by arithmetic that never carries from one byte into the next.
// The wide input keeps the plain loops, which are what these must equal.

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;
constexpr std::uint64_t kLowBits = ~kHighBits;

std::uint64_t load_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Per byte, the high bit set when the low seven bits (`low`, the word without its high bits)
// differ from the ASCII character `c`: each byte's sum stays below 0x100.
std::uint64_t differs_from(std::uint64_t low, char c) {
    return ((low ^ (kOnes * static_cast<unsigned char>(c))) + kLowBits) & kHighBits;
}

// Per byte of `word`, the high bit set when the byte is not JSON whitespace.
std::uint64_t non_space_bytes(std::uint64_t word) {
    const std::uint64_t low = word & kLowBits;
    // At least 0x09, and not at least 0x0E.
    const std::uint64_t control = (low + kOnes * (0x80 - 0x09)) & ~(low + kOnes * (0x80 - 0x0E));
    return ((differs_from(low, ' ') & ~control) | word) & kHighBits;
}

// Per byte of `word`, the high bit set when the byte ends a plain run of UTF-8 string text.
std::uint64_t special_bytes(std::uint64_t word) {
    const std::uint64_t low = word & kLowBits;
    return (~(differs_from(low, '"') & differs_from(low, '\\') & differs_from(low, '\r')) | word) &
           kHighBits;
}

// The position in memory order of the first flagged byte of `flags` (made from a word that
// load_word read), which has one.
int first_flagged(std::uint64_t flags) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return __builtin_ctzll(flags) / 8;
#else
    unsigned char bytes[sizeof flags];
    std::memcpy(bytes, &flags, sizeof flags);
    int at = 0;
    while (bytes[at] == 0) {
        ++at;
    }
    return at;
#endif
}

// The first of the sixteen bytes from `p` that `flagged` flags, or `p + 16` when there is none.
template <class Flags>
const char* first_of_sixteen(const char* p, Flags flagged) {
    const std::uint64_t first = flagged(load_word(p));
    const std::uint64_t second = flagged(load_word(p + 8));
    if ((first | second) == 0) {
        return p + 16;
    }
    return p + (first != 0 ? first_flagged(first) : 8 + first_flagged(second));
}

const wchar_t* skip_whitespace(const wchar_t* p, const wchar_t* end) {
    while (p != end && is_space(*p)) {
        ++p;
    }
    return p;
}

// Most tokens follow no whitespace or a single space: compared a byte at a time, those two let the
// next token start without waiting for the arithmetic of a word. A line feed's indentation, most
// of a formatted document, is crossed sixteen bytes a step.
const char* skip_whitespace(const char* p, const char* end) {
    if (p == end || !is_space(*p)) {
        return p;
    }
    ++p;
    if (p == end || !is_space(*p)) {
        return p;
    }
    while (end - p >= 16) {
        const char* const next = first_of_sixteen(p, non_space_bytes);
        if (next != p + 16) {
            return next;
        }
        p = next;
    }
    while (p != end && is_space(*p)) {
        ++p;
    }
    return p;
}

// The first element at or after `p` that ends a plain run of string text: a quote or a backslash.
const wchar_t* find_special(const wchar_t* p, const wchar_t* end) {
    while (p != end && *p != L'"' && *p != L'\\') {
        ++p;
    }
    return p;
}

// The same over UTF-8, where a CR (dropped before an LF) and every non-ASCII byte (decoded) end a
// run too.
const char* find_special(const char* p, const char* end) {
    while (end - p >= 16) {
        const char* const next = first_of_sixteen(p, special_bytes);
        if (next != p + 16) {
            return next;
        }
        p = next;
    }
    while (p != end && *p != '"' && *p != '\\' && *p != '\r' && unit(*p) < 0x80) {
        ++p;
    }
    return p;
}

// Copies a plain run, which for UTF-8 is ASCII and widens as it is.
void widen(const char* first, const char* last, wchar_t* out) {
    std::transform(first, last, out, [](char c) { return unit(c); });
}
void widen(const wchar_t* first, const wchar_t* last, wchar_t* out) {
    std::copy(first, last, out);
}

// Appends the string characters from `pos` up to the next quote or backslash (or the end) to
// `out`, and leaves `pos` there.
void append_run(TextBuffer& out, const wchar_t*& pos, const wchar_t* end) {
    const wchar_t* const run = pos;
    pos = find_special(run, end);
    widen(run, pos, out.extend(static_cast<std::size_t>(pos - run)));
}

// The same from UTF-8, as the file utilities decode it. Decoded alone, a run gives what decoding
// the whole file gives there, since it ends at an ASCII byte and no UTF-8 sequence spans one; and
// a CR at its end is followed by a quote or a backslash, not by the LF that would drop it.
void append_run(TextBuffer& out, const char*& pos, const char* end) {
    const char* const run = pos;
    pos = find_special(run, end);
    widen(run, pos, out.extend(static_cast<std::size_t>(pos - run)));
    if (pos == end || *pos == '"' || *pos == '\\') {
        return;
    }
    const char* const first = pos;
    while (pos != end && *pos != '"' && *pos != '\\') {
        ++pos;
    }
    std::wstring decoded;
    if (std::find(first, pos, '\r') == pos) {
        decoded = ut::decodeUtf8(first, static_cast<std::size_t>(pos - first));
    } else {
        std::string bytes;
        for (const char* p = first; p != pos; ++p) {
            if (!(*p == '\r' && p + 1 != end && p[1] == '\n')) {
                bytes.push_back(*p);
            }
        }
        decoded = ut::decodeUtf8(bytes.data(), bytes.size());
    }
    std::copy(decoded.begin(), decoded.end(), out.extend(decoded.size()));
}

// The C library's own conversion, whatever LC_NUMERIC the host has set: the token's "." becomes
// the locale's decimal point first, so that a host with a decimal comma reads the same number.
// (Standard C only: newlocale and strtod_l are not everywhere.)
double c_locale_strtod(const char* text) {
    std::string local(text);
    const char* const point = std::localeconv()->decimal_point;
    const auto dot = local.find('.');
    if (dot != std::string::npos && point && *point && std::strcmp(point, ".") != 0)
        local.replace(dot, 1, point);
    return std::strtod(local.c_str(), nullptr);
}

// Same result as wcstod on an accepted number token. from_chars is exact and locale-free but
// declines out-of-range values (overflow to infinity, underflow to zero), which the C library
// converts with saturation: those few go through the C library itself.
double to_double(const char* first, const char* last) {
    double result = 0;
    auto converted = std::from_chars(first, last, result);
    if (converted.ec != std::errc() || converted.ptr != last) {
        result = c_locale_strtod(std::string(first, last).c_str());
    }
    return result;
}

// The characters of a number token as the narrow text the conversions take. Numbers are ASCII: a
// UTF-8 token is that text already.
const char* narrow_number(const char* first, const char* /*last*/, std::string& /*buffer*/) {
    return first;
}
const char* narrow_number(const wchar_t* first, const wchar_t* last, std::string& buffer) {
    buffer.resize(static_cast<std::size_t>(last - first));
    std::transform(first, last, buffer.begin(), [](wchar_t c) { return static_cast<char>(c); });
    return buffer.data();
}

}  // namespace

void TextBuffer::reserve(std::size_t needed) {
    const std::size_t capacity = std::max({needed, 2 * capacity_, std::size_t{64}});
    std::unique_ptr<wchar_t[]> data(new wchar_t[capacity]);
    std::copy(data_.get(), data_.get() + size_, data.get());
    data_ = std::move(data);
    capacity_ = capacity;
}

template <class Char>
bool Lexer<Char>::text_is(std::string_view ascii) const {
    const auto same = [](auto c, char a) { return unit(c) == unit(a); };
    if (plain_ == nullptr) {
        const std::wstring_view text = text_.view();
        return text.size() == ascii.size() &&
               std::equal(text.begin(), text.end(), ascii.begin(), same);
    }
    if constexpr (std::is_same_v<Char, char>) {
        return plain_size_ == ascii.size() && std::memcmp(plain_, ascii.data(), plain_size_) == 0;
    } else {
        return plain_size_ == ascii.size() &&
               std::equal(plain_, plain_ + plain_size_, ascii.begin(), same);
    }
}

template <class Char>
std::wstring Lexer<Char>::text() const {
    if (plain_ == nullptr) {
        return std::wstring(text_.view());
    }
    // For UTF-8, ASCII widening as it is.
    return std::wstring(plain_, plain_ + plain_size_);
}

template <class Char>
Token Lexer<Char>::next() {
    // A local cursor: stores through pos_ could alias the bytes read, and force a reload each.
    const Char* p = skip_whitespace(pos_, end_);
    if (p == end_) {
        pos_ = p;
        return Token::end;
    }
    const Char c = *p;
    pos_ = p + 1;
    switch (c) {
        case Char('['):
            return Token::begin_array;
        case Char(']'):
            return Token::end_array;
        case Char('{'):
            return Token::begin_object;
        case Char('}'):
            return Token::end_object;
        case Char(':'):
            return Token::colon;
        case Char(','):
            return Token::comma;
        case Char('"'):
            return scan_string();
        case Char('t'):
            return scan_literal("rue") ? Token::true_literal : Token::error;
        case Char('f'):
            return scan_literal("alse") ? Token::false_literal : Token::error;
        case Char('n'):
            return scan_literal("ull") ? Token::null_literal : Token::error;
        case Char(0):
            return Token::end;
        default:
            if (c == Char('-') || is_digit(c)) {
                return scan_number();
            }
            // Everything else, every non-ASCII character (a byte-order mark too) included.
            return Token::error;
    }
}

template <class Char>
bool Lexer<Char>::scan_literal(const char* rest) {
    for (; *rest != '\0'; ++rest) {
        if (pos_ == end_ || *pos_++ != Char(*rest)) {
            return false;
        }
    }
    return true;
}

template <class Char>
Token Lexer<Char>::scan_string() {
    // Most strings end at the first special character: their text stays where it is.
    const Char* const start = pos_;
    const Char* const special = find_special(start, end_);
    if (special != end_ && *special == Char('"')) {
        plain_ = start;
        plain_size_ = static_cast<std::size_t>(special - start);
        pos_ = special + 1;
        return Token::string;
    }
    plain_ = nullptr;
    text_.clear();
    widen(start, special, text_.extend(static_cast<std::size_t>(special - start)));
    pos_ = special;
    // A high-surrogate escape waits here until we know whether a low-surrogate escape follows.
    wchar_t high = 0;
    auto flush_high = [&] {
        if (high != 0) {
            text_.push_back(high);
            high = 0;
        }
    };
    for (;;) {
        if (pos_ != end_ && *pos_ != Char('"') && *pos_ != Char('\\')) {
            flush_high();
            append_run(text_, pos_, end_);
        }
        if (pos_ == end_) {
            return Token::error;
        }
        if (*pos_++ == Char('"')) {
            flush_high();
            return Token::string;
        }
        if (pos_ == end_) {
            return Token::error;
        }
        wchar_t escaped;
        switch (*pos_++) {
            case Char('"'):
                escaped = '"';
                break;
            case Char('\\'):
                escaped = '\\';
                break;
            case Char('/'):
                escaped = '/';
                break;
            case Char('b'):
                escaped = 0x08;
                break;
            case Char('f'):
                escaped = 0x0C;
                break;
            case Char('n'):
                escaped = 0x0A;
                break;
            case Char('r'):
                escaped = 0x0D;
                break;
            case Char('t'):
                escaped = 0x09;
                break;
            case Char('u'): {
                std::uint32_t code = 0;
                for (int i = 0; i < 4; ++i) {
                    if (pos_ == end_) {
                        return Token::error;
                    }
                    int digit = hex_digit(unit(*pos_++));
                    if (digit < 0) {
                        return Token::error;
                    }
                    code = code * 16 + static_cast<std::uint32_t>(digit);
                }
                if (high != 0 && code >= 0xDC00 && code <= 0xDFFF) {
                    if (sizeof(wchar_t) >= 4) {
                        const auto first = static_cast<std::uint32_t>(high);
                        text_.push_back(static_cast<wchar_t>(0x10000 + ((first - 0xD800) << 10) +
                                                             (code - 0xDC00)));
                    } else {
                        // A 16-bit element cannot hold the code point: keep the pair as it is.
                        text_.push_back(high);
                        text_.push_back(static_cast<wchar_t>(code));
                    }
                    high = 0;
                } else {
                    flush_high();
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        high = static_cast<wchar_t>(code);
                    } else {
                        text_.push_back(static_cast<wchar_t>(code));
                    }
                }
                continue;
            }
            default:
                return Token::error;
        }
        flush_high();
        text_.push_back(escaped);
    }
}

template <class Char>
Token Lexer<Char>::scan_number() {
    // -?(0|[1-9][0-9]*)(\.[0-9]*)?([eE][+-]?[0-9]+)?, longest match; the character after it is
    // the next token's.
    const Char* const first = pos_ - 1;
    const Char* p = pos_;
    const bool negative = *first == Char('-');
    if (negative) {
        if (p == end_ || !is_digit(*p)) {
            pos_ = p;
            return Token::error;
        }
        ++p;
    }
    const bool zero = p[-1] == Char('0');  // the first digit: "0" and "-0" take no other
    if (!zero) {
        while (p != end_ && is_digit(*p)) {
            ++p;
        }
    }
    bool integer = true;
    if (p != end_ && *p == Char('.')) {
        integer = false;
        ++p;
        while (p != end_ && is_digit(*p)) {
            ++p;
        }
    }
    if (p != end_ && (*p == Char('e') || *p == Char('E'))) {
        integer = false;
        ++p;
        if (p != end_ && (*p == Char('+') || *p == Char('-'))) {
            ++p;
        }
        if (p == end_ || !is_digit(*p)) {
            pos_ = p;
            return Token::error;
        }
        while (p != end_ && is_digit(*p)) {
            ++p;
        }
    }
    pos_ = p;

    const char* const text = narrow_number(first, p, number_);
    const char* const text_end = text + (p - first);
    if (!integer) {
        real_value_ = to_double(text, text_end);
        return Token::real;
    }
    if (zero) {
        unsigned_value_ = 0;
        return Token::unsigned_int;
    }
    if (!negative) {
        if (std::from_chars(text, text_end, unsigned_value_).ec != std::errc()) {
            // The digits are well formed, so the only failure is a value above the range.
            unsigned_value_ = std::numeric_limits<std::uint64_t>::max();
        }
        return Token::unsigned_int;
    }
    if (std::from_chars(text, text_end, signed_value_).ec != std::errc()) {
        signed_value_ = std::numeric_limits<std::int64_t>::min();
    }
    return Token::signed_int;
}

template class Lexer<wchar_t>;
template class Lexer<char>;

}  // namespace json
}  // namespace corekit

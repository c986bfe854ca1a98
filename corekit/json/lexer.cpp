#include <corekit/json/internal/lexer.h>

#include <locale.h>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>

#include <platform/Utf8.h>

namespace corekit {
namespace json {

namespace {

int hex_digit(std::int64_t c) {
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

bool is_digit(std::int64_t c) {
    return c >= '0' && c <= '9';
}

// The C library's own conversion in the "C" locale, so that "." is the decimal point even when the
// host has switched LC_NUMERIC to a locale with a decimal comma.
double c_locale_strtod(const char* text) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c_locale ? strtod_l(text, nullptr, c_locale) : std::strtod(text, nullptr);
}

// Same result as wcstod on an accepted number token. from_chars is exact and locale-free but
// declines out-of-range values (overflow to infinity, underflow to zero), which the C library
// converts with saturation: those few go through the C library itself.
double to_double(const std::string& token) {
    double result = 0;
    const char* last = token.data() + token.size();
    auto converted = std::from_chars(token.data(), last, result);
    if (converted.ec != std::errc() || converted.ptr != last) {
        result = c_locale_strtod(token.c_str());
    }
    return result;
}

// Appends the string characters from `pos` up to the next quote or backslash (or the end) to
// `out`, and leaves `pos` there.
void append_run(TextBuffer& out, const wchar_t*& pos, const wchar_t* end) {
    const wchar_t* const run = pos;
    const wchar_t* p = run;
    while (p != end && *p != L'"' && *p != L'\\') {
        ++p;
    }
    pos = p;
    std::copy(run, p, out.extend(static_cast<std::size_t>(p - run)));
}

// The same from UTF-8, as the file utilities decode it. Decoded alone, a run gives what decoding
// the whole file gives there, since it ends at an ASCII byte and no UTF-8 sequence spans one; and
// a CR at its end is followed by a quote or a backslash, not by the LF that would drop it.
void append_run(TextBuffer& out, const char*& pos, const char* end) {
    // The bytes that end a run of plain ASCII: a quote, a backslash, a CR, and every non-ASCII one.
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (int byte = 0x80; byte < 0x100; ++byte) {
            special[byte] = true;
        }
        special['"'] = special['\\'] = special['\r'] = true;
        return special;
    }();
    const char* const run = pos;
    const char* p = run;
    while (p != end && !kSpecial[static_cast<unsigned char>(*p)]) {
        ++p;
    }
    pos = p;
    std::copy(run, p, out.extend(static_cast<std::size_t>(p - run)));  // ASCII widens as it is
    if (pos == end || *pos == '"' || *pos == '\\') {
        return;
    }
    std::string bytes;
    for (; pos != end && *pos != '"' && *pos != '\\'; ++pos) {
        if (!(*pos == '\r' && pos + 1 != end && pos[1] == '\n')) {
            bytes.push_back(*pos);
        }
    }
    const std::wstring decoded = ut::decodeUtf8(bytes.data(), bytes.size());
    std::copy(decoded.begin(), decoded.end(), out.extend(decoded.size()));
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
typename Lexer<Char>::Code Lexer<Char>::get() {
    if (pushed_ != kNothingPushed) {
        Code c = pushed_;
        pushed_ = kNothingPushed;
        return c;
    }
    // Outside strings only ASCII means anything: any other unit, decoded or not, is an error.
    if (pos_ != end_) {
        return static_cast<std::make_unsigned_t<Char>>(*pos_++);
    }
    return kEnd;
}

template <class Char>
Token Lexer<Char>::next() {
    // Indentation is most of a formatted document: skip it straight over the input.
    // (A local cursor: stores through pos_ could alias the bytes read, and force a reload each.)
    if (pushed_ == kNothingPushed) {
        const Char* p = pos_;
        while (p != end_ && (*p == Char(' ') || (*p >= Char(0x09) && *p <= Char(0x0D)))) {
            ++p;
        }
        pos_ = p;
    }
    Code c = get();
    while (c == ' ' || (c >= 0x09 && c <= 0x0D)) {
        c = get();
    }
    if (c == kEnd || c == 0) {
        return Token::end;
    }
    switch (c) {
        case '[':
            return Token::begin_array;
        case ']':
            return Token::end_array;
        case '{':
            return Token::begin_object;
        case '}':
            return Token::end_object;
        case ':':
            return Token::colon;
        case ',':
            return Token::comma;
        case '"':
            return scan_string();
        case 't':
            return scan_literal("rue") ? Token::true_literal : Token::error;
        case 'f':
            return scan_literal("alse") ? Token::false_literal : Token::error;
        case 'n':
            return scan_literal("ull") ? Token::null_literal : Token::error;
        default:
            if (c == '-' || is_digit(c)) {
                return scan_number(c);
            }
            // Everything else, every non-ASCII character (a byte-order mark too) included.
            return Token::error;
    }
}

template <class Char>
bool Lexer<Char>::scan_literal(const char* rest) {
    for (; *rest != '\0'; ++rest) {
        if (get() != *rest) {
            return false;
        }
    }
    return true;
}

template <class Char>
Token Lexer<Char>::scan_string() {
    // The opening quote came through get(), so nothing is pushed back and the input can be
    // scanned directly, a run of plain characters at a time.
    text_.clear();
    // A high-surrogate escape waits here until we know whether a low-surrogate escape follows.
    Code high = 0;
    auto flush_high = [&] {
        if (high != 0) {
            text_.push_back(static_cast<wchar_t>(high));
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
        Code unit;
        switch (*pos_++) {
            case Char('"'):
                unit = '"';
                break;
            case Char('\\'):
                unit = '\\';
                break;
            case Char('/'):
                unit = '/';
                break;
            case Char('b'):
                unit = 0x08;
                break;
            case Char('f'):
                unit = 0x0C;
                break;
            case Char('n'):
                unit = 0x0A;
                break;
            case Char('r'):
                unit = 0x0D;
                break;
            case Char('t'):
                unit = 0x09;
                break;
            case Char('u'): {
                unit = 0;
                for (int i = 0; i < 4; ++i) {
                    if (pos_ == end_) {
                        return Token::error;
                    }
                    int digit = hex_digit(static_cast<std::make_unsigned_t<Char>>(*pos_++));
                    if (digit < 0) {
                        return Token::error;
                    }
                    unit = unit * 16 + digit;
                }
                if (high != 0 && unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (sizeof(wchar_t) >= 4) {
                        text_.push_back(static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) +
                                                             (unit - 0xDC00)));
                    } else {
                        // A 16-bit element cannot hold the code point: keep the pair as it is.
                        text_.push_back(static_cast<wchar_t>(high));
                        text_.push_back(static_cast<wchar_t>(unit));
                    }
                    high = 0;
                } else {
                    flush_high();
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        high = unit;
                    } else {
                        text_.push_back(static_cast<wchar_t>(unit));
                    }
                }
                continue;
            }
            default:
                return Token::error;
        }
        flush_high();
        text_.push_back(static_cast<wchar_t>(unit));
    }
}

template <class Char>
Token Lexer<Char>::scan_number(Code first) {
    // -?(0|[1-9][0-9]*)(\.[0-9]*)?([eE][+-]?[0-9]+)?, longest match; the character that ends the
    // number is pushed back to start the next token.
    enum class State {
        minus,
        zero,
        positive,
        negative,
        fraction,
        exponent_mark,
        exponent_sign,
        exponent_digits
    };
    number_.clear();
    number_.push_back(static_cast<char>(first));
    State state = first == '-' ? State::minus : first == '0' ? State::zero : State::positive;
    for (;;) {
        Code c = get();
        State next = state;
        bool ends = false;
        switch (state) {
            case State::minus:
                if (!is_digit(c)) {
                    return Token::error;
                }
                next = c == '0' ? State::zero : State::negative;
                break;
            case State::zero:
            case State::positive:
            case State::negative:
            case State::fraction:
                if (is_digit(c) && state != State::zero) {
                    next = state;
                } else if (c == '.' && state != State::fraction) {
                    next = State::fraction;
                } else if (c == 'e' || c == 'E') {
                    next = State::exponent_mark;
                } else {
                    ends = true;
                }
                break;
            case State::exponent_mark:
                if (c == '+' || c == '-') {
                    next = State::exponent_sign;
                    break;
                }
                [[fallthrough]];
            case State::exponent_sign:
                if (!is_digit(c)) {
                    return Token::error;
                }
                next = State::exponent_digits;
                break;
            case State::exponent_digits:
                if (is_digit(c)) {
                    next = state;
                } else {
                    ends = true;
                }
                break;
        }
        if (ends) {
            if (c != kEnd) {
                push_back(c);
            }
            break;
        }
        number_.push_back(static_cast<char>(c));
        state = next;
    }

    const char* first_char = number_.data();
    const char* last_char = first_char + number_.size();
    switch (state) {
        case State::zero:
            // "0" and "-0" alike.
            unsigned_value_ = 0;
            return Token::unsigned_int;
        case State::positive:
            if (std::from_chars(first_char, last_char, unsigned_value_).ec != std::errc()) {
                // The digits are well formed, so the only failure is a value above the range.
                unsigned_value_ = std::numeric_limits<std::uint64_t>::max();
            }
            return Token::unsigned_int;
        case State::negative:
            if (std::from_chars(first_char, last_char, signed_value_).ec != std::errc()) {
                signed_value_ = std::numeric_limits<std::int64_t>::min();
            }
            return Token::signed_int;
        default:
            real_value_ = to_double(number_);
            return Token::real;
    }
}

template class Lexer<wchar_t>;
template class Lexer<char>;

}  // namespace json
}  // namespace corekit

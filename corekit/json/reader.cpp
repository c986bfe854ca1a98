#include <corekit/json/reader.h>

#include <locale.h>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

namespace corekit {
namespace json {
namespace detail {

// Recursive-descent parser over [pos, end) with one character of push-back. It lives for one
// read and reports every syntax error by throwing Error, so that the partly built containers of
// all levels are released on the way out and the caller's value is never half-written.
template <class Value, class Iter>
class Parser {
public:
    struct Error {};

    Parser(Iter& pos, Iter end) : pos_(pos), end_(end) {}

    // Reads one value into `out` and returns true. With `allow_close`, a ']' in place of the value
    // returns false and stores nothing (an array ending after '[' or after a comma).
    bool parse_value(Value& out, bool allow_close);

private:
    using String = typename Value::String;
    using Object = typename Value::Object;
    using Array = typename Value::Array;
    using Char = typename String::value_type;
    using Unit = std::make_unsigned_t<Char>;
    // Wide enough for every Char value plus the two markers below.
    using Code = std::int64_t;

    static constexpr Code kEnd = -1;
    static constexpr Code kNothingPushed = -2;

    enum class Token {
        begin_array,
        end_array,
        begin_object,
        end_object,
        colon,
        comma,
        null_literal,
        true_literal,
        false_literal,
        signed_int,
        unsigned_int,
        real,
        string,
        end,
        error,
    };

    Code get() {
        if (pushed_ != kNothingPushed) {
            Code c = pushed_;
            pushed_ = kNothingPushed;
            return c;
        }
        if (pos_ != end_) {
            return static_cast<Unit>(*pos_++);
        }
        return kEnd;
    }

    // The slot has its own "empty" marker rather than 0, so that a U+0000 read as the look-ahead
    // of a number comes back and ends the input, like any U+0000 outside a string.
    void push_back(Code c) { pushed_ = c; }

    Token next_token();
    Token scan_string();
    Token scan_number(Code first);
    bool scan_literal(const char* rest);
    void parse_array(Value& out);
    void parse_object(Value& out);

    void enter() {
        if (++depth_ > kMaxNestingDepth) {
            throw Error{};
        }
    }

    Iter& pos_;
    const Iter end_;
    Code pushed_ = kNothingPushed;
    String text_;
    std::uint64_t unsigned_value_ = 0;
    std::int64_t signed_value_ = 0;
    double real_value_ = 0;
    // Numbers are ASCII: they are collected narrow so that the standard conversions take them as
    // they are, without a widening or narrowing copy per digit.
    std::string number_;
    int depth_ = 0;
};

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

}  // namespace

template <class Value, class Iter>
bool Parser<Value, Iter>::parse_value(Value& out, bool allow_close) {
    switch (next_token()) {
        case Token::null_literal:
            out = Value();
            return true;
        case Token::true_literal:
            out = Value(true);
            return true;
        case Token::false_literal:
            out = Value(false);
            return true;
        case Token::signed_int:
            out = Value(signed_value_);
            return true;
        case Token::unsigned_int:
            out = Value(unsigned_value_);
            return true;
        case Token::real:
            out = Value(real_value_);
            return true;
        case Token::string:
            out = Value(String(text_));
            return true;
        case Token::begin_array:
            parse_array(out);
            return true;
        case Token::begin_object:
            parse_object(out);
            return true;
        case Token::end_array:
            if (allow_close) {
                return false;
            }
            throw Error{};
        default:
            throw Error{};
    }
}

template <class Value, class Iter>
void Parser<Value, Iter>::parse_array(Value& out) {
    enter();
    Array array;
    Value element;
    if (parse_value(element, true)) {
        for (;;) {
            array.push_back(std::move(element));
            Token after = next_token();
            if (after == Token::comma) {
                // A ']' right after the comma is a trailing comma, not an empty element.
                if (!parse_value(element, true)) {
                    break;
                }
            } else if (after == Token::end_array) {
                break;
            } else {
                throw Error{};
            }
        }
    }
    --depth_;
    out = Value(std::move(array));
}

template <class Value, class Iter>
void Parser<Value, Iter>::parse_object(Value& out) {
    enter();
    Object object;
    Token token = next_token();
    while (token == Token::string) {
        if (next_token() != Token::colon) {
            throw Error{};
        }
        // The ':' token left the key in text_. Members usually arrive in key order (the writer
        // sorts them), so the end hint makes each insertion constant time. A repeated key finds
        // its earlier member, which the new value then replaces.
        Value& member = object.try_emplace(object.end(), text_)->second;
        parse_value(member, false);
        token = next_token();
        if (token != Token::comma) {
            break;
        }
        token = next_token();
    }
    if (token != Token::end_object) {
        throw Error{};
    }
    --depth_;
    out = Value(std::move(object));
}

template <class Value, class Iter>
typename Parser<Value, Iter>::Token Parser<Value, Iter>::next_token() {
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

template <class Value, class Iter>
bool Parser<Value, Iter>::scan_literal(const char* rest) {
    for (; *rest != '\0'; ++rest) {
        if (get() != *rest) {
            return false;
        }
    }
    return true;
}

template <class Value, class Iter>
typename Parser<Value, Iter>::Token Parser<Value, Iter>::scan_string() {
    // The opening quote came through get(), so nothing is pushed back and the input can be
    // scanned directly, a run of plain characters at a time.
    text_.clear();
    // A high-surrogate escape waits here until we know whether a low-surrogate escape follows.
    Code high = 0;
    auto flush_high = [&] {
        if (high != 0) {
            text_.push_back(static_cast<Char>(high));
            high = 0;
        }
    };
    for (;;) {
        Iter run = pos_;
        while (pos_ != end_ && *pos_ != Char('"') && *pos_ != Char('\\')) {
            ++pos_;
        }
        if (run != pos_) {
            flush_high();
            text_.append(run, pos_);
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
                    int digit = hex_digit(static_cast<Unit>(*pos_++));
                    if (digit < 0) {
                        return Token::error;
                    }
                    unit = unit * 16 + digit;
                }
                if (high != 0 && unit >= 0xDC00 && unit <= 0xDFFF) {
                    if (sizeof(Char) >= 4) {
                        text_.push_back(
                            static_cast<Char>(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00)));
                    } else {
                        // A 16-bit element cannot hold the code point: keep the pair as it is.
                        text_.push_back(static_cast<Char>(high));
                        text_.push_back(static_cast<Char>(unit));
                    }
                    high = 0;
                } else {
                    flush_high();
                    if (unit >= 0xD800 && unit <= 0xDBFF) {
                        high = unit;
                    } else {
                        text_.push_back(static_cast<Char>(unit));
                    }
                }
                continue;
            }
            default:
                return Token::error;
        }
        flush_high();
        text_.push_back(static_cast<Char>(unit));
    }
}

template <class Value, class Iter>
typename Parser<Value, Iter>::Token Parser<Value, Iter>::scan_number(Code first) {
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

template class Parser<Value, const wchar_t*>;

}  // namespace detail

bool read_value(const wchar_t*& begin, const wchar_t* end, Value& out) {
    if (begin == end) {
        return false;
    }
    using Parser = detail::Parser<Value, const wchar_t*>;
    Parser parser(begin, end);
    try {
        return parser.parse_value(out, false);
    } catch (const Parser::Error&) {
        return false;
    }
}

}  // namespace json
}  // namespace corekit

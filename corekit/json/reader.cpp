#include <corekit/json/internal/reader.h>

#include <utility>

#include <corekit/json/internal/lexer.h>

namespace corekit {
namespace json {
namespace detail {

// Recursive-descent parser over the lexer's tokens. It lives for one read and reports every
// syntax error by throwing Error, so that the partly built containers of all levels are released
// on the way out and the caller's value is never half-written.
template <class Value, class Char>
class Parser {
public:
    struct Error {};

    Parser(const Char*& pos, const Char* end) : lexer_(pos, end) {}

    // Reads one value into `out` and returns true. With `allow_close`, a ']' in place of the value
    // returns false and stores nothing (an array ending after '[' or after a comma).
    bool parse_value(Value& out, bool allow_close);

private:
    using String = typename Value::String;
    using Object = typename Value::Object;
    using Array = typename Value::Array;

    void parse_array(Value& out);
    void parse_object(Value& out);

    void enter() {
        if (++depth_ > kMaxNestingDepth) {
            throw Error{};
        }
    }

    Lexer<Char> lexer_;
    int depth_ = 0;
};

template <class Value, class Char>
bool Parser<Value, Char>::parse_value(Value& out, bool allow_close) {
    switch (lexer_.next()) {
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
            out = Value(lexer_.signed_value());
            return true;
        case Token::unsigned_int:
            out = Value(lexer_.unsigned_value());
            return true;
        case Token::real:
            out = Value(lexer_.real_value());
            return true;
        case Token::string:
            out = Value(lexer_.text());
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

template <class Value, class Char>
void Parser<Value, Char>::parse_array(Value& out) {
    enter();
    Array array;
    Value element;
    if (parse_value(element, true)) {
        for (;;) {
            array.push_back(std::move(element));
            Token after = lexer_.next();
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

template <class Value, class Char>
void Parser<Value, Char>::parse_object(Value& out) {
    enter();
    Object object;
    Token token = lexer_.next();
    while (token == Token::string) {
        if (lexer_.next() != Token::colon) {
            throw Error{};
        }
        // The ':' token left the key in the lexer's text. Members usually arrive in key order (the
        // writer sorts them), so the end hint makes each insertion constant time. A repeated key
        // finds its earlier member, which the new value then replaces.
        Value& member = object.try_emplace(object.end(), lexer_.text())->second;
        parse_value(member, false);
        token = lexer_.next();
        if (token != Token::comma) {
            break;
        }
        token = lexer_.next();
    }
    if (token != Token::end_object) {
        throw Error{};
    }
    --depth_;
    out = Value(std::move(object));
}

}  // namespace detail

namespace {

template <class Char>
bool read(const Char*& begin, const Char* end, Value& out) {
    if (begin == end) {
        return false;
    }
    using Parser = detail::Parser<Value, Char>;
    Parser parser(begin, end);
    try {
        parser.parse_value(out, false);
    } catch (const typename Parser::Error&) {
        return false;
    }
    // A number ends only where the next character shows it, and that character counts as read.
    const bool number = out.type() == int_type || out.type() == real_type;
    if (number && begin != end) {
        ++begin;
    }
    return true;
}

}  // namespace

bool read_value(const wchar_t*& begin, const wchar_t* end, Value& out) {
    return read(begin, end, out);
}

bool read_value(const char*& begin, const char* end, Value& out) {
    return read(begin, end, out);
}

}  // namespace json
}  // namespace corekit

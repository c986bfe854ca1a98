// The tokens of JSON text, with the reader's rules for whitespace, strings and numbers.
//
// One lexer serves every reader of JSON text in the library: read_value builds a Value from its
// tokens, and the state file reads its common shape straight from them, so the escape, surrogate
// and number rules of reader.h exist once. Internal to the library.
//
// The input is either wide text, one element per code unit, or UTF-8 bytes, which are read as the
// file utilities decode a text file: a byte that does not start a valid sequence is the element
// U+DC00 + byte, and a CR right before an LF is dropped (it matters only inside strings, since
// elsewhere both are whitespace). Reading the bytes of a file therefore gives exactly the tokens of
// the text ut::readEntireFile makes of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace corekit {
namespace json {

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
    end,    // the end of the input, or a U+0000 outside a string
    error,  // anything that starts no token, or a malformed one
};

// The text of a string being read that is not a plain run of the input (it has escapes, or bytes
// to decode). Such strings pass through it one after another, so it only grows, and its room is
// not initialised before it is written.
class TextBuffer {
public:
    void clear() { size_ = 0; }
    void push_back(wchar_t c) { *extend(1) = c; }
    // Room for `count` more elements at the end, to be written by the caller.
    wchar_t* extend(std::size_t count) {
        if (count > capacity_ - size_) {
            reserve(size_ + count);
        }
        wchar_t* const at = data_.get() + size_;
        size_ += count;
        return at;
    }
    std::wstring_view view() const { return {data_.get(), size_}; }

private:
    void reserve(std::size_t needed);

    std::unique_ptr<wchar_t[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Splits [pos, end) into tokens, advancing `pos` past each one. A number's token ends at the
// character after it, which is left for the next token.
template <class Char>
class Lexer {
public:
    Lexer(const Char*& pos, const Char* end) : pos_(pos), end_(end) {}

    Token next();

    // The text of the last string token stays until the next string token, so an object's key is
    // still there after its colon. Most strings hold no escape and nothing to decode: their text
    // is then left in the input, and copied only where it is wanted, in one step.
    //
    // Whether the text is `ascii`, which holds ASCII characters only, without copying the text.
    bool text_is(std::string_view ascii) const;
    // The text, in a string of its own.
    std::wstring text() const;

    // The value of the last unsigned_int, signed_int or real token.
    std::uint64_t unsigned_value() const { return unsigned_value_; }
    std::int64_t signed_value() const { return signed_value_; }
    double real_value() const { return real_value_; }

private:
    Token scan_string();
    Token scan_number();
    bool scan_literal(const char* rest);

    const Char*& pos_;
    const Char* const end_;
    // The last string's text when it is a plain run of the input (`plain_` is then not null),
    // otherwise in `text_`.
    const Char* plain_ = nullptr;
    std::size_t plain_size_ = 0;
    TextBuffer text_;
    std::uint64_t unsigned_value_ = 0;
    std::int64_t signed_value_ = 0;
    double real_value_ = 0;
    // A wide number's characters, narrowed for the standard conversions.
    std::string number_;
};

extern template class Lexer<wchar_t>;
extern template class Lexer<char>;

}  // namespace json
}  // namespace corekit

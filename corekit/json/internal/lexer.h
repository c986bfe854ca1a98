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

// The text of the string being read. A document's strings pass through it one after another, so
// it only grows, and its room is not initialised before it is written.
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

// Splits [pos, end) into tokens, advancing `pos`. After a number, one character has been looked
// at and is held back for the next token.
template <class Char>
class Lexer {
public:
    Lexer(const Char*& pos, const Char* end) : pos_(pos), end_(end) {}

    Token next();

    // The text of the last string token; it stays until the next string token, so an object's
    // key is still here after its colon.
    std::wstring_view text() const { return text_.view(); }
    // The value of the last unsigned_int, signed_int or real token.
    std::uint64_t unsigned_value() const { return unsigned_value_; }
    std::int64_t signed_value() const { return signed_value_; }
    double real_value() const { return real_value_; }

private:
    // Wide enough for every input unit plus the two markers below.
    using Code = std::int64_t;
    static constexpr Code kEnd = -1;
    static constexpr Code kNothingPushed = -2;

    Code get();
    // The slot has its own "empty" marker rather than 0, so that a U+0000 read as the look-ahead
    // of a number comes back and ends the input, like any U+0000 outside a string.
    void push_back(Code c) { pushed_ = c; }
    Token scan_string();
    Token scan_number(Code first);
    bool scan_literal(const char* rest);

    const Char*& pos_;
    const Char* const end_;
    Code pushed_ = kNothingPushed;
    TextBuffer text_;
    std::uint64_t unsigned_value_ = 0;
    std::int64_t signed_value_ = 0;
    double real_value_ = 0;
    // Numbers are ASCII: they are collected narrow so that the standard conversions take them as
    // they are, without a widening or narrowing copy per digit.
    std::string number_;
};

extern template class Lexer<wchar_t>;
extern template class Lexer<char>;

}  // namespace json
}  // namespace corekit

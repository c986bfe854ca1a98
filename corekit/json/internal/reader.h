// Reading JSON text held as wide characters into a Value.
//
// The reader is a little more lenient than strict JSON, because the files it reads were written by
// people as well as by the writer: trailing commas in arrays and objects, vertical tab and form
// feed as whitespace, raw control characters inside strings, a fraction without digits ("1."), and
// any text after the first value are all accepted. There are no comments.
//
// Strings: each element of the input is one code unit and is kept as it is; a \u escape gives one
// element, except that a high-surrogate escape immediately followed by a low-surrogate escape
// (\uD83D\uDE00) gives the one code point they encode, since wchar_t holds a whole code point. A
// lone surrogate escape gives that one element.
//
// Numbers: a non-negative integer, -0 included, is an unsigned int; a negative integer is a
// signed int; both saturate instead of failing (18446744073709551616 reads as
// 18446744073709551615, -9223372036854775809 as -9223372036854775808). A number with a fraction
// or an exponent is a real, rounded to the nearest double, with "." as decimal point whatever
// the locale. Members with the same key: the later one wins.
#pragma once

#include <corekit/json/value.h>

namespace corekit {
namespace json {

// Arrays and objects may enclose one another at most this deep; deeper input is refused like any
// other syntax error. The parser recurses once per level, so the bound keeps hostile input (a
// million '[') from exhausting the stack, including on small thread stacks. No document this
// library writes comes near it.
constexpr int kMaxNestingDepth = 512;

// Reads the first JSON value of [begin, end) into `out` and returns true. Returns false, leaving
// `out` untouched, for empty input, a syntax error, input that ends inside the value, or nesting
// deeper than kMaxNestingDepth; there is no error position or message.
//
// Only the first value is read: whatever follows it is not looked at. `begin` is left just after
// the last character consumed, which for a value ending in a number is one character past the
// number (its look-ahead); on failure it is left wherever reading stopped. A U+0000 element
// outside a string is treated as the end of the input. Only allocation failure throws.
bool read_value(const wchar_t*& begin, const wchar_t* end, Value& out);

// The same over UTF-8 bytes, read as the file utilities decode a text file (invalid bytes become
// U+DC80..U+DCFF, a CR before an LF is dropped): the value of the text that ut::readEntireFile
// makes of a file holding these bytes, without making that text. `begin` moves over bytes.
bool read_value(const char*& begin, const char* end, Value& out);

}  // namespace json
}  // namespace corekit

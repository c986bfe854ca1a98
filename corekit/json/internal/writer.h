// Writing a Value as pretty-printed JSON text.
//
// There is one layout, so that a file written twice from the same tree is the same file byte for
// byte: one member or element per line, four spaces of indentation per level, object members in
// key order as "key" : value, and no line break after the closing bracket. An empty object or
// array still takes two lines ("{", then "}" at the indentation of its opening line).
//
// Reading the text back gives the same tree except that a non-negative signed int comes back
// unsigned, a real comes back rounded to 16 decimals, a pair of surrogate elements comes back as
// the one code point it encodes, and the rare losses described at write_formatted.
#pragma once

#include <string>

#include <corekit/json/value.h>

namespace corekit {
namespace json {

// Returns `value` as JSON text. Never modifies `value`; only allocation failure throws.
//
// - Ints are written in plain decimal (by the unsigned flag: unsigned, or signed with a '-').
// - Reals are written exactly as a std::wostringstream set to std::fixed and precision 16 writes
//   them, hence with the C++ global locale's decimal point and grouping: 1.5 gives
//   "1.5000000000000000". A non-finite real gives "inf", "-inf", "nan" or "-nan" (by its sign
//   bit) on every system, which is not JSON.
// - Strings escape \b \t \n \f \r \" \\ by name. Other characters that iswprint (the C library's
//   classification under the current LC_CTYPE) calls printable are written as they are ('/' too),
//   so which ones beyond ASCII are escaped depends on the system's C library and the locale (glibc
//   calls none printable under the "C" LC_CTYPE, MinGW's classifies by Unicode in every locale);
//   the rest as \u with four uppercase hex digits, and a code point above U+FFFF as the surrogate
//   pair of two such escapes. An element above U+10FFFF (a 32-bit wchar_t can hold one, but no
//   Unicode text can) is written as \uFFFD, the replacement character.
std::wstring write_formatted(const Value& value);

// Appends to `out` the text write_formatted gives for a string value holding `text` (quotes and
// escapes included), encoded in UTF-8 as the file utilities encode text: the bytes a writer of
// UTF-8 output needs for a string, without a wide copy of the whole document. Only allocation
// failure throws.
void append_string_utf8(std::string& out, const std::wstring& text);

}  // namespace json
}  // namespace corekit

// UTF-8 <-> wide conversion used by OdString and the file utilities.
//
// Decoding never fails: a byte that does not start a valid, shortest-form UTF-8 sequence of a
// Unicode scalar value becomes the element U+DC00 + byte (U+DC80..U+DCFF), and encoding turns those
// elements back into the single byte, so decode(encode(x)) is the identity on decoded text and
// encode(decode(bytes)) is the identity on every byte string.
//
// Where wchar_t has 16 bits (Windows) the wide form is UTF-16: a code point beyond U+FFFF decodes
// to a surrogate pair, and a pair encodes as that code point. A lone surrogate (which NTFS names
// may hold) encodes as its three-byte form; the wide name itself is what file calls use there.
#pragma once

#include <cstddef>
#include <string>

#include <platform/Export.h>

namespace ut {

RVKPLATFORM_EXPORT std::wstring decodeUtf8(const char* data, std::size_t size);
RVKPLATFORM_EXPORT void appendUtf8(std::string& out, const wchar_t* data, std::size_t size);

inline std::wstring decodeUtf8(const std::string& bytes) {
    return decodeUtf8(bytes.data(), bytes.size());
}
inline std::string encodeUtf8(const std::wstring& text) {
    std::string out;
    appendUtf8(out, text.data(), text.size());
    return out;
}

}  // namespace ut

#include <platform/Utf8.h>

#include <cstdint>

namespace ut {

namespace {

constexpr wchar_t kEscapeBase = 0xDC00;  // undecodable byte b becomes U+DC00 + b (b >= 0x80)
// Where wchar_t has 16 bits (Windows), text is UTF-16: a code point beyond U+FFFF takes two units.
constexpr bool kUtf16 = sizeof(wchar_t) == 2;

// Length of the valid sequence starting at p (1..4), or 0 when the lead byte cannot start one.
inline int sequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

inline bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

}  // namespace

std::wstring decodeUtf8(const char* data, std::size_t size) {
    std::wstring out;
    out.reserve(size);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* const end = p + size;
    while (p < end) {
        // ASCII runs dominate paths and JSON text: copy them without the general decoder.
        if (*p < 0x80) {
            out.push_back(static_cast<wchar_t>(*p++));
            continue;
        }
        const int len = sequenceLength(*p);
        bool valid = len > 0 && end - p >= len;
        std::uint32_t cp = 0;
        if (valid) {
            for (int i = 1; i < len; ++i) {
                if (!isContinuation(p[i])) {
                    valid = false;
                    break;
                }
            }
        }
        if (valid) {
            switch (len) {
                case 2:
                    cp = (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
                    break;
                case 3:
                    cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
                    // Overlong forms and encoded surrogates are not scalar values.
                    valid = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
                    break;
                default:
                    cp = (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 |
                         (p[3] & 0x3Fu);
                    valid = cp >= 0x10000 && cp <= 0x10FFFF;
                    break;
            }
        }
        if (valid && kUtf16 && cp >= 0x10000) {
            out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            p += len;
        } else if (valid) {
            out.push_back(static_cast<wchar_t>(cp));
            p += len;
        } else {
            out.push_back(static_cast<wchar_t>(kEscapeBase + *p));
            ++p;
        }
    }
    return out;
}

void appendUtf8(std::string& out, const wchar_t* data, std::size_t size) {
    // Paths are mostly ASCII: the leading ASCII run is stored in one pass, without the growth
    // check of every push_back.
    const std::size_t start = out.size();
    out.resize(start + size);
    char* const ascii = &out[start];
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {  // eight at a time: one test, a vectorisable copy
        std::uint32_t any = 0;
        for (std::size_t k = 0; k < 8; ++k)
            any |= static_cast<std::uint32_t>(data[i + k]);
        if (any >= 0x80)
            break;
        for (std::size_t k = 0; k < 8; ++k)
            ascii[i + k] = static_cast<char>(data[i + k]);
    }
    while (i < size && static_cast<std::uint32_t>(data[i]) < 0x80) {
        ascii[i] = static_cast<char>(data[i]);
        ++i;
    }
    out.resize(start + i);
    if (i == size)
        return;
    out.reserve(start + size + (size - i) * 3);
    for (; i < size; ++i) {
        auto cp = static_cast<std::uint32_t>(data[i]);
        if (kUtf16 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < size &&
            static_cast<std::uint32_t>(data[i + 1]) >= 0xDC00 &&
            static_cast<std::uint32_t>(data[i + 1]) <= 0xDFFF) {
            // A UTF-16 pair: one code point beyond U+FFFF.
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(data[++i]) - 0xDC00);
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out.push_back(static_cast<char>(cp - kEscapeBase));  // an undecodable byte, restored
        } else if (cp < 0x10000) {
            // Other lone surrogates (from JSON escapes) get the three-byte form; it decodes back
            // as three escaped bytes, which keeps narrow -> wide -> narrow the identity.
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            if (cp > 0x10FFFF)
                cp = 0xFFFD;  // not a code point: a wchar_t can hold it, UTF-8 not
            if (cp == 0xFFFD) {
                out.append("\xEF\xBF\xBD");
                continue;
            }
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

}  // namespace ut

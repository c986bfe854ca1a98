// How the JSON writer spells text beyond ASCII on the system the tests run on: each element that
// the C library's iswprint calls printable under the current LC_CTYPE as it is, any other as a \u
// escape of four uppercase hex digits, and one above U+FFFF (where wchar_t has 32 bits) as the
// escapes of its surrogate pair. The C libraries disagree (glibc calls nothing beyond ASCII
// printable under "C", MinGW's classifies by Unicode in every locale), so tests ask iswprint
// rather than write either answer down.
#pragma once

#include <cstdint>
#include <cwctype>
#include <iomanip>
#include <sstream>
#include <string>

namespace testing_support {

// The writer's spelling of `text`, which holds nothing but elements beyond ASCII (U+0080 to
// U+10FFFF), without quotes.
inline std::wstring jsonSpelling(const std::wstring& text) {
    const auto hex4 = [](std::uint32_t unit) {
        std::wostringstream escape;
        escape << L"\\u" << std::uppercase << std::hex << std::setw(4) << std::setfill(L'0')
               << unit;
        return escape.str();
    };
    std::wstring spelled;
    for (const wchar_t element : text) {
        const auto unit = static_cast<std::uint32_t>(element);
        if (std::iswprint(static_cast<std::wint_t>(unit)) != 0) {
            spelled += element;
        } else if (unit > 0xFFFF) {
            spelled += hex4(0xD800 + ((unit - 0x10000) >> 10)) +
                       hex4(0xDC00 + ((unit - 0x10000) & 0x3FF));
        } else {
            spelled += hex4(unit);
        }
    }
    return spelled;
}

}  // namespace testing_support

// printf-style formatting of wide text, the same on every system: numbered conversions (`%2$ls`),
// which translations use to reorder arguments, included. Internal: not installed.
#pragma once

#include <cstdarg>
#include <string>

namespace ut::sys {

// Formats `fmt` with `args` into `out`; false (and `out` empty) on a format error.
bool formatWide(std::wstring& out, const wchar_t* fmt, va_list args);

}  // namespace ut::sys

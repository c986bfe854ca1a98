// Wide formatting on Windows: the C run time's vswprintf writes a numbered conversion (`%1$ls`) as
// it stands, so the _p functions, which take numbered and ordered conversions alike, format here.
#include <platform/internal/WideFormat.h>

#include <stdio.h>

#include <vector>

namespace ut::sys {

bool formatWide(std::wstring& out, const wchar_t* fmt, va_list args) {
    out.clear();
    va_list copy;
    va_copy(copy, args);
    const int needed = _vscwprintf_p(fmt, copy);  // the length, or -1 on a format error
    va_end(copy);
    if (needed < 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(needed) + 1);
    va_copy(copy, args);
    const int written = _vswprintf_p(buffer.data(), buffer.size(), fmt, copy);
    va_end(copy);
    if (written != needed)
        return false;
    out.assign(buffer.data(), static_cast<std::size_t>(written));
    return true;
}

}  // namespace ut::sys

// Wide formatting where the C library's vswprintf takes numbered conversions itself.
#include <platform/internal/WideFormat.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace ut::sys {

bool formatWide(std::wstring& out, const wchar_t* fmt, va_list args) {
    // vswprintf reports a short buffer as failure, as it does a format error: grow until the text
    // fits, up to a size no message reaches.
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int written = std::vswprintf(buffer.data(), buffer.size(), fmt, copy);
        va_end(copy);
        if (written >= 0 && static_cast<std::size_t>(written) < buffer.size()) {
            out.assign(buffer.data(), static_cast<std::size_t>(written));
            return true;
        }
        if (buffer.size() >= (std::size_t{1} << 26)) {
            out.clear();
            return false;
        }
        buffer.resize(std::max(buffer.size() * 4, static_cast<std::size_t>(written) + 1));
    }
}

}  // namespace ut::sys

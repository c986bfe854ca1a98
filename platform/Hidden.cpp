#include <platform/Hidden.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace ut {

bool markHidden(const OdString& path) {
#if defined(_WIN32)
    return SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
#else
    const wchar_t* p = path.c_str();
    const wchar_t* name = p;
    for (; *p; ++p) {
        if (*p == L'/' && p[1] != 0)
            name = p + 1;
    }
    return *name == L'.';
#endif
}

}  // namespace ut

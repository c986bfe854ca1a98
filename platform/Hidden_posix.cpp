#include <platform/Hidden.h>

namespace ut {

// A name that begins with "." is hidden already: nothing to ask of the system.
bool markHidden(const OdString& path) {
    const wchar_t* p = path.c_str();
    const wchar_t* name = p;
    for (; *p; ++p) {
        if (*p == L'/' && p[1] != 0)
            name = p + 1;
    }
    return *name == L'.';
}

}  // namespace ut

// The path rules of a POSIX system: "/" separates, and a path is absolute when it begins with it.
#include <platform/FileName.h>

namespace ut {

bool FileName::isAbsolute(const OdString& path) {
    return !path.isEmpty() && isPathSeparator(path[0]);
}

OdString FileName::getPathSeparator() {
    return OdString(L"/");
}

bool FileName::isPathSeparator(wchar_t ch) {
    return ch == L'/';
}

}  // namespace ut

// The path rules of Windows: the backslash separates and "/" is taken as one too; a path is
// absolute from a drive, a share or the current drive's root.
#include <platform/FileName.h>

namespace ut {

bool FileName::isAbsolute(const OdString& path) {
    const int n = path.getLength();
    if (n > 0 && isPathSeparator(path[0]))
        return true;  // "\folder" on the current drive, "\\server\share", "\\?\..."
    return n > 2 && path[1] == L':' && isPathSeparator(path[2]);
}

OdString FileName::getPathSeparator() {
    return OdString(L"\\");
}

bool FileName::isPathSeparator(wchar_t ch) {
    return ch == L'\\' || ch == L'/';
}

}  // namespace ut

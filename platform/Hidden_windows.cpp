#include <platform/Hidden.h>

#include <windows.h>

#include <platform/SystemFiles.h>

namespace ut {

bool markHidden(const OdString& path) {
    return SetFileAttributesW(sys::Path(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

}  // namespace ut

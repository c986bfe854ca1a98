#include <platform/Hidden.h>

#include <platform/internal/WidePath.h>

namespace ut {

bool markHidden(const OdString& path) {
    return SetFileAttributesW(win::widePath(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

}  // namespace ut

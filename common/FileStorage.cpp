#include <common/FileStorage.h>

#include <platform/FileName.h>

namespace common {

// Defined here, not inline, so the vtable and type information are emitted once, in the library.
FileStorage::~FileStorage() = default;

Expected<void> FileStorage::merge(const OdString& first, const OdString& second,
                                  const OdString& /*third*/, OdString fourth, const RootPath& root,
                                  const IoInterface& io) {
    if (io.check(first) == 0)
        return {};
    return doMerge(root, fourth, second);
}

FileStorage::Type urlToType(const OdString& url) {
    return url.left(2).compare("tf") == 0 ? FileStorage::Drawing : FileStorage::Generic;
}

FileStorage::Type fileToType(const OdString& fileName) {
    return ut::FileName(fileName).getExt().compare("dwg") == 0 ? FileStorage::Drawing
                                                               : FileStorage::Generic;
}

}  // namespace common

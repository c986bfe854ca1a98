// FileStorage: the abstract store of the copies of tracked files, and the two kinds of storage URL.
//
// A drawing (extension "dwg") is kept in the drawing store under a URL that begins with "tf"
// ("tf:" name "#" revision); every other file is kept as a content-addressed object under a URL
// "po" followed by the 64-digit SHA-256 digest of its content. The host derives its storage classes
// from FileStorage and implements the pure operations; the library implements only merge(), which
// asks the host's IoInterface whether there is anything to merge before delegating to doMerge().
// The order of the virtual operations is part of the binary interface with the host: never
// reorder, insert or remove one.
#pragma once

#include <memory>

#include <common/Expected.h>
#include <common/Export.h>
#include <common/IoInterface.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

namespace common {

class RVK_EXPORT FileStorage {
public:
    // The two kinds of stored copy. The values are shared with the host and never change.
    enum Type { Drawing = 0, Generic = 1 };

    FileStorage() = default;
    FileStorage(const FileStorage&) = default;
    // There is no state to copy; derived classes copy their own.
    FileStorage& operator=(const FileStorage&) { return *this; }
    virtual ~FileStorage();

    // Keeps a copy of the working file at `relativePath` (relative to `root`) and returns the
    // storage URL that names it, or an error the user should see. Host-implemented; the library
    // never calls it.
    virtual Expected<OdString> store(const RootPath& root, const OdString& relativePath) = 0;
    // Puts the stored copy named by `url` back into the working tree at `relativePath`; success or
    // an error. Host-implemented; the library never calls it.
    virtual Expected<void> restore(const RootPath& root, const OdString& url,
                                   const OdString& relativePath) = 0;
    // Deletes the stored copy named by `url`; success or an error. Host-implemented; the library
    // never calls it.
    virtual Expected<void> remove(const RootPath& root, const OdString& url) = 0;

    // Asks `io.check(first)`: when it answers 0 there is nothing to merge and the result is
    // success, with nothing else done. Any other answer, negative ones included, returns exactly
    // what doMerge(root, fourth, second) returns, its error included. `third` is not used; what
    // the four strings name is the host's business. Never fails on its own.
    virtual Expected<void> merge(const OdString& first, const OdString& second,
                                 const OdString& third, OdString fourth, const RootPath& root,
                                 const IoInterface& io);

    // Which kind of copy this storage keeps. Host-implemented; the library never calls it.
    virtual Type type() const = 0;
    // The storage-specific merge of `source` into `target`, called only by merge(); success or an
    // error that merge() hands back unchanged.
    virtual Expected<void> doMerge(const RootPath& root, const OdString& target,
                                   const OdString& source) = 0;
    // A new storage of the same dynamic type, owned by the caller. Host-implemented; the library
    // never calls it.
    virtual std::unique_ptr<FileStorage> clone() const = 0;
};

// Drawing when the first two characters of `url` are exactly "tf" (case-sensitive, no colon
// required), Generic for every other URL, the empty one and one-character ones included.
RVK_EXPORT FileStorage::Type urlToType(const OdString& url);

// Drawing when the extension of the last component of `fileName` is exactly "dwg"
// (case-sensitive; "a.dwg.bak" has the extension "bak"), Generic otherwise, also without one.
RVK_EXPORT FileStorage::Type fileToType(const OdString& fileName);

}  // namespace common

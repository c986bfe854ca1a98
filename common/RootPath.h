// RootPath: the root folder of one repository, and the composer of every path inside it.
//
// A repository is a working folder that holds the hidden repository directory ".rvk":
//
//   <root>/.rvk              repository directory
//   <root>/.rvk/rvk.state    state file
//   <root>/.rvk/rvk.db       database file (for the host; the library never opens it)
//   <root>/.rvk/properties   properties folder, holding the ignore file
//
// and, as additions of ours so that every path inside the repository is composed here and nowhere
// else:
//
//   <root>/.rvk/properties/ignore   ignore file (RepoIgnore)
//   <root>/.rvk/rvk.lock            lock file (RepoLock)
//   <root>/.rvk/tf                  drawing store (getStoragePath)
//   <root>/.rvk/objects             object store (getStoragePath)
//   <root>/.rvk/stat-cache          a host's cache of what it found unchanged
//
// Paths are composed by plain concatenation with ut::FileName::getPathSeparator(); nothing is
// normalised. A RootPath is obtained only from get() (or by copying one).
#pragma once

#include <common/Expected.h>
#include <common/Export.h>
#include <platform/OdString.h>

namespace common {

class RVK_EXPORT RootPath {
public:
    // The root of the nearest repository that contains `path`, walking upward from `path` itself
    // to the first folder that holds ".rvk". When there is none and `createIfMissing` is set, the
    // repository directory is created in `path` (not in its parents) and marked hidden. Fails with
    // "Path: %ls is not a rvk directory." or "Not able to create a rvk directory in %ls".
    // Asking to create inside an existing repository returns that repository and creates nothing.
    static Expected<RootPath> get(const OdString& path, bool createIfMissing);

    static OdString rvkPath(const OdString& root);
    OdString rvkPath() const;
    OdString statePath() const;
    OdString dbPath() const;
    OdString propertiesPath() const;
    // Additions of ours (see above).
    OdString ignorePath() const;
    OdString lockPath() const;
    OdString drawingStorePath() const;
    OdString objectStorePath() const;
    OdString statCachePath() const;
    // The names of the repository directory (".rvk") and of its properties folder
    // ("properties"), for checks of relative paths that must not lead into the repository.
    static OdString repositoryDirName();
    static OdString propertiesDirName();
    // True when the folder `path` holds a repository directory itself (its parents are not
    // looked at, as get() does).
    static bool holdsRepository(const OdString& path);
    // The root folder, without trailing separators.
    OdString path() const;
    // root + separator + relativePath, whatever relativePath holds.
    OdString pathTo(const OdString& relativePath) const;
    // The part of `fullPath` behind root + separator (possibly empty), compared code unit by code
    // unit; "%ls is not located in the current repository" when fullPath does not begin with it.
    Expected<OdString> relativePathTo(const OdString& fullPath) const;

    RootPath(const RootPath&) = default;
    RootPath& operator=(const RootPath&) = default;
    // Moving copies: the source keeps its value, so a moved-from RootPath stays usable.
    RootPath(RootPath&& other) : m_path(other.m_path) {}
    RootPath& operator=(RootPath&& other) {
        m_path = other.m_path;
        return *this;
    }
    ~RootPath() = default;

private:
    // Keeps `path` without its trailing separators.
    explicit RootPath(const OdString& path);

    OdString m_path;
};

// The repository's own file extension, "tf": it names the drawing store folder, the extension of
// stored drawings and the start of a drawing's storage URL.
RVK_EXPORT OdString repositoryExt();

}  // namespace common

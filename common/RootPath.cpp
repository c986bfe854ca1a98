#include <common/RootPath.h>

#include <common/internal/Messages.h>
#include <platform/Dir.h>
#include <platform/FileName.h>
#include <platform/Hidden.h>

namespace common {

namespace {

using ut::FileName;

// The names inside a repository, the one place each is spelled.
constexpr const wchar_t kRepositoryDir[] = L".rvk";
constexpr const wchar_t kProperties[] = L"properties";

OdString separator() {
    return FileName::getPathSeparator();
}

OdString stripTrailingSeparators(const OdString& path) {
    int length = path.getLength();
    while (length > 0 && FileName::isPathSeparator(path[length - 1]))
        --length;
    return path.left(length);
}

// Where the last separator of `path` is (any the system takes, '/' typed on Windows too); -1 when
// there is none.
int lastSeparator(const OdString& path) {
    int at = path.getLength() - 1;
    while (at >= 0 && !FileName::isPathSeparator(path[at]))
        --at;
    return at;
}

}  // namespace

RootPath::RootPath(const OdString& path) : m_path(stripTrailingSeparators(path)) {}

Expected<RootPath> RootPath::get(const OdString& path, bool createIfMissing) {
    OdString current = path;
    // The walk starts at `path` itself and stops at the nearest folder holding the repository
    // directory, or at the first ancestor that is not an existing folder.
    while (ut::Dir::exists(current)) {
        if (holdsRepository(current))
            return RootPath(current);
        const int cut = lastSeparator(current);
        current = cut < 0 ? OdString() : current.left(cut);
    }

    if (!createIfMissing)
        return translatedError("Path: %ls is not a rvk directory.", path);

    // An empty path would put the repository directory at the file-system root.
    const OdString repositoryDir = rvkPath(path);
    if (path.isEmpty() || !ut::Dir::create(repositoryDir)) {
        return translatedError("Not able to create a rvk directory in %ls", path);
    }
    ut::markHidden(repositoryDir);  // a folder that stays visible is still a repository
    return RootPath(path);
}

OdString RootPath::rvkPath(const OdString& root) {
    return root + separator() + kRepositoryDir;
}

OdString RootPath::rvkPath() const {
    return rvkPath(path());
}

OdString RootPath::statePath() const {
    return rvkPath() + separator() + L"rvk.state";
}

OdString RootPath::dbPath() const {
    return rvkPath() + separator() + L"rvk.db";
}

OdString RootPath::propertiesPath() const {
    return rvkPath() + separator() + kProperties;
}

OdString RootPath::ignorePath() const {
    return propertiesPath() + separator() + L"ignore";
}

OdString RootPath::lockPath() const {
    return rvkPath() + separator() + L"rvk.lock";
}

OdString RootPath::drawingStorePath() const {
    return rvkPath() + separator() + repositoryExt();
}

OdString RootPath::objectStorePath() const {
    return rvkPath() + separator() + L"objects";
}

OdString RootPath::statCachePath() const {
    return rvkPath() + separator() + L"stat-cache";
}

OdString RootPath::repositoryDirName() {
    return OdString(kRepositoryDir);
}

OdString RootPath::propertiesDirName() {
    return OdString(kProperties);
}

bool RootPath::holdsRepository(const OdString& path) {
    return ut::Dir::exists(rvkPath(path));
}

OdString RootPath::path() const {
    return m_path;
}

OdString RootPath::pathTo(const OdString& relativePath) const {
    return m_path + separator() + relativePath;
}

Expected<OdString> RootPath::relativePathTo(const OdString& fullPath) const {
    const OdString prefix = m_path + separator();
    const std::wstring& full = fullPath.wstr();
    if (full.compare(0, prefix.wstr().size(), prefix.wstr()) == 0 &&
        full.size() >= prefix.wstr().size()) {
        return fullPath.right(fullPath.getLength() - prefix.getLength());
    }
    return translatedError("%ls is not located in the current repository", fullPath);
}

OdString repositoryExt() {
    return OdString(L"tf");
}

}  // namespace common

#include <common/StoragePaths.h>

#include <regex>

#include <common/FileStorage.h>
#include <common/Messages.h>
#include <platform/FileName.h>

namespace common {

namespace {

enum class UrlKind { Drawing, Object, Unknown };

UrlKind kindOf(const OdString& url) {
    if (urlToType(url) == FileStorage::Drawing)
        return UrlKind::Drawing;
    if (url.left(2).compare("po") == 0)
        return UrlKind::Object;
    return UrlKind::Unknown;
}

// Whole-text match of `pattern` over the narrow form of `url`; group 1 on success. Matching the
// narrow form keeps "." from matching LF and CR, so a URL with a line break never matches.
bool matchGroup(const char* pattern, const OdString& url, OdString* group) {
    const std::regex re(pattern, std::regex::ECMAScript);
    std::cmatch match;
    if (!std::regex_match(url.ansi_str(), match, re))
        return false;
    *group = OdString(match[1].str().c_str(), kCodePageUtf8);
    return true;
}

// The object's digest: the URL's last 64 characters, whatever stands between "po" and them.
OdString objectDigest(const OdString& url) {
    return url.right(64);
}

}  // namespace

Expected<OdString> getRevision(const OdString& url) {
    switch (kindOf(url)) {
        case UrlKind::Drawing: {
            OdString revision;
            if (matchGroup(".*#(.*)", url, &revision))
                return revision;
            break;
        }
        case UrlKind::Object:
            return objectDigest(url);
        case UrlKind::Unknown:
            break;
    }
    return translatedError("Internal error, invalid url occur: %ls", url);
}

Expected<OdString> getStoragePath(const RootPath& root, const OdString& url) {
    switch (kindOf(url)) {
        case UrlKind::Drawing: {
            const OdString folder =
                root.rvkPath() + ut::FileName::getPathSeparator() + repositoryExt();
            OdString name;
            if (matchGroup("tf:(.*?)#.*", url, &name))
                return ut::FileName(folder, name, repositoryExt()).getFullPath();
            break;
        }
        case UrlKind::Object:
            return root.rvkPath() + ut::FileName::getPathSeparator() + L"objects" +
                   ut::FileName::getPathSeparator() + objectDigest(url);
        case UrlKind::Unknown:
            break;
    }
    return translatedError("invalid url: %ls", url);
}

}  // namespace common

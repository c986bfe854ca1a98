#include <common/StoragePaths.h>

#include <string>

#include <common/FileStorage.h>
#include <common/internal/Messages.h>
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

// The URL patterns ".*#(.*)" and "tf:(.*?)#.*" are answered here without std::regex, whose
// matcher recurses once per character and so overflows the stack on a URL of some hundred thousand
// characters. The answers are exactly std::regex_match's over the narrow form up to its first zero
// byte: ECMAScript's "." matches every character but LF and CR, so a URL holding either never
// matches, and group 1 is what the greedy or lazy repetition leaves it.
bool hasLineTerminator(const std::string& text) {
    return text.find_first_of("\n\r") != std::string::npos;
}

OdString fromNarrow(const std::string& text, std::size_t begin, std::size_t end) {
    return OdString(text.substr(begin, end - begin).c_str(), kCodePageUtf8);
}

// ".*#(.*)": everything after the last "#".
bool matchRevision(const OdString& url, OdString* revision) {
    const std::string text = url.ansi_str();
    const auto hash = text.rfind('#');
    if (hash == std::string::npos || hasLineTerminator(text))
        return false;
    *revision = fromNarrow(text, hash + 1, text.size());
    return true;
}

// "tf:(.*?)#.*": everything between "tf:" and the first "#" after it.
bool matchDrawingName(const OdString& url, OdString* name) {
    const std::string text = url.ansi_str();
    if (text.compare(0, 3, "tf:") != 0 || hasLineTerminator(text))
        return false;
    const auto hash = text.find('#', 3);
    if (hash == std::string::npos)
        return false;
    *name = fromNarrow(text, 3, hash);
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
            if (matchRevision(url, &revision))
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
            const OdString folder = root.drawingStorePath();
            OdString name;
            if (matchDrawingName(url, &name))
                return ut::FileName(folder, name, repositoryExt()).getFullPath();
            break;
        }
        case UrlKind::Object:
            return root.objectStorePath() + ut::FileName::getPathSeparator() + objectDigest(url);
        case UrlKind::Unknown:
            break;
    }
    return translatedError("invalid url: %ls", url);
}

}  // namespace common

#include <client/shared/ServerPaths.h>

#include <algorithm>

#include <platform/FileName.h>

#include <client/Text.h>

namespace client {

std::string serverPath(const OdString& path) {
    std::string text = utf8(path);
    const std::string separator = utf8(ut::FileName::getPathSeparator());
    if (separator != "/")
        std::replace(text.begin(), text.end(), separator[0], '/');
    return text;
}

OdString localPath(const std::string& serverPath) {
    std::string text = serverPath;
    const std::string separator = utf8(ut::FileName::getPathSeparator());
    if (separator != "/")
        std::replace(text.begin(), text.end(), '/', separator[0]);
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

std::string shownPath(const std::string& serverPath) {
    return quotePath(localPath(serverPath));
}

}  // namespace client

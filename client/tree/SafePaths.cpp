#include <client/tree/SafePaths.h>


#include <cstring>
#include <string>

#include <common/StoragePaths.h>
#include <platform/FileName.h>

#include <client/Text.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

// True when no folder of `relative` below `base` (both UTF-8, `relative` plain) is a symbolic
// link. The last component is the file itself and is not looked at.
bool noLinkedFolders(const std::string& base, const std::string& relative) {
    for (std::size_t slash = relative.find_first_of(kHostSeparators); slash != std::string::npos;
         slash = relative.find_first_of(kHostSeparators, slash + 1)) {
        if (lookAt(base + "/" + relative.substr(0, slash)) == PathKind::link)
            return false;
    }
    return true;
}

// The first separator of folders at or after `part` and before `end`, or null.
const char* nextSeparator(const char* part, const char* end, const char* separators) {
    const auto length = static_cast<std::size_t>(end - part);
    if (separators[1] == '\0')
        return static_cast<const char*>(std::memchr(part, separators[0], length));
    const std::string_view rest(part, length);
    const std::size_t at = rest.find_first_of(separators);
    return at == std::string_view::npos ? nullptr : part + at;
}

// One pass of memchr over the text and one per component: status asks this of every tracked path,
// and splitting each into strings cost it 7 % of a clean tree's status.
bool isPlain(std::string_view text, const Naming& naming) {
    if (text.empty() || std::memchr(text.data(), '\0', text.size()) != nullptr)
        return false;
    const char* part = text.data();
    const char* const end = part + text.size();
    for (;;) {
        const char* const slash = nextSeparator(part, end, naming.separators);
        const char* const partEnd = slash != nullptr ? slash : end;
        const auto length = partEnd - part;
        if (length == 0 || (part[0] == '.' && (length == 1 || (length == 2 && part[1] == '.'))))
            return false;
        // Windows drops a name's trailing dots and spaces as it resolves a path: a name of dots
        // and spaces alone (".. ", "...") would become "..", ".", or nothing.
        if (naming.windowsNames && std::string_view(part, static_cast<std::size_t>(length))
                                      .find_first_not_of(". ") == std::string_view::npos)
            return false;
        if (slash == nullptr)
            return true;
        part = slash + 1;
    }
}

}  // namespace

bool isPlainRelativePath(const OdString& path, const Naming& naming) {
    return isPlain(utf8(path), naming);
}

bool isTrackablePath(std::string_view path, const Naming& naming) {
    static const std::string repository = utf8(common::RootPath::repositoryDirName());
    static const std::string properties = utf8(common::RootPath::propertiesDirName());
    const std::string_view kRepository = repository;
    const std::string_view kProperties = properties;
    if (!isPlain(path, naming))
        return false;
    const auto separatorAt = [&](std::size_t at) {
        return std::strchr(naming.separators, path[at]) != nullptr;
    };
    if (path.compare(0, kRepository.size(), kRepository) != 0 ||
        (path.size() > kRepository.size() && !separatorAt(kRepository.size())))
        return true;
    // Inside ".rvk": only below its "properties" folder.
    const std::size_t within = kRepository.size() + 1;
    const std::size_t below = within + kProperties.size();
    return path.size() > below + 1 && path.compare(within, kProperties.size(), kProperties) == 0 &&
           separatorAt(below);
}

Expected<void> checkWorkingPath(const common::RootPath& root, const OdString& relativePath,
                                const char* source) {
    const std::string path = utf8(relativePath);
    if (!isTrackablePath(path) || !noLinkedFolders(utf8(root.path()), path))
        return hostError(std::string(source) + " names " + quotePath(relativePath) +
                         ", which leads outside the working tree: it is neither read nor written");
    return {};
}

Expected<OdString> storedCopyPath(const common::RootPath& root, const OdString& url) {
    const auto stored = common::getStoragePath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const OdString rvk = root.rvkPath() + ut::FileName::getPathSeparator();
    const std::wstring& full = stored.value().wstr();
    const OdString inside(full.compare(0, rvk.wstr().size(), rvk.wstr()) == 0
                              ? full.substr(rvk.wstr().size())
                              : std::wstring());
    if (!isPlainRelativePath(inside) || !noLinkedFolders(utf8(root.rvkPath()), utf8(inside)))
        return hostError("the storage URL " + quotePath(url) +
                         " names a copy outside .rvk: it is neither read nor written");
    return stored;
}

}  // namespace client

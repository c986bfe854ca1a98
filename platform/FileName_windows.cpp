#include <platform/FileName.h>

#include <string>

#include <platform/internal/WidePath.h>

namespace ut {

namespace {

bool isAbsolute(const OdString& path) {
    const int n = path.getLength();
    if (n > 0 && FileName::isPathSeparator(path[0]))
        return true;  // "\folder" on the current drive, "\\server\share", "\\?\..."
    return n > 2 && path[1] == L':' && FileName::isPathSeparator(path[2]);
}

}  // namespace

bool FileName::exists(int flags) const {
    if (m_path.isEmpty())
        return false;
    // The attributes of the name itself: a link or junction is not followed.
    const DWORD attributes = GetFileAttributesW(win::widePath(m_path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return (flags & kSymbolicLink) != 0;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return (flags & kDirectory) != 0;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return (flags & kOtherFile) != 0;
    return (flags & kRegularFile) != 0;
}

OdString FileName::getFullPath() const {
    if (isAbsolute(m_path))
        return m_path;
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(needed, L'\0');
    const DWORD written = needed ? GetCurrentDirectoryW(needed, buffer.data()) : 0;
    if (written == 0 || written >= needed)
        return m_path;  // no current folder to complete with
    buffer.resize(written);
    OdString full(buffer.c_str());
    if (full.isEmpty() || !isPathSeparator(full[full.getLength() - 1]))
        full += getPathSeparator();
    full += m_path;
    return full;
}

bool FileName::getTimes(DateTime* access, DateTime* modification, DateTime* creation) const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    const bool ok = !m_path.isEmpty() && GetFileAttributesExW(win::widePath(m_path).c_str(),
                                                              GetFileExInfoStandard, &data) != 0;
    if (access)
        access->setTicks(ok ? win::ticksOf(data.ftLastAccessTime) : 0);
    if (modification)
        modification->setTicks(ok ? win::ticksOf(data.ftLastWriteTime) : 0);
    if (creation)
        creation->setTicks(ok ? win::ticksOf(data.ftCreationTime) : 0);
    return ok;
}

OdString FileName::getPathSeparator() {
    return OdString(L"\\");
}

bool FileName::isPathSeparator(wchar_t ch) {
    return ch == L'\\' || ch == L'/';
}

}  // namespace ut

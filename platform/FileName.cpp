#include <platform/FileName.h>

#include <string>

#include <platform/SystemFiles.h>

namespace ut {

FileName::FileName(const OdString& fullPath) : m_path(fullPath) {}

FileName::FileName(const OdString& path, const OdString& name, const OdString& ext) : m_path(path) {
    if (!m_path.isEmpty() && !isPathSeparator(m_path[m_path.getLength() - 1])) {
        m_path += getPathSeparator();
    }
    m_path += name;
    if (!ext.isEmpty()) {
        m_path += L'.';
        m_path += ext;
    }
}

OdString FileName::getExt() const {
    const std::wstring& s = m_path.wstr();
    std::size_t nameStart = s.size();
    while (nameStart > 0 && !isPathSeparator(s[nameStart - 1]))
        --nameStart;
    const auto dot = s.rfind(L'.');
    if (dot == std::wstring::npos || dot <= nameStart || dot + 1 >= s.size())
        return OdString();
    return OdString(s.substr(dot + 1));
}

bool FileName::hasExt() const {
    return !getExt().isEmpty();
}

bool FileName::exists(int flags) const {
    if (m_path.isEmpty())
        return false;
    switch (sys::lookAt(m_path, sys::Follow::no).kind) {
        case sys::Kind::none:
            return false;
        case sys::Kind::file:
            return (flags & kRegularFile) != 0;
        case sys::Kind::folder:
            return (flags & kDirectory) != 0;
        case sys::Kind::link:
            return (flags & kSymbolicLink) != 0;
        case sys::Kind::other:
            break;
    }
    return (flags & kOtherFile) != 0;
}

OdString FileName::getFullPath() const {
    if (isAbsolute(m_path))
        return m_path;
    OdString full;
    if (!sys::currentFolder(full))
        return m_path;  // no current folder to complete with
    if (full.isEmpty() || !isPathSeparator(full[full.getLength() - 1]))
        full += getPathSeparator();
    full += m_path;
    return full;
}

bool FileName::getTimes(DateTime* access, DateTime* modification, DateTime* creation) const {
    const sys::Info info =
        m_path.isEmpty() ? sys::Info() : sys::lookAt(m_path, sys::Follow::yes);
    const bool ok = info.kind != sys::Kind::none;
    if (access)
        access->setTicks(info.accessedNs);
    if (modification)
        modification->setTicks(info.modifiedNs);
    if (creation)
        creation->setTicks(info.changedNs);
    return ok;
}

}  // namespace ut

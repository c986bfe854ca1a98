#include <platform/FileName.h>

#include <string>

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

}  // namespace ut

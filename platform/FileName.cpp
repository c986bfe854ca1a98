#include <platform/FileName.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace ut {

namespace {

std::int64_t toTicks(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

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

bool FileName::exists(int flags) const {
    if (m_path.isEmpty())
        return false;
    struct stat st;
    if (::lstat(m_path.ansi_str(), &st) != 0)
        return false;
    if (S_ISREG(st.st_mode))
        return (flags & kRegularFile) != 0;
    if (S_ISDIR(st.st_mode))
        return (flags & kDirectory) != 0;
    if (S_ISLNK(st.st_mode))
        return (flags & kSymbolicLink) != 0;
    return (flags & kOtherFile) != 0;
}

OdString FileName::getFullPath() const {
    if (!m_path.isEmpty() && isPathSeparator(m_path[0]))
        return m_path;
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return m_path;  // no current folder to complete with
        buffer.resize(buffer.size() * 2);
    }
    OdString full(buffer.data(), kCodePageUtf8);
    if (full.isEmpty() || !isPathSeparator(full[full.getLength() - 1]))
        full += getPathSeparator();
    full += m_path;
    return full;
}

OdString FileName::getExt() const {
    const std::wstring& s = m_path.wstr();
    const auto slash = s.rfind(L'/');
    const std::size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    const auto dot = s.rfind(L'.');
    if (dot == std::wstring::npos || dot <= nameStart || dot + 1 >= s.size())
        return OdString();
    return OdString(s.substr(dot + 1));
}

bool FileName::hasExt() const {
    return !getExt().isEmpty();
}

bool FileName::getTimes(DateTime* access, DateTime* modification, DateTime* creation) const {
    struct stat st;
    const bool ok = !m_path.isEmpty() && ::stat(m_path.ansi_str(), &st) == 0;
    if (access)
        access->setTicks(ok ? toTicks(st.st_atim) : 0);
    if (modification)
        modification->setTicks(ok ? toTicks(st.st_mtim) : 0);
    if (creation)
        creation->setTicks(ok ? toTicks(st.st_ctim) : 0);
    return ok;
}

OdString FileName::getPathSeparator() {
    return OdString(L"/");
}

}  // namespace ut

#include <platform/FileName.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ut {

namespace {

std::int64_t toTicks(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

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

bool FileName::isPathSeparator(wchar_t ch) {
    return ch == L'/';
}

}  // namespace ut

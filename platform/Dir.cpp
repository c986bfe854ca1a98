// What a folder listing does the same way on every system; the listing itself is the system's
// (Dir_posix.cpp, Dir_windows.cpp).
#include <platform/Dir.h>

namespace ut {

Dir::Dir(const OdString& path) : m_path(path) {}
Dir::~Dir() = default;

bool Dir::getFirst(OdString* name, const OdString& filespec, int flags) {
    readOnce();
    m_current = (flags & kFiles) ? &m_files : (flags & kFolders) ? &m_folders : nullptr;
    m_next = 0;
    m_filespec = filespec.isEmpty() ? std::string() : std::string(filespec.ansi_str());
    return getNext(name);
}

}  // namespace ut

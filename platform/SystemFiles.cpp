// What is made of the system's primitives, alike on every system: the atomic replacement of a
// file, temporary files, their removal after a crash, missing parent folders, and error texts.
#include <platform/SystemFiles.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <platform/FileName.h>

namespace ut::sys {

namespace {

// The path of `name` in `folder`.
OdString within(const OdString& folder, const OdString& name) {
    if (folder.isEmpty() || FileName::isPathSeparator(folder[folder.getLength() - 1]))
        return folder + name;
    return folder + FileName::getPathSeparator() + name;
}

}  // namespace

std::string errorText(int error) {
    // A CAD application holds a drawing open while it shows it: what helps is closing it there,
    // which a refused permission would not suggest.
    if (error == EBUSY)
        return "it is open in another program; close it there and try again";
    return std::strerror(error);
}

bool writeAll(Handle file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const std::ptrdiff_t written = write(file, bytes, size);
        if (written < 0)
            return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

OdString folderOf(const OdString& path) {
    int at = path.getLength() - 1;
    while (at >= 0 && !FileName::isPathSeparator(path[at]))
        --at;
    if (at < 0)
        return OdString(L".");
    // The root keeps its separator: "/a" is in "/", "C:\a" in "C:\".
    if (at == 0 || path[at - 1] == L':')
        return path.left(at + 1);
    return path.left(at);
}

bool makeFolders(const OdString& path) {
    const Info there = lookAt(Path(path), Follow::yes);
    if (there.kind == Kind::folder)
        return true;
    if (there.kind != Kind::none) {
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT)
        return false;
    // The folder above first; a root that is not there (a drive that is not) cannot be made.
    const OdString parent = folderOf(path);
    if (parent.getLength() >= path.getLength()) {
        errno = ENOENT;
        return false;
    }
    if (!makeFolders(parent))
        return false;
    // Someone else may make it meanwhile: that is as good.
    return makeFolder(Path(path)) ||
           (errno == EEXIST && lookAt(Path(path), Follow::yes).kind == Kind::folder);
}

TemporaryFile::~TemporaryFile() {
    discard();
}

bool TemporaryFile::create(const OdString& folder, const OdString& prefix) {
    discard();
    // Unique across processes by the process id, within one by the clock and the attempts.
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const OdString start = within(folder, prefix);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, "%lu-%llx", processId(), seed + attempt * 7919ULL);
        const OdString path = start + OdString(suffix, kCodePageUtf8);
        m_handle = createNew(Path(path));
        if (m_handle != kNoHandle) {
            m_path = path;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool TemporaryFile::close() {
    if (m_handle == kNoHandle)
        return true;
    const bool closed = sys::close(m_handle);
    m_handle = kNoHandle;
    if (!closed) {
        const int error = errno;
        discard();
        errno = error;
    }
    return closed;
}

bool TemporaryFile::placeAs(const OdString& target, bool makeParents) {
    if (m_path.isEmpty()) {
        errno = EBADF;
        return false;
    }
    return close() && placeFile(keep(), target, makeParents);
}

bool placeFile(const OdString& temp, const OdString& target, bool makeParents) {
    if ((!makeParents || makeFolders(folderOf(target))) && replace(Path(temp), Path(target)))
        return true;
    const int error = errno;
    remove(Path(temp));
    errno = error;
    return false;
}

OdString TemporaryFile::keep() {
    OdString kept = m_path;
    m_path = OdString();
    return kept;
}

void TemporaryFile::discard() {
    const int error = errno;
    if (m_handle != kNoHandle)
        sys::close(m_handle);
    m_handle = kNoHandle;
    if (!m_path.isEmpty())
        remove(Path(m_path));
    m_path = OdString();
    errno = error;
}

OdString temporaryPrefixOf(const OdString& path) {
    int start = path.getLength();
    while (start > 0 && !FileName::isPathSeparator(path[start - 1]))
        --start;
    return OdString(L".") + path.mid(start) + L".tmp-";
}

bool writeFileAtomically(const OdString& path, const char* bytes, std::size_t size) {
    if (path.isEmpty() || FileName::isPathSeparator(path[path.getLength() - 1])) {
        errno = EINVAL;
        return false;
    }
    const OdString folder = folderOf(path);
    TemporaryFile temp;
    if (!temp.create(folder, temporaryPrefixOf(path)))
        return false;
    // The replacement allows what the replaced file allowed; a new file is as any of the user's.
    copyAccess(temp.handle(), Path(path));
    if (!temp.writeAll(bytes, size) || !flush(temp.handle()) || !temp.placeAs(path, false))
        return false;
    // Make the rename itself durable; the new content is in place whatever this answers.
    flushFolder(Path(folder));
    return true;
}

int removeTemporaries(const OdString& folder, const OdString& prefix, const OdString& spare) {
    if (folder.isEmpty() || prefix.isEmpty())
        return 0;
    struct Found {
        const OdString& folder;
        const OdString& prefix;
        const OdString& spare;
        int removed = 0;
    } found{folder, prefix, spare};
    const ListVisitor visit = [](void* context, const PathUnit* name, std::size_t length,
                                 Kind kind) {
        auto& f = *static_cast<Found*>(context);
        if (kind != Kind::file)
            return;
        const OdString text = nameOf(name, length);
        const auto begins = [&](const OdString& start) {
            return !start.isEmpty() && text.left(start.getLength()) == start;
        };
        if (!begins(f.prefix) || begins(f.spare))
            return;
        if (remove(Path(within(f.folder, text))))
            ++f.removed;
    };
    listFolder(Path(folder), visit, &found);
    return found.removed;
}

}  // namespace ut::sys

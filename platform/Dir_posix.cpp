#include <platform/Dir.h>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cstdint>

#include <platform/internal/WriteCalls_posix.h>

namespace ut {

namespace {

enum class Kind { kFile, kFolder, kNone };

// The entry's kind, asking the file system only when the listing could not tell.
Kind kindOf(int dirFd, const dirent64& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return Kind::kFile;
        case DT_DIR:
            return Kind::kFolder;
        case DT_LNK:
            // Links are never followed: what one leads to may lie outside the tree, and a link
            // to a folder could make a walk run round a loop.
            return Kind::kNone;
        case DT_UNKNOWN: {
            struct stat st;
            if (fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return Kind::kNone;
            if (S_ISREG(st.st_mode))
                return Kind::kFile;
            if (S_ISDIR(st.st_mode))
                return Kind::kFolder;
            return Kind::kNone;
        }
        default:
            return Kind::kNone;
    }
}

// Room for a few hundred entries per system call. On the stack rather than in the heap: opendir()
// allocates a 32 KiB buffer for every folder, which a walk of thousands of folders pays for again
// and again.
constexpr std::size_t kListingBuffer = 16384;

// Eight bytes as one number that orders as the bytes do.
std::uint64_t bigEndianAt(const char* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    value = __builtin_bswap64(value);
#endif
    return value;
}

// Byte order of two names, eight bytes at a time: the listing's sort compares names mostly alike
// in their first bytes ("file-0001", "file-0002"), where a call to memcmp for each comparison
// cost more than the comparison itself.
bool bytesBefore(const char* a, std::size_t aSize, const char* b, std::size_t bSize) {
    const std::size_t common = std::min(aSize, bSize);
    std::size_t i = 0;
    for (; i + 8 <= common; i += 8) {
        const std::uint64_t x = bigEndianAt(a + i), y = bigEndianAt(b + i);
        if (x != y)
            return x < y;
    }
    for (; i < common; ++i) {
        if (a[i] != b[i])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    }
    return aSize < bSize;
}

}  // namespace

bool Dir::exists(const OdString& path) {
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(path.ansi_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Dir::create(const OdString& path) {
    return !path.isEmpty() && sys::mkdir(path.ansi_str(), 0777) == 0;
}

void Dir::readOnce() {
    if (m_read)
        return;
    m_read = true;
    const int fd =
        m_path.isEmpty() ? -1 : ::open(m_path.ansi_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    alignas(dirent64) char buffer[kListingBuffer];
    for (ssize_t filled; (filled = ::getdents64(fd, buffer, sizeof buffer)) > 0;) {
        // What this batch can add at most, made room for once: its names take fewer bytes than
        // their records, and a record takes at least kSmallestRecord bytes.
        constexpr std::size_t kSmallestRecord = 24;
        const auto batch = static_cast<std::size_t>(filled);
        m_names.reserve(m_names.size() + batch);
        m_files.reserve(m_files.size() + batch / kSmallestRecord);
        for (ssize_t offset = 0; offset < filled;) {
            const auto& entry = *reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry.d_reclen;
            if (entry.d_name[0] == '.')
                continue;  // ".", ".." and hidden names
            const Kind kind = kindOf(fd, entry);
            if (kind == Kind::kNone)
                continue;
            const std::size_t size = std::strlen(entry.d_name);
            const Entry name{static_cast<std::uint32_t>(m_names.size()),
                             static_cast<std::uint32_t>(size)};
            m_names.append(entry.d_name, size + 1);  // with its terminator, for fnmatch
            (kind == Kind::kFile ? m_files : m_folders).push_back(name);
        }
    }
    ::close(fd);
    const auto byBytes = [names = m_names.data()](const Entry& a, const Entry& b) {
        return bytesBefore(names + a.offset, a.size, names + b.offset, b.size);
    };
    std::sort(m_files.begin(), m_files.end(), byBytes);
    std::sort(m_folders.begin(), m_folders.end(), byBytes);
}

bool Dir::getNext(OdString* name) {
    if (m_current) {
        while (m_next < m_current->size()) {
            const Entry& candidate = (*m_current)[m_next++];
            const char* const bytes = m_names.data() + candidate.offset;
            if (m_filespec.empty() || ::fnmatch(m_filespec.c_str(), bytes, FNM_PERIOD) == 0) {
                if (name)
                    name->assignUtf8(bytes, candidate.size);
                return true;
            }
        }
    }
    if (name)
        *name = OdString::kEmpty;
    return false;
}

}  // namespace ut

#include "StatCache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Console.h"

namespace host {

namespace {

// The file, all in the machine's own byte order (it never leaves the machine that wrote it):
//   header: kMagic, the stamps of the two stores, the number of entries;
//   entries, in the order of the paths' wide text, each: path length (wide elements), URL length
//   (UTF-8 bytes), size, modification time, inode, change time, the path's wide elements, the
//   URL's bytes, zeros up to a multiple of 8 bytes.
constexpr char kMagic[8] = {'r', 'v', 'k', 's', 't', 'a', 't', '1'};
constexpr const char* kFileName = "stat-cache";
// The temporary copy shares the prefix of the host's other temporary files, so that what a killed
// command leaves behind is removed with them.
constexpr const char* kTempPattern = ".incoming-stat-cache-XXXXXX";

struct Stamp {
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t inode = 0;
};

struct Header {
    char magic[8];
    Stamp drawings;
    Stamp objects;
    std::uint64_t count;
};

struct EntryHead {
    std::uint32_t pathLength;
    std::uint32_t urlLength;
    FileStat stat;
};

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// A store's folder changes its times whenever a copy is added to it or removed from it.
Stamp stampOf(const std::string& folder) {
    struct stat info {};
    Stamp stamp;
    if (::stat(folder.c_str(), &info) == 0) {
        stamp.modifiedNs = nanoseconds(info.st_mtim);
        stamp.changedNs = nanoseconds(info.st_ctim);
        stamp.inode = info.st_ino;
    }
    return stamp;
}

bool sameStamp(const Stamp& a, const Stamp& b) {
    return a.modifiedNs == b.modifiedNs && a.changedNs == b.changedNs && a.inode == b.inode;
}

std::size_t padded(std::size_t bytes) {
    return (bytes + 7) & ~std::size_t{7};
}

// True when `url` is exactly the UTF-8 text `bytes`. Storage URLs are ASCII; any other character
// counts as a difference, which only costs an isModified() call.
bool sameUrl(const OdString& url, std::string_view bytes) {
    const std::wstring& wide = url.wstr();
    if (wide.size() != bytes.size())
        return false;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] > 0x7F || wide[i] != static_cast<unsigned char>(bytes[i]))
            return false;
    }
    return true;
}

std::string cachePath(const common::RootPath& root) {
    return utf8(root.rvkPath()) + "/" + kFileName;
}

Header currentHeader(const common::RootPath& root) {
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    const std::string rvk = utf8(root.rvkPath());
    header.drawings = stampOf(rvk + "/tf");
    header.objects = stampOf(rvk + "/objects");
    return header;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool statFile(int folder, const char* path, FileStat& out) {
    struct stat info {};
    if (::fstatat(folder, path, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return false;
    out.size = static_cast<std::int64_t>(info.st_size);
    out.modifiedNs = nanoseconds(info.st_mtim);
    out.inode = info.st_ino;
    out.changedNs = nanoseconds(info.st_ctim);
    return true;
}

StatCache StatCache::load(const common::RootPath& root) {
    StatCache cache;
    const int fd = ::open(cachePath(root).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return cache;
    struct stat info {};
    bool read = ::fstat(fd, &info) == 0 && info.st_size >= static_cast<off_t>(sizeof(Header));
    if (read) {
        const auto size = static_cast<std::size_t>(info.st_size);
        cache.m_buffer.resize((size + 7) / 8);
        cache.m_writtenNs = nanoseconds(info.st_mtim);
        auto* bytes = reinterpret_cast<char*>(cache.m_buffer.data());
        std::size_t got = 0;
        while (read && got < size) {
            const ssize_t n = ::read(fd, bytes + got, size - got);
            read = n > 0 || (n < 0 && errno == EINTR);
            got += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
    ::close(fd);
    if (!read)
        return StatCache();

    // Every length is checked against what is left, so a damaged file is refused, never overrun.
    const char* bytes = reinterpret_cast<const char*>(cache.m_buffer.data());
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    Header header;
    std::memcpy(&header, bytes, sizeof header);
    const Header now = currentHeader(root);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 ||
        !sameStamp(header.drawings, now.drawings) || !sameStamp(header.objects, now.objects) ||
        header.count > size / sizeof(EntryHead))
        return StatCache();
    cache.m_entries.reserve(static_cast<std::size_t>(header.count));
    std::size_t at = sizeof header;
    for (std::uint64_t i = 0; i < header.count; ++i) {
        if (size - at < sizeof(EntryHead))
            return StatCache();
        EntryHead head;
        std::memcpy(&head, bytes + at, sizeof head);
        at += sizeof head;
        const std::size_t pathBytes = std::size_t{head.pathLength} * sizeof(wchar_t);
        const std::size_t body = padded(pathBytes + head.urlLength);
        if (size - at < body)
            return StatCache();
        Entry entry{{reinterpret_cast<const wchar_t*>(bytes + at), head.pathLength},
                    {bytes + at + pathBytes, head.urlLength},
                    head.stat};
        if (!cache.m_entries.empty() && !(cache.m_entries.back().path < entry.path))
            return StatCache();  // out of order: not written by us
        cache.m_entries.push_back(entry);
        at += body;
    }
    return at == size ? std::move(cache) : StatCache();
}

bool StatCache::trusts(const OdString& path, const OdString& url, const FileStat& now) const {
    const std::wstring_view key(path.wstr());
    const auto found = std::lower_bound(m_entries.begin(), m_entries.end(), key,
                                        [](const Entry& e, std::wstring_view k) { return e.path < k; });
    return found != m_entries.end() && found->path == key && found->stat == now &&
           now.modifiedNs < m_writtenNs && sameUrl(url, found->url);
}

void StatCache::record(const OdString& path, const OdString& url, const FileStat& now) {
    if (!m_changed && !trusts(path, url, now))
        m_changed = true;
    m_next.push_back({&path, &url, now});
}

void StatCache::save(const common::RootPath& root) {
    if (!m_changed && m_next.size() == m_entries.size())
        return;
    std::sort(m_next.begin(), m_next.end(), [](const Recorded& a, const Recorded& b) {
        return a.path->wstr() < b.path->wstr();
    });
    Header header = currentHeader(root);
    header.count = m_next.size();
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    std::string url;
    for (const Recorded& r : m_next) {
        url.assign(r.url->ansi_str(), r.url->ansiLength());
        const std::wstring& path = r.path->wstr();
        const EntryHead head{static_cast<std::uint32_t>(path.size()),
                             static_cast<std::uint32_t>(url.size()), r.stat};
        out.append(reinterpret_cast<const char*>(&head), sizeof head);
        out.append(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(wchar_t));
        out.append(url);
        out.append(padded(out.size()) - out.size(), '\0');
    }

    std::string temp = utf8(root.rvkPath()) + "/" + kTempPattern;
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return;
    const bool written = writeAll(fd, out.data(), out.size());
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), cachePath(root).c_str()) != 0)
        ::unlink(temp.c_str());
}

}  // namespace host

#include "StatCache.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <xxhash.h>

#include "Console.h"
#include "HostFiles.h"

namespace host {

namespace {

// The file, all in the machine's own byte order (it never leaves the machine that wrote it):
//   header: kMagic, HEAD's commit (0 for none), the stamps of the drawing store, the object store
//   and the database, the number of entries;
//   entries, in the order of the paths' bytes, each: path length, URL length, 1 when vouched for
//   (else 0), size, modification time, inode, change time, the path's bytes, the URL's bytes,
//   zeros up to a multiple of 8 bytes;
//   the checksum of everything before it: XXH3, 64 bits.
// The checksum makes damage (a flipped bit, a block of another file) a rebuilt cache instead of a
// removal and an untracked file that are not there, or a changed file trusted as unchanged. It
// must be cheap beside a status that trusts the cache: over the 15 MB cache of 100,000 files,
// mapped as load() maps it, XXH3 took 1.0 ms, zlib's crc32 3.0 ms and SHA-256 (with the
// processor's SHA instructions) 9.7 ms, against about 110 ms for the whole status of that clean
// tree. Nothing here defends against someone who forges a cache: whoever can write it can write
// the database.
constexpr char kMagic[8] = {'r', 'v', 'k', 's', 't', 'a', 't', '3'};
constexpr const char* kFileName = "stat-cache";

struct Stamp {
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
};

struct Header {
    char magic[8];
    std::uint64_t head;
    Stamp drawings;
    Stamp objects;
    Stamp database;
    std::uint64_t count;
};

using Checksum = std::uint64_t;

struct EntryHead {
    std::uint32_t pathLength;
    std::uint32_t urlLength;
    std::uint64_t vouched;
    FileStat stat;
};

// A store's folder changes its times whenever a copy is added to it or removed from it, the
// database file whenever it is written.
Stamp stampOf(const std::string& path) {
    FileStat info;
    Stamp stamp;
    if (lookAt(path, &info) != PathKind::none) {
        stamp.modifiedNs = info.modifiedNs;
        stamp.changedNs = info.changedNs;
        stamp.inode = info.inode;
        stamp.size = info.size;
    }
    return stamp;
}

bool operator==(const Stamp& a, const Stamp& b) {
    return a.modifiedNs == b.modifiedNs && a.changedNs == b.changedNs && a.inode == b.inode &&
           a.size == b.size;
}

std::size_t padded(std::size_t bytes) {
    return (bytes + 7) & ~std::size_t{7};
}

std::string cachePath(const common::RootPath& root) {
    return utf8(root.rvkPath()) + "/" + kFileName;
}

Header currentHeader(const common::RootPath& root, boost::optional<std::uint64_t> head) {
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.head = head ? *head : 0;
    header.drawings = stampOf(utf8(root.drawingStorePath()));
    header.objects = stampOf(utf8(root.objectStorePath()));
    header.database = stampOf(utf8(root.dbPath()));
    return header;
}

}  // namespace

StatCache StatCache::load(const common::RootPath& root, boost::optional<std::uint64_t> head) {
    StatCache cache;
    cache.m_head = head;
    cache.m_changed = true;
    FileStat written;
    cache.m_mapping = MappedFile::map(cachePath(root), written);
    cache.m_writtenNs = written.modifiedNs;
    if (cache.m_mapping.size() < sizeof(Header) + sizeof(Checksum))
        return StatCache();
    const std::string_view bytes(cache.m_mapping.data(),
                                 cache.m_mapping.size() - sizeof(Checksum));

    // Every length is checked against what is left, so a damaged file is refused, never overrun.
    Header header;
    std::memcpy(&header, bytes.data(), sizeof header);
    const Header now = currentHeader(root, head);
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.head != now.head ||
        !(header.drawings == now.drawings) || !(header.objects == now.objects) ||
        !(header.database == now.database) || header.count > bytes.size() / sizeof(EntryHead))
        return StatCache();
    // Only a cache written for the present state is worth the pass over all of it.
    Checksum checksum;
    std::memcpy(&checksum, bytes.data() + bytes.size(), sizeof checksum);
    if (XXH3_64bits(bytes.data(), bytes.size()) != checksum)
        return StatCache();
    cache.m_files.reserve(static_cast<std::size_t>(header.count));
    std::size_t at = sizeof header;
    for (std::uint64_t i = 0; i < header.count; ++i) {
        if (bytes.size() - at < sizeof(EntryHead))
            return StatCache();
        EntryHead entry;
        std::memcpy(&entry, bytes.data() + at, sizeof entry);
        at += sizeof entry;
        const std::size_t body = padded(std::size_t{entry.pathLength} + entry.urlLength);
        if (bytes.size() - at < body || entry.vouched > 1)
            return StatCache();
        CachedFile file{{bytes.data() + at, entry.pathLength},
                        {bytes.data() + at + entry.pathLength, entry.urlLength},
                        entry.stat,
                        entry.vouched == 1};
        if (!cache.m_files.empty() && !(cache.m_files.back().path < file.path))
            return StatCache();  // out of order: not written by us
        cache.m_files.push_back(file);
        at += body;
    }
    if (at != bytes.size())
        return StatCache();
    cache.m_loaded = true;
    cache.m_changed = false;
    return cache;
}

StatCache StatCache::fromTracked(const TrackedFiles& files, boost::optional<std::uint64_t> head) {
    StatCache cache;
    cache.m_head = head;
    cache.m_changed = true;
    std::string bytes;
    std::vector<std::pair<std::size_t, std::size_t>> paths;  // offset, length; the URL follows
    std::vector<std::size_t> urlLengths;
    for (const auto& [path, url] : files) {
        const std::size_t offset = bytes.size();
        bytes.append(path.ansi_str(), path.ansiLength());
        paths.emplace_back(offset, bytes.size() - offset);
        bytes.append(url.ansi_str(), url.ansiLength());
        urlLengths.push_back(bytes.size() - offset - paths.back().second);
    }
    cache.m_bytes.assign(bytes.begin(), bytes.end());
    const char* base = cache.m_bytes.data();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const auto [offset, length] = paths[i];
        cache.m_files.push_back(
            {{base + offset, length}, {base + offset + length, urlLengths[i]}, FileStat(), false});
    }
    // The map's order is that of the wide text, which differs from the bytes' only at an
    // undecodable byte.
    std::sort(cache.m_files.begin(), cache.m_files.end(),
              [](const CachedFile& a, const CachedFile& b) { return a.path < b.path; });
    return cache;
}

const CachedFile* StatCache::find(std::string_view path) const {
    if (m_next < m_files.size() && m_files[m_next].path == path)
        return &m_files[m_next++];
    const auto found = std::lower_bound(
        m_files.begin(), m_files.end(), path,
        [](const CachedFile& file, std::string_view key) { return file.path < key; });
    if (found == m_files.end() || found->path != path)
        return nullptr;
    m_next = static_cast<std::size_t>(found - m_files.begin()) + 1;
    return &*found;
}

void StatCache::vouch(std::size_t index, const FileStat& now) {
    CachedFile& file = m_files[index];
    // A racy entry is written again even when nothing else changed, so that the next write time
    // is later than its modification time and the entry becomes trusted.
    if (!trusts(file, now))
        m_changed = true;
    file.vouched = true;
    file.stat = now;
}

void StatCache::unvouch(std::size_t index) {
    m_changed = m_changed || m_files[index].vouched;
    m_files[index].vouched = false;
}

void StatCache::save(const common::RootPath& root) const {
    if (!m_changed)
        return;
    Header header = currentHeader(root, m_head);
    header.count = m_files.size();
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    for (const CachedFile& file : m_files) {
        const EntryHead entry{static_cast<std::uint32_t>(file.path.size()),
                              static_cast<std::uint32_t>(file.url.size()), file.vouched ? 1u : 0u,
                              file.vouched ? file.stat : FileStat()};
        out.append(reinterpret_cast<const char*>(&entry), sizeof entry);
        out.append(file.path);
        out.append(file.url);
        out.append(padded(out.size()) - out.size(), '\0');
    }
    const Checksum checksum = XXH3_64bits(out.data(), out.size());
    out.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);

    std::string temp;
    HostFile file = HostFile::createIn(utf8(root.rvkPath()), kStatCacheTempPrefix, temp);
    if (!file.isOpen())
        return;
    // The cache is as readable as the repository's other files.
    const bool written = file.writeAll(out.data(), out.size()) && file.finish(false, boost::none);
    if (!written || !replaceFile(temp, cachePath(root)))
        removeFile(temp);
}

}  // namespace host

#include <client/tree/StatCache.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include <xxhash.h>

#include <client/Text.h>
#include <client/tree/HostFiles.h>

namespace client {

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
    return utf8(root.statCachePath());
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

EntryHead entryAt(const char* at) {
    EntryHead entry;
    std::memcpy(&entry, at, sizeof entry);
    return entry;
}

}  // namespace

StatCache StatCache::load(const common::RootPath& root, boost::optional<std::uint64_t> head) {
    StatCache cache;
    cache.m_head = head;
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
    cache.m_entries.reserve(static_cast<std::size_t>(header.count));
    std::size_t at = sizeof header;
    std::string_view previous;
    for (std::uint64_t i = 0; i < header.count; ++i) {
        if (bytes.size() - at < sizeof(EntryHead))
            return StatCache();
        const EntryHead entry = entryAt(bytes.data() + at);
        const std::size_t body = padded(std::size_t{entry.pathLength} + entry.urlLength);
        if (bytes.size() - at - sizeof entry < body || entry.vouched > 1)
            return StatCache();
        const std::string_view path(bytes.data() + at + sizeof entry, entry.pathLength);
        if (i > 0 && !(previous < path))
            return StatCache();  // out of order: not written by us
        previous = path;
        cache.m_entries.push_back(at);
        at += sizeof entry + body;
    }
    if (at != bytes.size())
        return StatCache();
    cache.m_loaded = true;
    return cache;
}

StatCache StatCache::fromTracked(const TrackedFiles& files, boost::optional<std::uint64_t> head) {
    StatCache cache;
    cache.m_head = head;
    cache.m_changed = true;
    // The map's order is that of the wide text, which differs from the bytes' only at an
    // undecodable byte: the narrow forms are sorted again.
    std::vector<std::pair<std::string, std::string>> sorted;
    sorted.reserve(files.size());
    for (const auto& [path, url] : files)
        sorted.emplace_back(utf8(path), utf8(url));
    std::sort(sorted.begin(), sorted.end());

    std::vector<char>& image = cache.m_bytes;
    image.resize(sizeof(Header));  // written by save()
    cache.m_entries.reserve(sorted.size());
    for (const auto& [path, url] : sorted) {
        cache.m_entries.push_back(image.size());
        const EntryHead entry{static_cast<std::uint32_t>(path.size()),
                              static_cast<std::uint32_t>(url.size()), 0, FileStat()};
        const char* const head = reinterpret_cast<const char*>(&entry);
        image.insert(image.end(), head, head + sizeof entry);
        image.insert(image.end(), path.begin(), path.end());
        image.insert(image.end(), url.begin(), url.end());
        image.resize(padded(image.size()), '\0');
    }
    image.resize(image.size() + sizeof(Checksum), '\0');  // written by save()
    return cache;
}

CachedFile StatCache::file(std::size_t index) const {
    const char* const at = image() + m_entries[index];
    const EntryHead entry = entryAt(at);
    const char* const body = at + sizeof entry;
    return {{body, entry.pathLength},
            {body + entry.pathLength, entry.urlLength},
            entry.stat,
            entry.vouched == 1};
}

std::string_view StatCache::path(std::size_t index) const {
    const char* const at = image() + m_entries[index];
    std::uint32_t length;
    std::memcpy(&length, at + offsetof(EntryHead, pathLength), sizeof length);
    return {at + sizeof(EntryHead), length};
}

boost::optional<std::size_t> StatCache::find(std::string_view wanted) const {
    if (m_next < size() && path(m_next) == wanted)
        return m_next++;
    std::size_t low = 0;
    std::size_t high = size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (path(middle) < wanted)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == size() || path(low) != wanted)
        return boost::none;
    m_next = low + 1;
    return low;
}

bool StatCache::trusts(std::size_t index, const FileStat& now) const {
    const CachedFile entry = file(index);
    return entry.vouched && entry.stat == now && now.modifiedNs < m_writtenNs;
}

void StatCache::setEntry(std::size_t index, bool vouched, const FileStat& stat) {
    if (m_bytes.empty()) {
        m_bytes.assign(image(), image() + imageSize());
        m_mapping = MappedFile();
    }
    char* const at = m_bytes.data() + m_entries[index];
    EntryHead entry = entryAt(at);
    entry.vouched = vouched ? 1 : 0;
    entry.stat = stat;
    std::memcpy(at, &entry, sizeof entry);
    m_changed = true;
}

void StatCache::vouch(std::size_t index, const FileStat& now) {
    // A racy entry is written again even when nothing else changed, so that the next write time
    // is later than its modification time and the entry becomes trusted.
    if (!trusts(index, now))
        setEntry(index, true, now);
}

void StatCache::unvouch(std::size_t index) {
    if (file(index).vouched)
        setEntry(index, false, FileStat());
}

void StatCache::save(const common::RootPath& root) const {
    if (!m_changed)
        return;
    Header header = currentHeader(root, m_head);
    header.count = m_entries.size();
    std::string out(reinterpret_cast<const char*>(&header), sizeof header);
    out.append(image() + sizeof header, imageSize() - sizeof header - sizeof(Checksum));
    const Checksum checksum = XXH3_64bits(out.data(), out.size());
    out.append(reinterpret_cast<const char*>(&checksum), sizeof checksum);

    ut::sys::TemporaryFile file;
    if (!file.create(root.rvkPath(), OdString(kStatCacheTempPrefix, kCodePageUtf8)))
        return;
    // The cache is as readable as the repository's other files.
    if (file.writeAll(out.data(), out.size()) && finishCopy(file, false, boost::none))
        placeCopy(utf8(file.keep()), cachePath(root));
}

}  // namespace client

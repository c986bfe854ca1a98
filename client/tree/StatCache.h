// The stat cache: what lets `rvk status` answer for a clean tree with one lstat per file, as git
// does with its index, instead of reading the database and, through the library's isModified(),
// hashing every generic file.
//
// It lives in its own file, ".rvk/stat-cache", written for one HEAD commit: every file that commit
// tracks, in UTF-8, sorted by the bytes of its path, with its storage URL and, when isModified()
// last found it unchanged, the file's size, modification time, inode and change time at that
// moment (the file is then "vouched for"). While HEAD, the database and the two stores are as they
// were when it was written, status maps this one file (15 MB for 100,000 files, searched in
// place) and never opens the database: in a profile of status on a clean tree of 20,000 files,
// loading HEAD's files from SQLite into a map of wide strings took about a sixth of the time, the
// mapped cache about a hundredth. When anything of that changed (a commit, a copy
// removed from a store, an edited database), the cache is rebuilt from the database.
//
// A file vouched for is trusted as unchanged only while it still has all four values and its
// modification time is older than the moment the cache file was written (the cache file's own
// modification time, from the same clock). A file changed in the same clock tick as that write,
// after isModified() looked at it, keeps the four values but is no longer trusted, so it is tested
// again: the racy case, as git's index handles it.
//
// The content of the file can never make a changed file look unchanged: the file ends with a
// checksum of the rest, and a file whose checksum fails, like a malformed or foreign one, is no
// cache (it is rebuilt, never trusted in part). The file is replaced by renaming a complete
// temporary copy over it. rvk writes it under the shared lock: two status commands that write it
// at once each rename a whole file, and either is right.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <boost/optional.hpp>

#include <common/RootPath.h>

#include <client/store/Database.h>
#include <client/tree/HostFiles.h>

namespace client {

// One file of HEAD's commit, as the cache holds it.
struct CachedFile {
    std::string_view path;  // UTF-8
    std::string_view url;   // UTF-8
    FileStat stat;          // when `vouched`
    bool vouched = false;
};

// The name of the cache's temporary copy begins with this. It shares the prefix of the host's other
// temporary copies, so that what a killed command leaves behind is removed with them; a status
// writes it under the shared lock, so another command holding that lock leaves it alone.
constexpr const char kStatCacheTempPrefix[] = ".incoming-stat-cache-";

// The files are read in place, from the image of the cache file: load()'s mapping, or a buffer in
// the same layout. Only an index of where each entry begins is made beside it, so loading the cache
// of 20,000 files touches a few dozen pages of memory, not the 350 that a record for each took.
// The first change to an entry copies the image into memory of its own.
class StatCache {
public:
    // The cache of `root` written for the commit `head`, when the database and the stores are as
    // they were then; otherwise (no cache, another commit, a damaged or malformed file) nothing:
    // see loaded().
    static StatCache load(const common::RootPath& root, boost::optional<std::uint64_t> head);
    // A cache of `files`, the files of commit `head` as the database gives them, vouching for none.
    static StatCache fromTracked(const TrackedFiles& files, boost::optional<std::uint64_t> head);

    StatCache(StatCache&&) = default;
    StatCache& operator=(StatCache&&) = default;

    // True when load() found a cache: it lists every file HEAD's commit tracks.
    bool loaded() const { return m_loaded; }
    // The number of files; they are numbered in the order of the bytes of their paths.
    std::size_t size() const { return m_entries.size(); }
    // The file `index`.
    CachedFile file(std::size_t index) const;
    std::string_view path(std::size_t index) const;
    // The index of the file at `path`, or nothing. Looks right after the file found last first: a
    // scan of the working tree meets the files mostly in their order.
    boost::optional<std::size_t> find(std::string_view path) const;

    // True when the file `index` is vouched for with exactly `now`, and safely older than the cache.
    bool trusts(std::size_t index, const FileStat& now) const;
    // Vouches for the file `index` with `now`, or stops vouching for it.
    void vouch(std::size_t index, const FileStat& now);
    void unvouch(std::size_t index);

    // Writes the cache when it differs from the file it was loaded from. A cache that cannot be
    // written is no error (status works without it): nothing is reported.
    void save(const common::RootPath& root) const;

private:
    StatCache() = default;

    // The image: the cache file's layout, header, entries and checksum.
    const char* image() const { return m_bytes.empty() ? m_mapping.data() : m_bytes.data(); }
    std::size_t imageSize() const { return m_bytes.empty() ? m_mapping.size() : m_bytes.size(); }
    // Sets the entry `index` (in an image of this cache's own, made at the first change).
    void setEntry(std::size_t index, bool vouched, const FileStat& stat);

    MappedFile m_mapping;       // what load() found, until the first change, or
    std::vector<char> m_bytes;  // an image of this cache's own
    std::vector<std::size_t> m_entries;  // where each entry begins in the image
    boost::optional<std::uint64_t> m_head;
    std::int64_t m_writtenNs = 0;    // the cache file's modification time; 0: trust nothing
    mutable std::size_t m_next = 0;  // where find() looks first
    bool m_loaded = false;
    bool m_changed = false;
};

}  // namespace client

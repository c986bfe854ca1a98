// The stat cache: what lets `rvk status` skip the library's isModified() for tracked files that
// nobody touched, so that a clean tree of many files, or of a few huge ones, costs one lstat per
// file instead of a digest of every generic file.
//
// It lives in its own file, ".rvk/stat-cache", not in rvk.db: a status reads all of it, and reading
// it whole into one buffer and searching that is several times faster than a query over the same
// rows (bench/compare shows the whole status against git's). An entry says: the file at this path
// had this size, modification time, inode and change time when isModified() last said it was
// unchanged from the stored copy at this URL. It is trusted only when the file still has all four
// and its modification time is older than the moment the cache file was written (the cache file's
// own modification time, from the same clock). A file changed in the same clock tick as that
// write, after isModified() looked at it, keeps the four values but is no longer trusted, so it is
// tested again: the racy case, as git's index handles it.
//
// The cache is also dropped whole when the drawing store or the object store changed (a copy made
// or removed changes its folder), so that a stored copy deleted since is noticed. Its content can
// never make a changed file look unchanged: a malformed or foreign file is an empty cache, and the
// file is replaced by renaming a complete temporary copy over it. rvk writes it under the shared
// lock: two status commands that write it at once each rename a whole file, and either is right.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <common/Expected.h>
#include <common/RootPath.h>

namespace host {

// What lstat() says about a file, as far as the cache compares it.
struct FileStat {
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::uint64_t inode = 0;
    std::int64_t changedNs = 0;

    friend bool operator==(const FileStat& a, const FileStat& b) {
        return a.size == b.size && a.modifiedNs == b.modifiedNs && a.inode == b.inode &&
               a.changedNs == b.changedNs;
    }
};

// lstat() of the file at the UTF-8 path `path`, relative to the open folder `folder` (or to the
// current folder, or absolute, with AT_FDCWD); false when there is no regular file there.
bool statFile(int folder, const char* path, FileStat& out);

class StatCache {
public:
    // An empty cache: trusts nothing.
    StatCache() = default;
    // The cache of `root`, or an empty one when there is none, it cannot be read, it is malformed,
    // or a store changed since it was written.
    static StatCache load(const common::RootPath& root);

    // True when the entry of `path` says that a file with exactly `now` was unchanged from `url`,
    // and is safely older than the cache.
    bool trusts(const OdString& path, const OdString& url, const FileStat& now) const;
    // Keeps `path` with `now` as unchanged from `url` for the next cache. Both strings must live
    // until save().
    void record(const OdString& path, const OdString& url, const FileStat& now);
    // Writes the recorded entries as the new cache when they differ from the loaded ones. A cache
    // that cannot be written is no error (status works without it): nothing is reported.
    void save(const common::RootPath& root);

    std::size_t size() const { return m_entries.size(); }

private:
    struct Entry {
        std::wstring_view path;
        std::string_view url;
        FileStat stat;
    };
    struct Recorded {
        const OdString* path;
        const OdString* url;
        FileStat stat;
    };

    std::vector<std::uint64_t> m_buffer;  // the file's bytes; m_entries point into them
    std::vector<Entry> m_entries;         // in the order of the paths' wide text
    std::int64_t m_writtenNs = 0;         // the cache file's modification time
    std::vector<Recorded> m_next;
    bool m_changed = false;               // m_next differs from m_entries
};

}  // namespace host

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

#include "Database.h"
#include "HostFiles.h"

namespace host {

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
    // The files, in the order of the bytes of their paths.
    const std::vector<CachedFile>& files() const { return m_files; }
    // The file at `path`, or null. Looks right after the file found last first: a scan of the
    // working tree meets the files mostly in their order.
    const CachedFile* find(std::string_view path) const;

    // True when `file` is vouched for with exactly `now`, and safely older than the cache.
    bool trusts(const CachedFile& file, const FileStat& now) const {
        return file.vouched && file.stat == now && now.modifiedNs < m_writtenNs;
    }
    // Vouches for the file `index` of files() with `now`, or stops vouching for it.
    void vouch(std::size_t index, const FileStat& now);
    void unvouch(std::size_t index);

    // Writes the cache when it differs from the file it was loaded from. A cache that cannot be
    // written is no error (status works without it): nothing is reported.
    void save(const common::RootPath& root) const;

private:
    StatCache() = default;

    MappedFile m_mapping;       // what load() found, or
    std::vector<char> m_bytes;  // what fromTracked() was given: the paths and URLs that m_files
                                // point into
    std::vector<CachedFile> m_files;
    boost::optional<std::uint64_t> m_head;
    std::int64_t m_writtenNs = 0;    // the cache file's modification time; 0: trust nothing
    mutable std::size_t m_next = 0;  // where find() looks first
    bool m_loaded = false;
    bool m_changed = false;
};

}  // namespace host

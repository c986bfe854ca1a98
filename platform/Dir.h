// ut::Dir: one folder's listing.
//
// A Dir reads its folder once, in one directory pass, on the first getFirst() call, and serves both
// the file listing (kFiles) and the subfolder listing (kFolders) from that pass. Names come sorted
// by their UTF-8 bytes, so listings are the same on every run.
//
// What is listed:
// - never ".", ".." or a hidden name (one that begins with "."), so the repository directory is
//   never offered to a walk;
// - kFiles: regular files only;
// - kFolders: real folders only. A symbolic link is listed nowhere, whatever it leads to: a
//   walk never reads what lies outside the tree it walks, and cannot run round a link loop;
// - a folder that cannot be read lists nothing, and that is not an error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <platform/Export.h>
#include <platform/OdString.h>

namespace ut {

class RVKPLATFORM_EXPORT Dir {
public:
    enum : int { kFiles = 1, kFolders = 2 };

    explicit Dir(const OdString& path);
    ~Dir();
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;

    // True when `path` names a folder (a link to a folder counts).
    static bool exists(const OdString& path);
    // Creates the folder (not its parents); true on success, false when it exists or cannot be
    // made.
    static bool create(const OdString& path);

    // Starts a listing of the kind in `flags` and yields its first name (without folder). An empty
    // `filespec` selects every entry; otherwise only names matching it, with the wildcards "*"
    // and "?".
    // False, with `name` set to the empty string, when there is none.
    bool getFirst(OdString* name, const OdString& filespec, int flags);
    // The next name of the current listing; false, with `name` emptied, at its end.
    bool getNext(OdString* name);
    // The folder's own path, as given.
    OdString getName() const { return m_path; }

private:
    // Where a name lies in m_names (in bytes) and how many units it has; names are kept as the
    // file system gave them, terminated, and decoded only when a listing hands them out.
    struct Entry {
        std::uint32_t offset;
        std::uint32_t size;
    };

    void readOnce();

    OdString m_path;
    bool m_read = false;
    std::string m_names;
    std::vector<Entry> m_files;
    std::vector<Entry> m_folders;
    const std::vector<Entry>* m_current = nullptr;
    std::size_t m_next = 0;
    std::string m_filespec;  // the current listing's pattern, as units; empty means all
};

}  // namespace ut

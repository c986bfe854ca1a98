// The look at every tracked file that a status takes: an lstat of each, by name, following no link,
// with the scan of the working tree going on meanwhile. Most of a status of a clean tree is these
// looks, so each system's source (LookAtFiles_posix.cpp, LookAtFiles_windows.cpp) makes them as
// cheaply as that system allows.
#pragma once

#include <memory>
#include <vector>

#include <common/RootPath.h>

#include <client/tree/HostFiles.h>
#include <client/tree/StatCache.h>

namespace client {

// What the look at a tracked file found.
enum class Seen : unsigned char {
    file,         // a regular file: `stat` holds its values
    gone,         // nothing there, or something that is no file (a folder, a FIFO)
    link,         // a symbolic link (on Windows any reparse point)
    unreachable,  // not known: `error` (an errno) tells why
};

struct Looked {
    FileStat stat;
    Seen seen = Seen::unreachable;
    int error = 0;
};

// Looks at every file of `files` (paths relative to the working tree of `root`), in their order. A
// file under a folder that is a link lies outside the working tree: it is unreachable with ELOOP.
// Where folders take names as Windows does, a path that Windows cannot hold under its own name
// (WindowsNames.h: a device name such as "CON" would open the device) is not looked at: it is
// unreachable with EINVAL.
// The looks may begin at once, beside the caller's own work; wait() gives them all.
class LookAtFiles {
public:
    LookAtFiles(const common::RootPath& root, const StatCache& files);
    ~LookAtFiles();
    LookAtFiles(const LookAtFiles&) = delete;
    LookAtFiles& operator=(const LookAtFiles&) = delete;

    // Every file looked at, in the order of `files`.
    const std::vector<Looked>& wait();

private:
    struct Work;
    std::unique_ptr<Work> m_work;
};

}  // namespace client

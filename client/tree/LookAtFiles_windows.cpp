#include <client/tree/LookAtFiles.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <unordered_map>

#include <client/Text.h>
#include <client/tree/WindowsNames.h>

namespace client {

// Windows has no call that looks at a file by name within an open folder, so each file is looked
// at by its whole path, once every folder on that path is known to be no reparse point (a link or
// a junction, which would lead out of the working tree). Each folder is asked about once. The
// looks are made in wait(), after the caller's scan.
struct LookAtFiles::Work {
    std::string root;
    const StatCache& files;
    std::vector<Looked> looked;
    // What each folder below the root was found to be: 0 when it may be passed, else the errno
    // of a file below it.
    std::unordered_map<std::string, int> folders;

    // 0 when every folder of `within` (a relative path of folders) may be passed, else the errno
    // that a file below it gets.
    int passable(std::string_view within) {
        if (within.empty())
            return 0;
        const auto known = folders.find(std::string(within));
        if (known != folders.end())
            return known->second;
        const std::size_t slash = within.find_last_of(kHostSeparators);
        int error = passable(slash == std::string_view::npos ? std::string_view()
                                                             : within.substr(0, slash));
        if (error == 0) {
            switch (lookAt(root + "/" + std::string(within))) {
                case PathKind::folder:
                    break;
                case PathKind::link:
                    error = ELOOP;
                    break;
                case PathKind::none:
                    error = errno == ENOENT ? ENOENT : errno;
                    break;
                default:
                    error = ENOTDIR;
            }
        }
        folders.emplace(std::string(within), error);
        return error;
    }

    void lookAtAll() {
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string_view path = files.path(i);
            const std::size_t slash = path.find_last_of(kHostSeparators);
            Looked& one = looked[i];
            // A device name would open the device ("CON" the console, which waits for input),
            // and a name Windows changes would be another file: neither is looked at.
            if (windowsNameProblem(slashed(std::string(path)))) {
                one.error = EINVAL;
                one.seen = Seen::unreachable;
                continue;
            }
            const int folderError =
                passable(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash));
            if (folderError != 0) {
                one.error = folderError;
                one.seen = folderError == ENOENT || folderError == ENOTDIR ? Seen::gone
                                                                           : Seen::unreachable;
                continue;
            }
            switch (lookAt(root + "/" + std::string(path), &one.stat)) {
                case PathKind::file:
                    one.seen = Seen::file;
                    break;
                case PathKind::link:
                    one.seen = Seen::link;
                    break;
                case PathKind::none:
                    one.error = errno;
                    one.seen = errno == ENOENT || errno == ENOTDIR ? Seen::gone : Seen::unreachable;
                    break;
                default:
                    one.seen = Seen::gone;
            }
        }
    }
};

LookAtFiles::LookAtFiles(const common::RootPath& root, const StatCache& files)
    : m_work(new Work{utf8(root.path()), files, std::vector<Looked>(files.size()), {}}) {}

LookAtFiles::~LookAtFiles() = default;

const std::vector<Looked>& LookAtFiles::wait() {
    m_work->lookAtAll();
    return m_work->looked;
}

}  // namespace client

#include "RepositoryLock.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Console.h"
#include "HostStorage.h"

namespace host {

Expected<std::chrono::milliseconds> parseLockTimeout(const std::string& text,
                                                     const std::string& source) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(begin, &end);
    // strtod also takes "inf", "nan", hexadecimal and leading blanks; a plain number is wanted.
    const bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    if (!plain || end != begin + text.size() || errno != 0 || !std::isfinite(seconds) ||
        seconds < 0 || seconds > 86400)
        return hostError(source + " must be a number of seconds from 0 to 86400, not " +
                         quoteName(shortened(text)));
    return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

Expected<common::RepoLock> lockRepository(const common::RootPath& root, LockMode mode,
                                          std::chrono::milliseconds timeout) {
    const bool exclusive = mode == LockMode::exclusive;
    auto lock = common::RepoLock::acquire(
        root, exclusive ? common::RepoLock::EMode::exclusive : common::RepoLock::EMode::shared,
        timeout, [] {
            std::fputs("rvk: waiting for another command on this repository to finish\n", stderr);
            std::fflush(stderr);
        });
    // No command that copies runs beside one holding the lock in either mode, so what a killed
    // command left is removed by the next command of any kind.
    if (lock.hasValue())
        removeAbandonedCopies(root, exclusive);
    return lock;
}

}  // namespace host

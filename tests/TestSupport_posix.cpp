// The test helpers that need POSIX: running a block as a user whom permissions bind.
#include "TestSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testing_support {

const std::chrono::nanoseconds kFileTimeStep{1};

bool setModificationTicks(const fs::path& path, std::int64_t ticks) {
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(ticks / 1000000000), ticks % 1000000000}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

void asUnprivilegedUser(const TempDir& dir, const std::function<void()>& block) {
    if (::geteuid() != 0) {
        block();
        return;
    }
    constexpr int kCannotDrop = 77;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            std::fprintf(stderr, "cannot give up root: %s\n", std::strerror(errno));
            ::_exit(kCannotDrop);
        }
        block();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the unprivileged child died";
    if (WEXITSTATUS(status) == kCannotDrop)
        GTEST_SKIP() << "root cannot be given up here, and permissions do not bind root";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the block failed as an unprivileged user (see above)";
}

}  // namespace testing_support

// The repository lock: shared holders together, an exclusive one alone, a bounded wait, a holder
// that dies never leaves it held, and the cleanup of what killed writers left.
#include <common/RepoLock.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "TestSupport.h"

namespace {

using common::RepoLock;
using common::RootPath;
using testing_support::TempDir;
using Mode = RepoLock::EMode;
using std::chrono::milliseconds;

OdString timeoutMessage(const RootPath& root) {
    return L"Timed out waiting for the repository lock " + RepoLock::lockPath(root) +
           L": another program is working on this repository";
}

TEST(RepoLock, SharedHoldersGoTogetherAndAnExclusiveOneGoesAlone) {
    struct Case {
        Mode held, wanted;
        bool granted;
    };
    const Case cases[] = {
        {Mode::shared, Mode::shared, true},
        {Mode::shared, Mode::exclusive, false},
        {Mode::exclusive, Mode::shared, false},
        {Mode::exclusive, Mode::exclusive, false},
    };
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "held " << int(c.held) << ", wanted " << int(c.wanted));
        const auto held = RepoLock::acquire(root, c.held, milliseconds(0));
        ASSERT_TRUE(held.hasValue());
        int waits = 0;
        const auto wanted = RepoLock::acquire(root, c.wanted, milliseconds(30), [&] { ++waits; });
        EXPECT_EQ(wanted.hasValue(), c.granted);
        EXPECT_EQ(waits, c.granted ? 0 : 1);
        if (!wanted.hasValue()) {
            EXPECT_EQ(wanted.error().message, timeoutMessage(root));
        }
    }
    // With every holder gone, the strongest mode is free again.
    EXPECT_TRUE(RepoLock::acquire(root, Mode::exclusive, milliseconds(0)).hasValue());
}

TEST(RepoLock, WaiterGetsTheLockWhenTheHolderLetsGo) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    Expected<RepoLock> held = RepoLock::acquire(root, Mode::exclusive, milliseconds(0));
    ASSERT_TRUE(held.hasValue());
    // Each acquisition opens the lock file anew, so a thread of this process is a holder as good
    // as another process.
    std::thread holder([&] {
        std::this_thread::sleep_for(milliseconds(150));
        held = ErrorMessage{};  // lets go
    });
    int waits = 0;
    const auto lock = RepoLock::acquire(root, Mode::shared, milliseconds(20000), [&] { ++waits; });
    holder.join();
    EXPECT_TRUE(lock.hasValue());
    EXPECT_EQ(waits, 1);
}

TEST(RepoLock, HolderKilledWithSigkillLeavesTheRepositoryUnlocked) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const auto lock = RepoLock::acquire(root, Mode::exclusive, milliseconds(0));
        const char byte = lock.hasValue() ? 1 : 0;
        if (::write(held[1], &byte, 1) != 1 || !lock.hasValue())
            ::_exit(3);
        for (;;)
            ::pause();
    }
    char byte = 0;
    ASSERT_EQ(::read(held[0], &byte, 1), 1);
    ASSERT_EQ(byte, 1);
    EXPECT_FALSE(RepoLock::acquire(root, Mode::shared, milliseconds(0)).hasValue());
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(RepoLock::acquire(root, Mode::exclusive, milliseconds(0)).hasValue());
    ::close(held[0]);
    ::close(held[1]);
}

TEST(RepoLock, OnlyAnExclusiveHolderRemovesWhatKilledWritersLeft) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    const char* abandoned[] = {".rvk/.rvk.state.tmp-4242-1f", ".rvk/properties/.ignore.tmp-7-aa"};
    const char* kept[] = {".rvk/.rvk.state.old", ".rvk/.incoming-x1", ".rvk/properties/ignore"};
    for (const char* name : abandoned)
        tmp.writeFile(name, "partial");
    for (const char* name : kept)
        tmp.writeFile(name, "mine");

    ASSERT_TRUE(RepoLock::acquire(root, Mode::shared, milliseconds(0)).hasValue());
    for (const char* name : abandoned)
        EXPECT_TRUE(std::filesystem::exists(tmp / name)) << name;
    ASSERT_TRUE(RepoLock::acquire(root, Mode::exclusive, milliseconds(0)).hasValue());
    for (const char* name : abandoned)
        EXPECT_FALSE(std::filesystem::exists(tmp / name)) << name;
    for (const char* name : kept)
        EXPECT_TRUE(std::filesystem::exists(tmp / name)) << name;
}

}  // namespace

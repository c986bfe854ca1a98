// The repository lock: shared holders together, an exclusive one alone, a bounded wait, a holder
// that dies never leaves it held, a lock file that is deleted, replaced or made a link never
// lets two writers in, and the cleanup of what killed writers left.
#include <common/RepoLock.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "TestSupport.h"

namespace {

using common::RepoLock;
using common::RootPath;
using testing_support::TempDir;
using Mode = RepoLock::EMode;
using std::chrono::milliseconds;
namespace fs = testing_support::fs;

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

TEST(RepoLock, LockFileThatIsASymbolicLinkIsRefusedAndWhereItLeadsLeftAlone) {
    struct Case {
        const char* name;
        bool targetExists;
        Mode mode;
    };
    const Case cases[] = {
        {"dangling link, shared", false, Mode::shared},
        {"dangling link, exclusive", false, Mode::exclusive},
        {"link to a file, shared", true, Mode::shared},
        {"link to a file, exclusive", true, Mode::exclusive},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        tmp.makeDir("work");
        const RootPath root = RootPath::get(tmp.od("work"), true).value();
        const fs::path target = tmp / "elsewhere" / "victim";
        fs::create_directories(target.parent_path());
        if (c.targetExists) {
            tmp.writeFile("elsewhere/victim", "someone else's");
            const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
        }
        const fs::path link = tmp / "work" / ".rvk" / "rvk.lock";
        fs::create_symlink(target, link);

        const auto lock = RepoLock::acquire(root, c.mode, milliseconds(0));
        ASSERT_FALSE(lock.hasValue());
        EXPECT_EQ(lock.error().message,
                  L"Unable to lock " + RepoLock::lockPath(root) +
                      L": it is a symbolic link, which the lock never follows; remove it");
        EXPECT_TRUE(fs::is_symlink(link));
        struct stat after {};
        if (!c.targetExists) {
            EXPECT_NE(::lstat(target.c_str(), &after), 0) << "made at the link's target";
            continue;
        }
        ASSERT_EQ(::lstat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
        EXPECT_EQ(testing_support::readFile(target), "someone else's");
        // Nor was it left locked by anyone.
        const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
}

// A FIFO planted as the lock file would block its opening until someone wrote to it; a folder
// cannot be a lock file either. Both are refused at once, saying what is wrong.
TEST(RepoLock, LockFileThatIsNoRegularFileIsRefusedWithoutWaiting) {
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "a FIFO" : "a folder");
        TempDir tmp;
        const RootPath root = RootPath::get(tmp.od(), true).value();
        const std::string path = RepoLock::lockPath(root).ansi_str();
        ASSERT_EQ(fifo ? ::mkfifo(path.c_str(), 0600) : ::mkdir(path.c_str(), 0700), 0);
        const OdString reason = fifo ? OdString(L"it is no regular file; remove it")
                                     : OdString(std::strerror(EISDIR), kCodePageUtf8);
        for (const Mode mode : {Mode::shared, Mode::exclusive}) {
            const auto lock = RepoLock::acquire(root, mode, milliseconds(0));
            ASSERT_FALSE(lock.hasValue());
            EXPECT_EQ(lock.error().message,
                      L"Unable to lock " + RepoLock::lockPath(root) + L": " + reason);
        }
    }
}

// Someone takes the lock file for stale and deletes or replaces it while a command holds the lock:
// the next taker makes or finds another file under the name, which no one holds. It must still
// wait for the holder, and in particular must not remove the holder's temporary files as a dead
// writer's.
TEST(RepoLock, HolderKeepsOthersOutWhenItsLockFileIsDeletedOrReplaced) {
    enum class Damage { deleted, deletedAndMadeAgain, replacedByRename };
    struct Case {
        Damage damage;
        Mode held, wanted;
        bool granted;
    };
    const Case cases[] = {
        {Damage::deleted, Mode::exclusive, Mode::exclusive, false},
        {Damage::deleted, Mode::exclusive, Mode::shared, false},
        {Damage::deleted, Mode::shared, Mode::exclusive, false},
        {Damage::deleted, Mode::shared, Mode::shared, true},
        {Damage::deletedAndMadeAgain, Mode::exclusive, Mode::exclusive, false},
        {Damage::deletedAndMadeAgain, Mode::shared, Mode::exclusive, false},
        {Damage::replacedByRename, Mode::exclusive, Mode::exclusive, false},
        {Damage::replacedByRename, Mode::exclusive, Mode::shared, false},
    };
    const char* holdersWrite = ".rvk/.rvk.state.tmp-4242-1f";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "damage " << int(c.damage) << ", held " << int(c.held)
                                        << ", wanted " << int(c.wanted));
        TempDir tmp;
        const RootPath root = RootPath::get(tmp.od(), true).value();
        const fs::path lockFile = tmp / ".rvk" / "rvk.lock";
        const auto held = RepoLock::acquire(root, c.held, milliseconds(0));
        ASSERT_TRUE(held.hasValue());
        tmp.writeFile(holdersWrite, "half written");
        switch (c.damage) {
            case Damage::deleted:
                fs::remove(lockFile);
                break;
            case Damage::deletedAndMadeAgain:
                fs::remove(lockFile);
                tmp.writeFile(".rvk/rvk.lock");
                break;
            case Damage::replacedByRename:
                tmp.writeFile(".rvk/rvk.lock.new");
                fs::rename(tmp / ".rvk" / "rvk.lock.new", lockFile);
                break;
        }

        const auto wanted = RepoLock::acquire(root, c.wanted, milliseconds(30));
        EXPECT_EQ(wanted.hasValue(), c.granted);
        if (!wanted.hasValue()) {
            EXPECT_EQ(wanted.error().message, timeoutMessage(root));
        }
        EXPECT_TRUE(fs::exists(tmp / holdersWrite));
    }
}

// A taker that finds the lock free holds the file that the name leads to, so that whoever comes
// next, through this library or flock(1), finds it taken; and it notices when that stops being so.
TEST(FileLock, TellsWhetherThePathStillNamesTheLockedFile) {
    enum class Change { none, deleted, replacedByRename, replacedByLinkToIt, neverLocked };
    struct Case {
        Change change;
        bool stillThere;
    };
    const Case cases[] = {
        {Change::none, true},
        {Change::deleted, false},
        {Change::replacedByRename, false},
        {Change::replacedByLinkToIt, false},
        {Change::neverLocked, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.change));
        TempDir tmp;
        const fs::path path = tmp / "lock";
        const fs::path moved = tmp / "moved";
        ut::FileLock lock;
        if (c.change != Change::neverLocked) {
            ASSERT_EQ(lock.tryLock(tmp.od("lock"), ut::FileLock::Mode::kExclusive),
                      ut::FileLock::Outcome::kLocked);
        } else {
            tmp.writeFile("lock");
        }
        switch (c.change) {
            case Change::none:
            case Change::neverLocked:
                break;
            case Change::deleted:
                fs::remove(path);
                break;
            case Change::replacedByRename:
                tmp.writeFile("other");
                fs::rename(tmp / "other", path);
                break;
            case Change::replacedByLinkToIt:
                fs::rename(path, moved);
                fs::create_symlink(moved, path);
                break;
        }
        EXPECT_EQ(lock.isFileAt(tmp.od("lock")), c.stillThere);
    }
}

}  // namespace

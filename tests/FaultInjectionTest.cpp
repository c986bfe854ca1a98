// Every failure branch of the atomic write and of repository creation, reached by making one
// system call fail through the platform's fault seam: the right report, the old content intact,
// and no temporary file left behind.
#include <common/Cache.h>
#include <common/RepoIgnore.h>
#include <common/RepoLock.h>
#include <common/internal/StateFile.h>
#include <platform/Dir.h>
#include <platform/FileName.h>
#include <platform/TextFile.h>
#include <platform/internal/FaultSeam.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace common;
using testing_support::readFile;
using testing_support::RecordingIo;
using testing_support::TempDir;
using ut::sys::Call;
namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Fault {
    const char* name;
    Call call;
    int nth;
    int error;
};

// Each call of the atomic write, failing; the write opens, writes, flushes, closes and renames.
const Fault kWriteFaults[] = {
    {"open", Call::kOpen, 1, EACCES},    {"write", Call::kWrite, 1, ENOSPC},
    {"fsync", Call::kFlush, 1, EIO},     {"close", Call::kClose, 1, EIO},
    {"rename", Call::kRename, 1, EXDEV},
};

class WriteFaults : public testing::Test {
protected:
    void TearDown() override { ut::sys::clearFaults(); }
};

TEST_F(WriteFaults, FailedStateWriteIsReportedAndKeepsTheOldFile) {
    for (const Fault& fault : kWriteFaults) {
        SCOPED_TRACE(fault.name);
        TempDir tmp;
        const RootPath root = RootPath::get(tmp.od(), true).value();
        State before;
        before.head.reference = L"before";
        ASSERT_TRUE(writeState(before, root.statePath()).hasValue());
        const std::string bytes = readFile(tmp / ".rvk" / "rvk.state");

        RecordingIo io;
        {
            Expected<Cache> cache = Cache::get(root, false, io);
            ASSERT_TRUE(cache.hasValue());
            cache.value().write().head.reference = L"after";
            ut::sys::failNth(fault.call, fault.nth, fault.error);
        }
        ASSERT_EQ(io.reports.size(), 1u);
        EXPECT_EQ(io.reports[0],
                  L"Error writing to file '" + ut::FileName(root.statePath()).getFullPath() + L"'");
        EXPECT_EQ(readFile(tmp / ".rvk" / "rvk.state"), bytes);
        EXPECT_EQ(namesIn(tmp / ".rvk"), std::vector<std::string>{"rvk.state"});
    }
}

TEST_F(WriteFaults, FailedIgnoreFileWriteIsReportedAndCreatesNothing) {
    for (const Fault& fault : kWriteFaults) {
        SCOPED_TRACE(fault.name);
        TempDir tmp;
        const RootPath root = RootPath::get(tmp.od(), true).value();
        ut::sys::failNth(fault.call, fault.nth, fault.error);
        const Expected<void> written = RepoIgnore::write(root);
        ASSERT_FALSE(written.hasValue());
        EXPECT_EQ(written.error().message, L"Failed to write Ignore file.");
        EXPECT_EQ(namesIn(tmp / ".rvk" / "properties"), std::vector<std::string>{});
    }
}

TEST_F(WriteFaults, RepositoryThatCannotBeCreatedIsReportedAndLeavesNoFolder) {
    TempDir tmp;
    ut::sys::failNth(Call::kMkdir, 1, EACCES);
    const Expected<RootPath> root = RootPath::get(tmp.od(), true);
    ASSERT_FALSE(root.hasValue());
    EXPECT_EQ(root.error().message, L"Not able to create a rvk directory in " + tmp.od());
    EXPECT_EQ(namesIn(tmp.path()), std::vector<std::string>{});
}

TEST_F(WriteFaults, FreshStateThatCannotBeWrittenAtOnceIsWrittenWhenTheCacheEnds) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    RecordingIo io;
    ut::sys::failNth(Call::kFlush, 1, EIO);
    {
        const Expected<Cache> cache = Cache::get(root, true, io);
        ASSERT_TRUE(cache.hasValue());
        EXPECT_FALSE(fs::exists(tmp / ".rvk" / "rvk.state"));
    }
    const OdString failed =
        L"Error writing to file '" + ut::FileName(root.statePath()).getFullPath() + L"'";
    EXPECT_EQ(io.reports, (std::vector<OdString>{failed, L"ok"}));
    EXPECT_TRUE(readState(root.statePath()).hasValue());
}

// Each primitive that reads or looks, failing once: the reader sees nothing (never a part taken for
// the whole), and the next call, which goes through, sees everything again.
TEST_F(WriteFaults, FailedReadsAndLooksGiveNothingAndLeaveNoTrace) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    State state;
    state.head.reference = L"main";
    ASSERT_TRUE(writeState(state, root.statePath()).hasValue());
    tmp.writeFile("plan.dwg", "drawing");
    const auto listed = [&] {
        ut::Dir dir(tmp.od());
        OdString name;
        return dir.getFirst(&name, OdString(), ut::Dir::kFiles) ? name : OdString();
    };
    struct Row {
        const char* name;
        Call call;
        int error;
        std::function<bool()> sees;  // true when the call's reader saw what is there
    };
    const Row rows[] = {
        {"open for reading", Call::kOpen, EACCES,
         [&] { return !ut::readEntireFile(root.statePath()).isEmpty(); }},
        {"read of lines", Call::kRead, EIO,
         [&] {
             ut::TextFile file(root.statePath());
             return file.open() && !file.getFirstLine().isEmpty();
         }},
        {"read of bytes", Call::kRead, EIO,
         [&] { return ut::readFileBytes(tmp.od("plan.dwg")) == "drawing"; }},
        {"look", Call::kLookAt, EACCES,
         [&] { return ut::FileName(tmp.od("plan.dwg")).exists(ut::FileName::kRegularFile); }},
        {"look for a repository", Call::kLookAt, EACCES,
         [&] { return RootPath::get(tmp.od(), false).hasValue(); }},
        {"list", Call::kList, EIO, [&] { return listed() == OdString(L"plan.dwg"); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ut::sys::failNth(row.call, 1, row.error);
        EXPECT_FALSE(row.sees());
        EXPECT_TRUE(row.sees());
    }
    EXPECT_EQ(namesIn(tmp / ".rvk"), std::vector<std::string>{"rvk.state"});
}

TEST_F(WriteFaults, ReadOnlyFileSystemLetsReadersGoUnlockedButRefusesWriters) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    ut::sys::failNth(Call::kOpen, 1, EROFS);
    EXPECT_TRUE(RepoLock::acquire(root, RepoLock::EMode::shared, std::chrono::seconds(0)));
    ut::sys::failNth(Call::kOpen, 1, EROFS);
    const auto writer =
        RepoLock::acquire(root, RepoLock::EMode::exclusive, std::chrono::seconds(0));
    ASSERT_FALSE(writer.hasValue());
    EXPECT_EQ(writer.error().message,
              L"Unable to lock " + RepoLock::lockPath(root) + L": Read-only file system");
}

}  // namespace

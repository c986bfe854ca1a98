// What only Windows has: the hidden attribute, "\" beside "/", paths beyond MAX_PATH, a replacement
// while someone reads, LockFileEx, and names that are not valid UTF-16.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <common/RootPath.h>
#include <platform/Dir.h>
#include <platform/File.h>
#include <platform/FileLock.h>
#include <platform/FileName.h>
#include <platform/Hidden.h>
#include <platform/SystemFiles.h>
#include <platform/TextFile.h>

#include "TestSupport.h"

namespace {

using testing_support::TempDir;
namespace fs = std::filesystem;

std::wstring wide(const OdString& s) {
    return std::wstring(s.c_str(), static_cast<std::size_t>(s.getLength()));
}

TEST(WindowsFiles, ANewRepositoryFolderIsHiddenByItsAttribute) {
    TempDir tmp;
    const auto root = common::RootPath::get(tmp.od(), true);
    ASSERT_TRUE(root.hasValue());
    const DWORD attributes = GetFileAttributesW(wide(root.value().rvkPath()).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(WindowsFiles, BothSlashesSeparateAndTheRepositoryIsFoundThroughEither) {
    TempDir tmp;
    tmp.writeFile("sub/deeper/plan.dwg", "x");
    ASSERT_TRUE(common::RootPath::get(tmp.od(), true).hasValue());
    const struct {
        const wchar_t* relative;
    } rows[] = {{L"\\sub\\deeper"}, {L"/sub/deeper"}, {L"/sub\\deeper/"}};
    for (const auto& row : rows) {
        const auto found = common::RootPath::get(tmp.od() + row.relative, false);
        ASSERT_TRUE(found.hasValue()) << "through " << OdString(row.relative).ansi_str();
        EXPECT_EQ(found.value().path(), tmp.od());
    }
    EXPECT_EQ(ut::FileName(tmp.od() + L"/sub/deeper\\plan.dwg").getExt(), OdString(L"dwg"));
    EXPECT_TRUE(
        ut::FileName(tmp.od() + L"/sub/deeper/plan.dwg").exists(ut::FileName::kRegularFile));
    EXPECT_EQ(ut::FileName::getPathSeparator(), OdString(L"\\"));
}

TEST(WindowsFiles, PathsLongerThanMaxPathAreMadeWrittenListedAndRead) {
    TempDir tmp;
    OdString folder = tmp.od();
    while (folder.getLength() < 2 * MAX_PATH)
        folder += L"\\a-folder-name-of-forty-characters-------";
    const OdString file = folder + L"\\plan.dwg";
    ut::TextFile text(file);
    ASSERT_TRUE(text.create()) << "the folders are made, the file is not there yet";
    text.addLine(L"line");
    ASSERT_TRUE(text.write());
    EXPECT_TRUE(ut::FileName(file).exists(ut::FileName::kRegularFile));
    EXPECT_EQ(ut::readFileBytes(file), "line\n");
    ut::Dir dir(folder);
    OdString name;
    ASSERT_TRUE(dir.getFirst(&name, OdString::kEmpty, ut::Dir::kFiles));
    EXPECT_EQ(name, OdString(L"plan.dwg"));
    ut::DateTime modified;
    EXPECT_TRUE(ut::FileName(file).getTimes(nullptr, &modified, nullptr));
    EXPECT_GT(modified.getTicks(), 0);
}

// Whether the system renames by handle with POSIX semantics (FileRenameInfoEx, Windows 10 1709 and
// later); false, with the system's error, where it says it has no such class of information.
bool posixRenameIsSupported(const TempDir& tmp, DWORD& error) {
    const std::wstring from = wide(tmp.od("probe")), to = wide(tmp.od("probed"));
    tmp.writeFile("probe", "x");
    const HANDLE handle = CreateFileW(from.c_str(), DELETE, FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return true;  // nothing learnt: the test then asks for the replacement
    struct {
        DWORD flags;
        HANDLE root;
        DWORD length;
        WCHAR name[MAX_PATH];
    } info{0x1 | 0x2, nullptr, static_cast<DWORD>(to.size() * sizeof(WCHAR)), {}};
    to.copy(info.name, MAX_PATH - 1);
    const bool renamed = SetFileInformationByHandle(
        handle, static_cast<FILE_INFO_BY_HANDLE_CLASS>(22), &info, sizeof info);
    error = renamed ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    return renamed || (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION &&
                       error != ERROR_NOT_SUPPORTED);
}

TEST(WindowsFiles, AFileIsReplacedWhileAReaderHoldsItOpen) {
    TempDir tmp;
    const OdString path = tmp.od("state");
    ASSERT_TRUE(ut::writeFileAtomically(path, "old", 3));
    ut::File reader(path, ut::File::kRead);
    ASSERT_TRUE(reader.isOpen());
    DWORD error = ERROR_SUCCESS;
    if (!posixRenameIsSupported(tmp, error)) {
        // MoveFileExW cannot replace a file that is open: the write fails and loses nothing.
        EXPECT_FALSE(ut::writeFileAtomically(path, "new!", 4));
        reader.close();
        EXPECT_EQ(ut::readFileBytes(path), "old");
        EXPECT_EQ(ut::removeAbandonedTemporaries(path), 0) << "no temporary is left behind";
        GTEST_SKIP() << "SetFileInformationByHandle(FileRenameInfoEx) fails with error " << error
                     << ": this system has no POSIX-semantics rename, so an open file cannot be "
                        "replaced";
    }
    ASSERT_TRUE(ut::writeFileAtomically(path, "new!", 4)) << "errno " << errno;
    char buffer[8] = {};
    EXPECT_EQ(reader.read(buffer, sizeof buffer), 3u) << "the reader keeps the file it opened";
    EXPECT_EQ(std::string(buffer, 3), "old");
    reader.close();
    EXPECT_EQ(ut::readFileBytes(path), "new!");
    EXPECT_EQ(ut::removeAbandonedTemporaries(path), 0) << "no temporary is left behind";
}

TEST(WindowsFiles, LockFileExKeepsModesApartAndTheHeldLockFileInPlace) {
    TempDir tmp;
    const OdString path = tmp.od("rvk.lock");
    using Mode = ut::FileLock::Mode;
    using Outcome = ut::FileLock::Outcome;
    const struct {
        Mode first, second;
        Outcome expected;
    } rows[] = {
        {Mode::kShared, Mode::kShared, Outcome::kLocked},
        {Mode::kShared, Mode::kExclusive, Outcome::kBusy},
        {Mode::kExclusive, Mode::kShared, Outcome::kBusy},
        {Mode::kExclusive, Mode::kExclusive, Outcome::kBusy},
    };
    for (const auto& row : rows) {
        ut::FileLock held;
        ut::FileLock other;
        ASSERT_EQ(held.tryLock(path, row.first), Outcome::kLocked);
        EXPECT_EQ(other.tryLock(path, row.second), row.expected);
        EXPECT_TRUE(held.isFileAt(path));
        EXPECT_EQ(DeleteFileW(wide(path).c_str()), 0) << "a held lock file cannot be removed";
        held.unlock();
        other.unlock();
        ut::FileLock after;
        EXPECT_EQ(after.tryLock(path, Mode::kExclusive), Outcome::kLocked) << "released with it";
    }
}

TEST(WindowsFiles, NamesWithLoneSurrogatesAreListedAndOpenedAsTheyAre) {
    TempDir tmp;
    const std::wstring names[] = {std::wstring(L"a") + wchar_t(0xD800) + L"b.dwg",
                                  std::wstring(L"c") + wchar_t(0xDC80) + L".dwg",
                                  std::wstring(L"pair-") + wchar_t(0xD83D) + wchar_t(0xDCD0)};
    for (const auto& n : names) {
        const std::wstring full = wide(tmp.od()) + L"\\" + n;
        const HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && n != names[2])
            GTEST_SKIP() << "this file system refuses names that are not valid UTF-16 (NTFS takes "
                            "them; Wine keeps names as UTF-8)";
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the system refused a valid name";
        DWORD written = 0;
        WriteFile(h, "12345", 5, &written, nullptr);
        CloseHandle(h);
    }
    ut::Dir dir(tmp.od());
    OdString name;
    int listed = 0;
    for (bool more = dir.getFirst(&name, OdString::kEmpty, ut::Dir::kFiles); more;
         more = dir.getNext(&name)) {
        ++listed;
        EXPECT_NE(std::find(std::begin(names), std::end(names), wide(name)), std::end(names));
        ut::File file(tmp.od() + L"\\" + name, ut::File::kRead);
        EXPECT_TRUE(file.isOpen());
        EXPECT_EQ(file.length(), 5u);
    }
    EXPECT_EQ(listed, 3);
}

}  // namespace

// One mapping of Windows errors to errno for every call, the library's and the host kit's alike: a
// file that another program holds open is EBUSY, which users are told as such, never a refused
// permission.
TEST(WindowsFiles, SystemErrorsMapToOneErrnoEverywhere) {
    const std::pair<DWORD, int> rows[] = {
        {ERROR_FILE_NOT_FOUND, ENOENT},      {ERROR_PATH_NOT_FOUND, ENOENT},
        {ERROR_ACCESS_DENIED, EACCES},       {ERROR_SHARING_VIOLATION, EBUSY},
        {ERROR_LOCK_VIOLATION, EBUSY},       {ERROR_FILE_EXISTS, EEXIST},
        {ERROR_DISK_FULL, ENOSPC},           {ERROR_NOT_SAME_DEVICE, EXDEV},
        {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG}, {ERROR_CANT_RESOLVE_FILENAME, ELOOP},
        {ERROR_DIRECTORY, ENOTDIR},          {ERROR_GEN_FAILURE, EIO},
    };
    for (const auto& [error, expected] : rows)
        EXPECT_EQ(ut::sys::errnoOfSystemError(error), expected) << "error " << error;

    // A file held open without sharing, as a CAD program holds the drawing it shows.
    TempDir tmp;
    const OdString path = tmp.od("site.dwg");
    ASSERT_TRUE(ut::writeFileAtomically(path, "drawing", 7));
    const HANDLE held = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    errno = 0;
    EXPECT_EQ(ut::sys::openForReading(path, ut::sys::Follow::no), ut::sys::kNoHandle);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_FALSE(ut::writeFileAtomically(path, "other", 5));
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(ut::sys::errorText(EBUSY),
              "it is open in another program; close it there and try again");
    CloseHandle(held);
    EXPECT_EQ(ut::readFileBytes(path), "drawing");
}

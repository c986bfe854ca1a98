#include <platform/Dir.h>
#include <platform/File.h>
#include <platform/FileName.h>
#include <platform/Hidden.h>
#include <platform/SystemFiles.h>
#include <platform/TextFile.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "TestSupport.h"

namespace {

using testing_support::readFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

std::vector<std::string> listing(const OdString& folder, int flags, const OdString& filespec = {}) {
    ut::Dir dir(folder);
    std::vector<std::string> names;
    OdString name;
    for (bool more = dir.getFirst(&name, filespec, flags); more; more = dir.getNext(&name)) {
        names.emplace_back(name.ansi_str());
    }
    EXPECT_TRUE(name.isEmpty()) << "a finished listing leaves the name empty";
    return names;
}

TEST(DirListing, SkipsHiddenNamesAndSeparatesFilesFromFolders) {
    TempDir tmp;
    tmp.writeFile("b.dwg");
    tmp.writeFile("a.dwg");
    tmp.writeFile(".hidden");
    tmp.writeFile("sub/x");
    tmp.makeDir(".rvk/properties");
    // Non-ASCII and an undecodable byte, where the file system takes the name that the byte gives
    // (Wine's, on Linux, takes no lone surrogate in a UTF-16 name); else non-ASCII alone.
    std::string other = "\xE5\x9B\xB3 \xFF.dwg";
    tmp.writeFile(other);
    if (std::error_code missing; !fs::exists(tmp / other, missing)) {
        other = "\xE5\x9B\xB3.dwg";
        tmp.writeFile(other);
    }

    EXPECT_EQ(listing(tmp.od(), ut::Dir::kFiles),
              (std::vector<std::string>{"a.dwg", "b.dwg", other}));
    EXPECT_EQ(listing(tmp.od(), ut::Dir::kFolders), (std::vector<std::string>{"sub"}));
    EXPECT_EQ(listing(tmp.od(), ut::Dir::kFiles, OdString(L"*.dwg")).size(), 3u);
    EXPECT_EQ(listing(tmp.od(), ut::Dir::kFiles, OdString(L"a*")),
              (std::vector<std::string>{"a.dwg"}));
}

TEST(DirListing, FolderThatCannotBeReadListsNothing) {
    TempDir tmp;
    EXPECT_TRUE(listing(tmp.od("missing"), ut::Dir::kFiles).empty());
    tmp.writeFile("locked/a");
    fs::permissions(tmp / "locked", fs::perms::none);
    testing_support::asUnprivilegedUser(
        tmp, [&] { EXPECT_TRUE(listing(tmp.od("locked"), ut::Dir::kFiles).empty()); });
}

TEST(DirListing, OnlyFoldersExistAndOnlyAMissingOneUnderAFolderIsCreated) {
    TempDir tmp;
    tmp.makeDir("there");
    tmp.writeFile("plain");
    const struct {
        const char* path;  // nullptr: the empty path
        bool exists, created;
    } cases[] = {{"there", true, false},      {"new", false, true},        {"plain", false, false},
                 {"no/parent", false, false}, {"plain/sub", false, false}, {nullptr, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(empty)");
        const OdString path = c.path ? tmp.od(c.path) : OdString();
        EXPECT_EQ(ut::Dir::exists(path), c.exists);
        EXPECT_EQ(ut::Dir::create(path), c.created);
        EXPECT_EQ(ut::Dir::exists(path), c.exists || c.created);
    }
}

TEST(FileNameParts, ExtensionIsWhatFollowsTheLastDotOfTheLastName) {
    struct Case {
        const wchar_t* path;
        const wchar_t* ext;
    } cases[] = {
        {L"a.dwg", L"dwg"}, {L"dir/a.b.dwg", L"dwg"}, {L".bashrc", L""},
        {L"a.", L""},       {L"dir.v2/plan", L""},    {L"dir.v2/plan.bak", L"bak"},
        {L"plan", L""},     {L"sub/.hidden", L""},    {L"x.DWG", L"DWG"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OdString(c.path).ansi_str());
        const ut::FileName name{OdString(c.path)};
        EXPECT_EQ(name.getExt(), OdString(c.ext));
        EXPECT_EQ(name.hasExt(), *c.ext != 0);
    }
}

TEST(FileNameParts, FullPathCompletesRelativePaths) {
    const OdString full = ut::FileName(testing_support::joinPath({L"rel", L"x"})).getFullPath();
    EXPECT_EQ(full, TempDir::toOd(fs::current_path() / "rel" / "x"));
    EXPECT_EQ(ut::FileName(OdString(L"/abs/x")).getFullPath(), OdString(L"/abs/x"));
}

TEST(FileNameParts, ExistsAnswersOnlyForTheKindsAskedAndDoesNotFollowLinks) {
    TempDir tmp;
    tmp.writeFile("f", "x");
    std::error_code linkError;
    fs::create_directory_symlink(tmp.path(), tmp / "link", linkError);
    // Some systems (Wine) have no links to folders: the other rows still run.
    const bool noLinks = linkError == std::errc::function_not_supported ||
                         linkError == std::errc::operation_not_supported;
    ASSERT_TRUE(!linkError || noLinks) << linkError.message();
    using ut::FileName;
    const struct {
        const char* path;
        int flags;
        bool exists;
    } cases[] = {
        {"f", FileName::kAnyObject, true},       {"f", FileName::kDirectory, false},
        {".", FileName::kAnyObject, true},       {".", FileName::kRegularFile, false},
        {"link", FileName::kSymbolicLink, true}, {"link", FileName::kDirectory, false},
        {"none", FileName::kAnyObject, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path << " " << c.flags);
        if (noLinks && std::string(c.path) == "link")
            continue;
        EXPECT_EQ(FileName(tmp.od(c.path)).exists(c.flags), c.exists);
    }
    EXPECT_FALSE(FileName(OdString()).exists(FileName::kAnyObject));
    if (noLinks)
        GTEST_SKIP() << "links to folders cannot be made here: " << linkError.message();
}

TEST(FileNameParts, TimesAreNanosecondTicksAndZeroForAMissingFile) {
    TempDir tmp;
    tmp.writeFile("f", "x");
    // 2000.1234567 s after the Unix epoch: a time NTFS's 100 ns steps hold exactly too.
    ASSERT_TRUE(testing_support::setModificationTicks(tmp / "f", 2000123456700LL));
    ut::DateTime modified;
    ASSERT_TRUE(ut::FileName(tmp.od("f")).getTimes(nullptr, &modified, nullptr));
    EXPECT_EQ(modified.getTicks(), 2000123456700LL);

    ut::DateTime missing(77);
    EXPECT_FALSE(ut::FileName(tmp.od("none")).getTimes(nullptr, &missing, nullptr));
    EXPECT_EQ(missing.getTicks(), 0);
}

TEST(TextFiles, LinesRoundTripThroughAnAtomicWriteThatMakesTheFolders) {
    TempDir tmp;
    const OdString path = tmp.od("a/b/t.txt");
    ut::TextFile out(path);
    EXPECT_TRUE(out.create());
    out.addLine(OdString(L"first \u00E9"));
    out.addLine(OdString("bad \xFF byte", kCodePageUtf8));
    ASSERT_TRUE(out.write());
    EXPECT_EQ(readFile(tmp / "a" / "b" / "t.txt"), "first \xC3\xA9\nbad \xFF byte\n");
    EXPECT_FALSE(out.create()) << "the file exists now";

    ut::TextFile in(path);
    ASSERT_TRUE(in.open());
    EXPECT_EQ(in.getFirstLine(), OdString(L"first \u00E9"));
    EXPECT_STREQ(in.getNextLine().ansi_str(), "bad \xFF byte");
    EXPECT_TRUE(in.getNextLine().isEmpty());

    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp / "a" / "b"), fs::directory_iterator()), 1);
}

TEST(TextFiles, CarriageReturnsBeforeLineFeedsAreDropped) {
    TempDir tmp;
    tmp.writeFile("crlf", "a\r\nb\r\n\r\nc\rd");
    ut::TextFile in(tmp.od("crlf"));
    ASSERT_TRUE(in.open());
    EXPECT_EQ(in.getFirstLine(), OdString(L"a"));
    EXPECT_EQ(in.getNextLine(), OdString(L"b"));
    EXPECT_EQ(in.getNextLine(), OdString(L""));
    EXPECT_EQ(in.getNextLine(), OdString(L"c\rd"));
    EXPECT_EQ(ut::readEntireFile(tmp.od("crlf")), OdString(L"a\nb\n\nc\rd"));
    EXPECT_TRUE(ut::readEntireFile(tmp.od("missing")).isEmpty());
}

TEST(BinaryFiles, ReadGivesTheWholeContentAndNothingOnceClosedOrMissing) {
    TempDir tmp;
    const std::string content("ab\0cd", 5);
    tmp.writeFile("bin", content);
    ut::File file(tmp.od("bin"), ut::File::kRead);
    ASSERT_TRUE(file.isOpen());
    ASSERT_EQ(file.length(), 5u);
    std::string buffer(8, 'x');
    EXPECT_EQ(file.read(buffer.data(), buffer.size()), 5u);
    EXPECT_EQ(buffer.substr(0, 5), content);
    file.close();
    EXPECT_EQ(file.read(buffer.data(), 1), 0u);

    ut::File missing(tmp.od("none"), ut::File::kRead);
    EXPECT_FALSE(missing.isOpen());
    EXPECT_EQ(missing.length(), 0u);
}

}  // namespace

// The temporary files that the atomic write and the host's copies share: unique names under a
// prefix, gone unless placed, and swept by prefix after a crash, sparing what is asked to be.
TEST(SystemFiles, TemporariesArePlacedOrGoneAndSweptByPrefix) {
    namespace sys = ut::sys;
    TempDir tmp;
    const OdString copy(L".incoming-");
    const OdString cache(L".incoming-stat-cache-");
    {
        sys::TemporaryFile dropped;
        ASSERT_TRUE(dropped.create(tmp.od(), copy));
        ASSERT_TRUE(dropped.writeAll("x", 1));
    }
    EXPECT_TRUE(fs::is_empty(tmp.path())) << "an unplaced temporary file is removed";
    sys::TemporaryFile placed;
    ASSERT_TRUE(placed.create(tmp.od(), copy));
    ASSERT_TRUE(placed.writeAll("content", 7));
    ASSERT_TRUE(placed.placeAs(tmp.od("sub/target"), true));
    EXPECT_EQ(readFile(tmp / "sub" / "target"), "content");

    // What killed writers leave: kept files of both prefixes, beside files of other names.
    for (const OdString& prefix : {copy, cache, copy}) {
        sys::TemporaryFile left;
        ASSERT_TRUE(left.create(tmp.od(), prefix));
        left.close();
        left.keep();
    }
    tmp.writeFile(".incoming", "not ours");
    EXPECT_EQ(sys::removeTemporaries(tmp.od(), copy, cache), 2);
    EXPECT_EQ(sys::removeTemporaries(tmp.od(), copy), 1);
    EXPECT_EQ(sys::removeTemporaries(tmp.od(), copy), 0);
    EXPECT_EQ(readFile(tmp / ".incoming"), "not ours");

    const OdString sep = ut::FileName::getPathSeparator();
    const std::pair<OdString, OdString> folders[] = {
        {L"a" + sep + L"b", L"a"}, {L"b", L"."}, {sep + L"a", sep}, {L"a" + sep + sep, L"a" + sep}};
    for (const auto& [path, folder] : folders)
        EXPECT_EQ(sys::folderOf(path), folder) << path.ansi_str();
    EXPECT_EQ(sys::errorText(EBUSY), "it is open in another program; close it there and try again");
    EXPECT_EQ(sys::errorText(ENOENT), std::strerror(ENOENT));
}

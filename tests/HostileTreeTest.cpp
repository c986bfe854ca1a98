// The working-tree scan: its order and its rules, and trees built to break it (link loops, names no
// one types, paths near the system's limit, a crowded folder, folders it may not read). The scan
// must end, list exactly the files it can reach, and every path it lists must lead to its file.
#include <common/RepoIgnore.h>
#include <common/WorkingTreeScan.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using common::RootPath;
using testing_support::TempDir;
namespace fs = std::filesystem;

enum class Kind { kFile, kLink, kFifo };

// Makes `relative` ('/' between names) below `base` one name at a time with the *at() calls, so
// that paths longer than PATH_MAX can be built; missing folders on the way are created.
void make(const fs::path& base, const std::string& relative, Kind kind = Kind::kFile,
          const char* linkTarget = "") {
    int dir = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0) << base;
    std::size_t start = 0;
    for (auto slash = relative.find('/'); slash != std::string::npos;
         start = slash + 1, slash = relative.find('/', start)) {
        const std::string folder = relative.substr(start, slash - start);
        ::mkdirat(dir, folder.c_str(), 0755);  // already there is fine
        const int next = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        ASSERT_GE(next, 0) << relative;
        dir = next;
    }
    const std::string name = relative.substr(start);
    int made = -1;
    switch (kind) {
        case Kind::kFile:
            made = ::openat(dir, name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (made >= 0)
                made = ::close(made);
            break;
        case Kind::kLink:
            made = ::symlinkat(linkTarget, dir, name.c_str());
            break;
        case Kind::kFifo:
            made = ::mkfifoat(dir, name.c_str(), 0644);
            break;
    }
    ::close(dir);
    ASSERT_EQ(made, 0) << relative;
}

// Paths written with '/' here, joined with the library's separator instead.
std::string withSeparator(std::string path) {
    const std::string sep = ut::FileName::getPathSeparator().ansi_str();
    for (auto at = path.find('/'); at != std::string::npos; at = path.find('/', at + sep.size()))
        path.replace(at, 1, sep);
    return path;
}

// The scan's paths in their narrow form, in order; each must name a regular file.
std::vector<std::string> scanAndFollow(const RootPath& root) {
    const auto files = common::collectRelPaths(root);
    EXPECT_TRUE(files.hasValue());
    std::vector<std::string> paths;
    if (!files.hasValue())
        return paths;
    for (const auto& file : files.value()) {
        paths.emplace_back(file.path.ansi_str());
        EXPECT_FALSE(file.detail || file.secondDetail) << "the scan sets no details";
        struct stat st;
        EXPECT_TRUE(::stat(root.pathTo(file.path).ansi_str(), &st) == 0 && S_ISREG(st.st_mode))
            << "listed path leads nowhere: " << paths.back();
    }
    return paths;
}

struct Case {
    const char* what;
    // Builds the tree below the root and returns what the scan must list, in order.
    std::function<std::vector<std::string>(const fs::path& root)> build;
};

const Case kCases[] = {
    {"an empty tree without a properties folder",
     [](const fs::path&) -> std::vector<std::string> { return {}; }},
    {"links: loops, a link to a folder, a dangling link and a link cycle",
     [](const fs::path& root) -> std::vector<std::string> {
         make(root, "plan.dwg");
         make(root, "sub/a.dwg");
         make(root, "sub/up", Kind::kLink, "..");
         make(root, "sub/self", Kind::kLink, ".");
         make(root, "sublink", Kind::kLink, "sub");
         make(root, "ping", Kind::kLink, "pong");
         make(root, "pong", Kind::kLink, "ping");
         make(root, "dangling", Kind::kLink, "missing.dwg");
         make(root, "alias.dwg", Kind::kLink, "plan.dwg");  // a link is never followed
         return {"plan.dwg", "sub/a.dwg"};
     }},
    {"names with line breaks, backslashes, undecodable bytes and 255 bytes; a FIFO",
     [](const fs::path& root) -> std::vector<std::string> {
         const std::string longest = std::string(NAME_MAX - 4, 'n') + ".dwg";
         const std::string longFolder(NAME_MAX, 'f');
         // clang-format off
         const std::vector<std::string> names = {
             "l\nb.dwg", "b\\s.dwg", "\xFF\xFE.dwg", "t\tb.dwg", " ", longest,
             "\xC3\xBC/\xE5\x9B\xB3.dwg", longFolder + "/" + longest, "x.bak", "a\nb.bak"};
         // clang-format on
         for (const std::string& name : names)
             make(root, name);
         make(root, "pipe.dwg", Kind::kFifo);  // never opened, so the scan cannot block on it
         // The built-in rules end in '$' and their '.' stops at a line break, so a name with one
         // is not taken for a backup file.
         // clang-format off
         return {" ", "a\nb.bak", "b\\s.dwg", "l\nb.dwg", longest, "t\tb.dwg", "\xFF\xFE.dwg",
                 longFolder + "/" + longest, "\xC3\xBC/\xE5\x9B\xB3.dwg"};
         // clang-format on
     }},
    {"paths just under PATH_MAX are listed, a folder beyond it cannot be opened",
     [](const fs::path& root) -> std::vector<std::string> {
         const std::string folder(200, 'd');
         std::string near;
         while (root.native().size() + 1 + near.size() + folder.size() + 1 + 8 < PATH_MAX)
             near += folder + "/";
         make(root, near + "near.dwg");
         make(root, near + folder + "/" + folder + "/far.dwg");
         return {near + "near.dwg"};
     }},
    {"byte order where names share their first bytes, or are the start of one another",
     [](const fs::path& root) -> std::vector<std::string> {
         // clang-format off
         const std::vector<std::string> sorted = {
             "abcdefg", "abcdefgA", "abcdefgh", "abcdefgh1", "abcdefgh\xC3\xA9", "b1234567z",
             "b2234567a", "plan-0001-level-2", "plan-0001-level-\xE2\x82\xAC"};
         // clang-format on
         for (auto name = sorted.rbegin(); name != sorted.rend(); ++name)
             make(root, *name);
         return sorted;
     }},
    {"ten thousand files in one folder",
     [](const fs::path& root) -> std::vector<std::string> {
         std::vector<std::string> listed;
         char name[32];
         for (int i = 0; i < 10000; ++i) {
             std::snprintf(name, sizeof name, "many/f%05d.dwg", i);
             make(root, name);
             listed.emplace_back(name);
         }
         return listed;
     }},
};

TEST(WorkingTreeScan, FilesBeforeSubfoldersDepthFirstThenTheProperties) {
    // clang-format off
    const std::vector<std::string> tree = {
        "b.dwg", "a.dwg", "drawing.bak", "drawing.dwl", ".hidden", "a/z.dwg", "a/b/c.dwg",
        "a/b/drawing.dwl2", "old.bak/plan.dwg", "sub/a.dwg", ".rvk/rvk.state", ".rvk/rvk.db",
        ".rvk/tf/plan.tf", ".rvk/properties/x", ".rvk/properties/sub/y", ".rvk/properties/z.bak"};
    // clang-format on
    const struct {
        const char* ignoreFile;  // nullptr: written by RepoIgnore::write
        std::vector<std::string> listed;
    } cases[] = {
        {nullptr,
         {"a.dwg", "b.dwg", "a/z.dwg", "a/b/c.dwg", "sub/a.dwg", ".rvk/properties/ignore",
          ".rvk/properties/x", ".rvk/properties/sub/y"}},
        // Rules see bare names, at every depth and in the properties folder alike.
        {"ignore\nsub\na/z\\.dwg\nc\\.dwg\n",
         {"a.dwg", "b.dwg", "drawing.bak", "drawing.dwl", "a/z.dwg", "a/b/drawing.dwl2",
          "old.bak/plan.dwg", ".rvk/properties/x", ".rvk/properties/z.bak"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ignoreFile ? c.ignoreFile : "(built-in rules)");
        TempDir tmp;
        const RootPath root = RootPath::get(tmp.od(), true).value();
        for (const auto& file : tree)
            tmp.writeFile(file, "x");
        if (c.ignoreFile)
            tmp.writeFile(".rvk/properties/ignore", c.ignoreFile);
        else
            ASSERT_TRUE(common::RepoIgnore::write(root).hasValue());
        std::vector<std::string> expected = c.listed;
        std::transform(expected.begin(), expected.end(), expected.begin(), withSeparator);
        EXPECT_EQ(scanAndFollow(root), expected);
    }
}

TEST(HostileTree, ScanEndsAndListsEveryReachableFileOnce) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const RootPath root = RootPath::get(tmp.od(), true).value();
        std::vector<std::string> expected = c.build(tmp.path());
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        std::transform(expected.begin(), expected.end(), expected.begin(), withSeparator);
        EXPECT_EQ(scanAndFollow(root), expected);
    }
}

TEST(HostileTree, FoldersThatCannotBeReadAddNothing) {
    TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    for (const char* file : {"open/a.dwg", "noread/b.dwg", "none/c.dwg", "none/sub/d.dwg"})
        make(tmp.path(), file);
    // Whoever runs the scan, owner or not, may enter "noread" but not list it, and not even
    // enter "none".
    constexpr auto kEnterOnly = fs::perms::owner_write | fs::perms::owner_exec |
                                fs::perms::group_exec | fs::perms::others_exec;
    fs::permissions(tmp / "noread", kEnterOnly);
    fs::permissions(tmp / "none", fs::perms::none);
    testing_support::asUnprivilegedUser(tmp, [&] {
        const auto files = common::collectRelPaths(root);
        ASSERT_TRUE(files.hasValue());
        ASSERT_EQ(files.value().size(), 1u);
        EXPECT_EQ(files.value()[0].path, TempDir::toOd(withSeparator("open/a.dwg")));
    });
}

}  // namespace

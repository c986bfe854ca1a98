#include <common/WorkingTreeScan.h>

#include <common/RepoIgnore.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using common::RepoIgnore;
using common::RootPath;
using testing_support::TempDir;
namespace fs = std::filesystem;

RootPath makeRepository(const TempDir& tmp) {
    auto root = RootPath::get(tmp.od(), true);
    EXPECT_TRUE(root.hasValue());
    return root.value();
}

// The relative paths listed, in order, in their narrow form; the scan sets no details.
std::vector<std::string> scan(const RootPath& root) {
    auto files = common::collectRelPaths(root);
    EXPECT_TRUE(files.hasValue());
    std::vector<std::string> paths;
    if (!files.hasValue())
        return paths;
    for (const auto& file : files.value()) {
        EXPECT_FALSE(file.detail || file.secondDetail);
        paths.emplace_back(file.path.ansi_str());
    }
    return paths;
}

// Relative paths written with "/" here, joined with the library's separator instead.
std::vector<std::string> withSeparator(std::vector<std::string> paths) {
    const std::string sep = ut::FileName::getPathSeparator().ansi_str();
    for (auto& p : paths) {
        for (auto at = p.find('/'); at != std::string::npos; at = p.find('/', at + sep.size()))
            p.replace(at, 1, sep);
    }
    return paths;
}

TEST(WorkingTreeScan, EmptyTreeWithoutPropertiesFolderListsNothing) {
    TempDir tmp;
    EXPECT_TRUE(scan(makeRepository(tmp)).empty());
}

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
        const RootPath root = makeRepository(tmp);
        for (const auto& file : tree)
            tmp.writeFile(file, "x");
        if (c.ignoreFile)
            tmp.writeFile(".rvk/properties/ignore", c.ignoreFile);
        else
            ASSERT_TRUE(RepoIgnore::write(root).hasValue());
        EXPECT_EQ(scan(root), withSeparator(c.listed));
    }
}

TEST(WorkingTreeScan, AwkwardNamesLeadBackToTheirFiles) {
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    // In listing order: files by their bytes, then folders by theirs.
    const std::vector<std::string> files = {
        "with space.dwg", "\xFF.dwg", "dir\xFE/\xE5\x9B\xB3\xE9\x9D\xA2.dwg", "tab\there/x\r.dwg",
        "\xC3\xA9t\xC3\xA9/plan \xC3\xBC.dwg"};
    for (const auto& file : files)
        tmp.writeFile(file, file);  // each file holds its own relative path
    const auto listed = scan(root);
    EXPECT_EQ(listed, withSeparator(files));
    for (const auto& relative : listed) {
        SCOPED_TRACE(relative);
        const OdString full = root.pathTo(OdString(relative.c_str(), kCodePageUtf8));
        EXPECT_EQ(withSeparator({testing_support::readFile(full.ansi_str())}),
                  std::vector<std::string>{relative});
    }
}

TEST(WorkingTreeScan, LinksAreNotFollowedIntoFoldersSoLoopsEnd) {
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    tmp.writeFile("a/plan.dwg");
    fs::create_directory_symlink(tmp.path(), tmp / "a" / "up");
    fs::create_directory_symlink(tmp / "a", tmp / "a" / "self");
    fs::create_symlink(tmp / "a" / "plan.dwg", tmp / "linked.dwg");
    EXPECT_EQ(scan(root), withSeparator({"linked.dwg", "a/plan.dwg"}));
}

TEST(WorkingTreeScan, UnreadableFolderAddsNothing) {
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    tmp.writeFile("locked/hidden.dwg");
    tmp.writeFile("open/seen.dwg");
    fs::permissions(tmp / "locked", fs::perms::none);
    testing_support::asUnprivilegedUser(
        tmp, [&] { EXPECT_EQ(scan(root), withSeparator({"open/seen.dwg"})); });
}

// An independent listing of the same tree with the same filtering: hidden names and names ending
// in ".bak", ".dwl" or ".dwl2" (files skipped, folders not entered).
std::set<std::string> referenceListing(const fs::path& top) {
    const auto ignored = [](const std::string& name) {
        for (const char* ext : {".bak", ".dwl", ".dwl2"}) {
            const std::string e(ext);
            if (name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0)
                return true;
        }
        return name[0] == '.';
    };
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator();
         ++it) {
        if (ignored(it->path().filename().string())) {
            it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            out.insert(withSeparator({fs::relative(it->path(), top).string()})[0]);
        }
    }
    return out;
}

TEST(WorkingTreeScan, MatchesAnIndependentListingOfAGeneratedTree) {
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    const char* const exts[] = {".dwg", ".dxf", ".bak", ".dwl", ".dwl2", ".pdf", ""};
    std::mt19937 random(11);
    std::vector<fs::path> folders = {tmp.path()};
    for (int f = 1; f < 300; ++f) {
        const fs::path parent = folders[random() % folders.size()];
        folders.push_back(parent / ((f % 53 == 0 ? ".folder " : "folder ") + std::to_string(f) +
                                    (f % 37 == 0 ? ".bak" : "")));
        fs::create_directory(folders.back());
    }
    for (int i = 0; i < 3000; ++i) {
        const fs::path& folder = folders[static_cast<std::size_t>(i * 31 % 300)];
        const std::string name = (i % 97 == 0 ? ".n" : "n") + std::to_string(i) + exts[i % 7];
        std::ofstream(folder / name) << i;
    }
    std::set<std::string> expected = referenceListing(tmp.path());
    ASSERT_GT(expected.size(), 1000u);

    const auto listed = scan(root);
    EXPECT_EQ(listed.size(), expected.size()) << "no file is listed twice";
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
}

}  // namespace

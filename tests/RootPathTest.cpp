#include <common/RootPath.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using common::RootPath;
using testing_support::joinPath;
using testing_support::TempDir;
namespace fs = std::filesystem;

const OdString kSep = ut::FileName::getPathSeparator();

TEST(RepositoryRoot, FindsTheNearestEnclosingRepository) {
    TempDir tmp;
    tmp.makeDir("outer/.rvk");
    tmp.makeDir("outer/a/b/c");
    tmp.makeDir("outer/inner/.rvk");
    tmp.makeDir("outer/inner/d");
    const struct {
        const char* start;
        const char* root;
    } cases[] = {
        {"outer", "outer"},
        {"outer/a/b/c", "outer"},
        {"outer/inner", "outer/inner"},
        {"outer/inner/d", "outer/inner"},
        {"outer/", "outer"},  // trailing separators are stripped
        {"outer///", "outer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        for (bool create : {false, true}) {
            auto found = RootPath::get(tmp.od(c.start), create);
            ASSERT_TRUE(found.hasValue());
            EXPECT_EQ(found.value().path(), tmp.od(c.root));
            EXPECT_EQ(found.value().statePath(),
                      joinPath({tmp.od(c.root).c_str(), L".rvk", L"rvk.state"}));
        }
    }
    // Only a folder that holds ".rvk" itself holds a repository, whatever its parents hold.
    const std::pair<const char*, bool> holds[] = {
        {"outer", true}, {"outer/a", false}, {"outer/inner", true}, {"missing", false}};
    for (const auto& [folder, expected] : holds)
        EXPECT_EQ(RootPath::holdsRepository(tmp.od(folder)), expected) << folder;
    // Asking to create inside a repository created nothing.
    EXPECT_FALSE(fs::exists(tmp / "outer/a/b/c/.rvk"));
    EXPECT_FALSE(fs::exists(tmp / "outer/inner/d/.rvk"));
}

TEST(RepositoryRoot, OutsideAnyRepositoryOneIsCreatedOnlyWhenAskedAndPossible) {
    TempDir tmp;
    tmp.makeDir("plain/sub");
    const struct {
        const char* start;  // nullptr: the empty path
        bool create;
        const wchar_t* error;  // followed by the start; nullptr: created there
    } cases[] = {
        {"plain/sub", false, L"Path: %ls is not a rvk directory."},
        {"missing/deeper", false, L"Path: %ls is not a rvk directory."},
        {"missing/deeper", true, L"Not able to create a rvk directory in %ls"},
        {nullptr, true, L"Not able to create a rvk directory in %ls"},
        {"plain/sub/", true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.start ? c.start : "(empty)") << " " << c.create);
        const OdString start = c.start ? tmp.od(c.start) : OdString();
        const auto root = RootPath::get(start, c.create);
        ASSERT_EQ(root.hasValue(), c.error == nullptr);
        if (c.error) {
            EXPECT_EQ(root.error().message, OdString().format(c.error, start.c_str()));
        } else {
            EXPECT_EQ(root.value().path(), tmp.od("plain/sub"));
        }
    }
    EXPECT_TRUE(fs::is_directory(tmp / "plain/sub/.rvk"));
    EXPECT_FALSE(fs::exists(tmp / "plain/.rvk"));
    EXPECT_FALSE(fs::exists(tmp / "missing"));
}

TEST(RepositoryRoot, EveryRepositoryPathIsComposedUnderTheRoot) {
    TempDir tmp;
    tmp.makeDir("r/.rvk");
    const RootPath root = RootPath::get(tmp.od("r"), false).value();
    const OdString r = tmp.od("r");
    EXPECT_EQ(root.rvkPath(), joinPath({r.c_str(), L".rvk"}));
    EXPECT_EQ(RootPath::rvkPath(OdString(L"x")), joinPath({L"x", L".rvk"}));
    EXPECT_EQ(root.statePath(), joinPath({r.c_str(), L".rvk", L"rvk.state"}));
    EXPECT_EQ(root.dbPath(), joinPath({r.c_str(), L".rvk", L"rvk.db"}));
    EXPECT_EQ(root.propertiesPath(), joinPath({r.c_str(), L".rvk", L"properties"}));
    EXPECT_EQ(root.ignorePath(), joinPath({r.c_str(), L".rvk", L"properties", L"ignore"}));
    EXPECT_EQ(root.lockPath(), joinPath({r.c_str(), L".rvk", L"rvk.lock"}));
    EXPECT_EQ(root.drawingStorePath(), joinPath({r.c_str(), L".rvk", L"tf"}));
    EXPECT_EQ(root.objectStorePath(), joinPath({r.c_str(), L".rvk", L"objects"}));
    EXPECT_EQ(root.statCachePath(), joinPath({r.c_str(), L".rvk", L"stat-cache"}));
    EXPECT_EQ(joinPath({r.c_str(), RootPath::repositoryDirName().c_str(),
                        RootPath::propertiesDirName().c_str()}),
              root.propertiesPath());
    EXPECT_EQ(root.pathTo(joinPath({L"a", L"b.dwg"})), joinPath({r.c_str(), L"a", L"b.dwg"}));
    EXPECT_EQ(root.pathTo(OdString()), r + kSep);
    EXPECT_EQ(common::repositoryExt(), OdString(L"tf"));

    RootPath moved = std::move(RootPath(root));
    EXPECT_EQ(moved.path(), r);
}

TEST(RepositoryRoot, OnlyPathsBelowTheRootHaveARelativePath) {
    TempDir tmp;
    tmp.makeDir("proj/.rvk");
    const RootPath root = RootPath::get(tmp.od("proj"), false).value();
    const OdString r = tmp.od("proj");
    const struct {
        OdString full;
        bool ok;
        OdString relative;
    } cases[] = {
        {joinPath({r.c_str(), L"a", L"b.dwg"}), true, joinPath({L"a", L"b.dwg"})},
        {r + kSep, true, OdString()},
        {r, false, {}},
        {r + L"2" + kSep + L"x.dwg", false, {}},
        {tmp.od("PROJ/a.dwg"), false, {}},
        {OdString(), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.full.ansi_str());
        auto rel = root.relativePathTo(c.full);
        ASSERT_EQ(rel.hasValue(), c.ok);
        if (c.ok) {
            EXPECT_EQ(rel.value(), c.relative);
        } else {
            EXPECT_EQ(rel.error().message, c.full + L" is not located in the current repository");
        }
    }
}

}  // namespace

// Links the shared library only and uses nothing but its exported interface, one call per exported
// family: a symbol missing from the export list fails this program's link.
#include <common/Cache.h>
#include <common/ContentHash.h>
#include <common/FileRecords.h>
#include <common/FileStorage.h>
#include <common/JsonAccess.h>
#include <common/RepoIgnore.h>
#include <common/RootPath.h>
#include <common/StagingExplorer.h>
#include <common/StoragePaths.h>
#include <common/WorkingTreeScan.h>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

using namespace common;

TEST(SharedLibrary, EveryExportedFamilyLinks) {
    testing_support::TempDir tmp;
    tmp.writeFile("a.dwg", "x");
    testing_support::RecordingIo io;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    ASSERT_TRUE(RepoIgnore::write(root).hasValue());
    EXPECT_FALSE(RepoIgnore(root).accept(OdString(L"a.bak")));

    const auto files = collectRelPaths(root);
    ASSERT_TRUE(files.hasValue());
    EXPECT_EQ(files.value().size(), 2u);  // a.dwg and the ignore file

    {
        Expected<Cache> cache = Cache::get(root, true, io);
        ASSERT_TRUE(cache.hasValue());
        Transaction t = cache.value().getTransaction();
        cache.value().write().stagedFiles.emplace_back(L"a.dwg", EFileChange::added);
        t.commit();
    }
    EXPECT_EQ(io.reports, (std::vector<OdString>{L"ok", L"ok"}));
    EXPECT_EQ(Cache::get(root, false, io).value().read().stagedFiles.size(), 1u);
    EXPECT_EQ(toString(toEFileChange(OdString(L"removed")).value()).value(), OdString(L"removed"));

    RepoChanges changes;
    changes.untracked = files.value();
    RepoFileExplorer explorer(changes, root);
    EXPECT_EQ(explorer.findForStaging(OdString(L"a")).which(), 0);
    EXPECT_TRUE(explorer.stage(StagedFile(L"a.dwg", EFileChange::added)));
    EXPECT_TRUE(explorer.stagedFiles().hasValue());

    EXPECT_EQ(generateSha(OdString(L"abc")),
              OdString(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    ContentDigest digest;
    digest.update("ab", 2);
    digest.update("c", 1);
    EXPECT_EQ(digest.hexDigest(), generateSha(OdString(L"abc")));
    EXPECT_TRUE(isModified(OdString(L"a.dwg"), OdString(L"tf:a#1"), root).hasValue());
    EXPECT_EQ(getRevision(OdString(L"tf:a#7")).value(), OdString(L"7"));
    EXPECT_TRUE(getStoragePath(root, OdString(L"po0")).hasValue());
    EXPECT_EQ(urlToType(OdString(L"tf:a#1")), FileStorage::Drawing);
    EXPECT_EQ(fileToType(OdString(L"a.txt")), FileStorage::Generic);
    testing_support::RecordingStorage storage(ErrorMessage{OdString(L"merged"), 0});
    EXPECT_EQ(storage.merge(L"a", L"b", L"c", L"d", root, io).error().message, OdString(L"merged"));

    Object object;
    object.emplace(L"k", Value(std::uint64_t{5}));
    EXPECT_EQ(getIntValue(object, L"k", L""), 5);
    EXPECT_THROW(getValue(object, L"missing", L""), JsonParseError);
    EXPECT_EQ(common::toString(corekit::json::null_type), OdString(L"null"));
}

}  // namespace

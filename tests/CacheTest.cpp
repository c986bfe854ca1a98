#include <common/Cache.h>

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"

namespace {

using namespace common;
using testing_support::readFile;
using testing_support::RecordingIo;
using testing_support::TempDir;
namespace fs = std::filesystem;

class CacheLifeCycle : public ::testing::Test {
protected:
    CacheLifeCycle() : root(RootPath::get(tmp.od(), true).value()) {}

    std::string stateText() const { return readFile(tmp / ".rvk" / "rvk.state"); }
    void storeState(const std::string& text) const { tmp.writeFile(".rvk/rvk.state", text); }
    // Writes a state with one staged file and returns its text.
    std::string seed() const {
        storeState(
            R"({"head":{"reference":"dev"},"staged_files":[{"path":"a","file_change":"added"}]})");
        return stateText();
    }

    TempDir tmp;
    RootPath root;
    RecordingIo io;
};

TEST_F(CacheLifeCycle, StateThatCannotBeLoadedIsAnErrorAndIsLeftAsItIs) {
    const struct {
        const char* text;  // nullptr: no state file
        bool create;
        OdString error;
    } cases[] = {
        {nullptr, false, L"No state file found at " + ut::FileName(root.statePath()).getFullPath()},
        {"not json", true, L"Unable to parse json, please check if syntax is valid"},
        {R"({"head":{"reference":7}})", false,
         L"Error:\tExpected json type 'string', found 'int'\njson key:\t\"reference\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(no file)");
        if (c.text)
            storeState(c.text);
        const Expected<Cache> cache = Cache::get(root, c.create, io);
        ASSERT_FALSE(cache.hasValue());
        EXPECT_EQ(cache.error().message, c.error);
        if (c.text)
            EXPECT_EQ(stateText(), c.text);
        else
            EXPECT_FALSE(fs::exists(tmp / ".rvk" / "rvk.state"));
    }
    EXPECT_TRUE(io.reports.empty());
}

TEST_F(CacheLifeCycle, CreationWritesAtOnceAndAgainAtTheEnd) {
    {
        Expected<Cache> cache = Cache::get(root, true, io);
        ASSERT_TRUE(cache.hasValue());
        EXPECT_EQ(io.reports, std::vector<OdString>{L"ok"});
        EXPECT_EQ(stateText(),
                  "{\n    \"head\" : {\n        \"reference\" : \"master\"\n    }\n}\n");
        EXPECT_EQ(cache.value().read().head.reference, OdString(L"master"));
        fs::remove(tmp / ".rvk" / "rvk.state");
    }
    EXPECT_EQ(io.reports, (std::vector<OdString>{L"ok", L"ok"}));
    EXPECT_TRUE(fs::exists(tmp / ".rvk" / "rvk.state"));
}

TEST_F(CacheLifeCycle, CreationWithoutRepositoryDirectoryReportsBothFailures) {
    fs::remove_all(tmp / ".rvk");
    const OdString full = ut::FileName(root.statePath()).getFullPath();
    {
        Expected<Cache> cache = Cache::get(root, true, io);
        ASSERT_TRUE(cache.hasValue());
        EXPECT_EQ(cache.value().read().head.reference, OdString(L"master"));
    }
    const OdString failure = L"Error writing to file '" + full + L"'";
    EXPECT_EQ(io.reports, (std::vector<OdString>{failure, failure}));
}

TEST_F(CacheLifeCycle, OnlyChangesAreWrittenBack) {
    const std::string original = seed();
    for (bool create : {false, true}) {
        Expected<Cache> cache = Cache::get(root, create, io);
        ASSERT_TRUE(cache.hasValue());
        EXPECT_EQ(cache.value().read().stagedFiles.size(), 1u);
        EXPECT_EQ(cache.value().read().head.reference, OdString(L"dev"));
    }
    EXPECT_TRUE(io.reports.empty()) << "reading alone writes nothing";
    EXPECT_EQ(stateText(), original);

    { Cache::get(root, false, io).value().write(); }
    EXPECT_EQ(io.reports, std::vector<OdString>{L"ok"}) << "write() without change still writes";
    EXPECT_NE(stateText(), original) << "the file is rewritten in the writer's layout";
}

TEST_F(CacheLifeCycle, TransactionsRollBackUnlessCommitted) {
    seed();
    {
        Expected<Cache> cache = Cache::get(root, false, io);
        Cache& c = cache.value();
        {
            Transaction outer = c.getTransaction();
            c.write().head.reference = L"kept";
            outer.commit();
            {
                Transaction inner = c.getTransaction();
                c.write().stagedFiles.clear();
                c.write().renames[L"n"] = L"p";
            }  // not committed: the inner changes go
            EXPECT_EQ(c.read().stagedFiles.size(), 1u);
            EXPECT_TRUE(c.read().renames.empty());
        }
        EXPECT_EQ(c.read().head.reference, OdString(L"kept"));
        EXPECT_TRUE(io.reports.empty());
    }
    EXPECT_EQ(io.reports, std::vector<OdString>{L"ok"});
    const State written = Cache::get(root, false, io).value().read();
    EXPECT_EQ(written.head.reference, OdString(L"kept"));
    EXPECT_EQ(written.stagedFiles.size(), 1u);
}

TEST_F(CacheLifeCycle, AbandonedTransactionWritesEvenWithoutChange) {
    seed();
    {
        Expected<Cache> cache = Cache::get(root, false, io);
        { Transaction t = cache.value().getTransaction(); }
    }
    EXPECT_EQ(io.reports, std::vector<OdString>{L"ok"});

    io.reports.clear();
    {
        Expected<Cache> cache = Cache::get(root, false, io);
        Transaction t = cache.value().getTransaction();
        EXPECT_EQ(cache.value().read().head.reference, OdString(L"dev"));
        t.commit();
    }
    EXPECT_TRUE(io.reports.empty()) << "a committed read-only transaction writes nothing";
}

TEST_F(CacheLifeCycle, MovedFromCacheNeverWritesAndCopiesWriteTheirOwn) {
    seed();
    {
        Expected<Cache> cache = Cache::get(root, false, io);
        cache.value().write().head.reference = L"moved";
        Cache taken(std::move(cache.value()));
        Cache copy(taken);
        copy.write().head.reference = L"copy";
    }
    // The copy ends first and writes "copy"; then the moved-to Cache writes "moved"; the moved-from
    // one, holding an emptied state, writes nothing.
    EXPECT_EQ(io.reports, (std::vector<OdString>{L"ok", L"ok"}));
    EXPECT_EQ(Cache::get(root, false, io).value().read().head.reference, OdString(L"moved"));
}

}  // namespace

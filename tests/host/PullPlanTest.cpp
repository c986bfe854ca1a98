// How a pull plans the update of the working tree: which files it removes and writes, which
// folders must go first, and what stops it before HEAD moves.
#include <algorithm>
#include <string>
#include <vector>

#include <common/ContentHash.h>
#include <gtest/gtest.h>

#include <client/store/Database.h>
#include <client/shared/PullPlan.h>
#include "TestSupport.h"

namespace {

using client::Database;
using testing_support::TempDir;

std::string narrow(const OdString& text) {
    return std::string(text.ansi_str(), text.ansiLength());
}

// The URL an object of `content` gets: generic copies carry their digest, so the plan needs no
// record of them.
OdString urlOf(const std::string& content) {
    common::ContentDigest sha;
    sha.update(content.data(), content.size());
    return OdString(L"po") + sha.hexDigest();
}

// Paths are written with '/' here and turned into the system's form.
OdString local(std::string path) {
    const std::string separator = narrow(ut::FileName::getPathSeparator());
    for (char& c : path) {
        if (c == '/')
            c = separator[0];
    }
    return OdString(path.c_str(), kCodePageUtf8);
}

std::vector<std::string> shown(const std::vector<OdString>& paths) {
    std::vector<std::string> out;
    for (const OdString& p : paths)
        out.push_back(narrow(p));
    return out;
}

struct PlanCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> before, after, working;  // path, content
    std::vector<std::string> folders;  // made in the working tree besides the files' own
    std::vector<std::string> removing, emptied, writing, conflicts, blocked;
};

// A case is shown by its name, in the test's name as in its failures.
void PrintTo(const PlanCase& c, std::ostream* out) {
    *out << c.name;
}

class PullPlanning : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PullPlanning, SortsEveryChangedPathBeforeAnythingIsWritten) {
    const PlanCase& c = GetParam();
    TempDir tmp;
    const auto root = common::RootPath::get(tmp.od(), true).value();
    auto db = Database::create(root.dbPath());
    ASSERT_TRUE(db.hasValue());
    const auto files = [](const std::vector<std::pair<std::string, std::string>>& rows) {
        client::TrackedFiles tracked;
        for (const auto& [path, content] : rows)
            tracked[local(path)] = urlOf(content);
        return tracked;
    };
    for (const auto& [path, content] : c.working)
        tmp.writeFile(path, content);
    for (const std::string& folder : c.folders)
        tmp.makeDir(folder);

    const auto plan = client::planPull(db.value(), root, files(c.before), files(c.after), {});
    ASSERT_TRUE(plan.hasValue()) << narrow(plan.error().message);
    const auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto expected = [&](std::vector<std::string> v) {
        for (std::string& p : v)
            p = narrow(local(p));
        return sorted(v);
    };
    std::vector<OdString> writing, blocked;
    for (const client::Restoring& r : plan.value().writing)
        writing.push_back(r.path);
    for (const client::Blocked& b : plan.value().blocked)
        blocked.push_back(b.path);
    EXPECT_EQ(sorted(shown(plan.value().removing)), expected(c.removing));
    EXPECT_EQ(shown(plan.value().folders), [&] {
        std::vector<std::string> v;
        for (const std::string& p : c.emptied)
            v.push_back(narrow(local(p)));
        return v;
    }()) << "emptied folders, deepest first";
    EXPECT_EQ(sorted(shown(writing)), expected(c.writing));
    EXPECT_EQ(sorted(shown(plan.value().conflicts)), expected(c.conflicts));
    EXPECT_EQ(sorted(shown(blocked)), expected(c.blocked));
}

const std::string kLongName(300, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, PullPlanning,
    ::testing::Values(
        PlanCase{"FileBecomesFolder", {{"docs", "a"}}, {{"docs/readme.txt", "b"}}, {{"docs", "a"}},
                 {}, {"docs"}, {}, {"docs/readme.txt"}, {}, {}},
        PlanCase{"FolderBecomesFile", {{"docs/readme.txt", "a"}, {"docs/sub/x", "x"}},
                 {{"docs", "b"}}, {{"docs/readme.txt", "a"}, {"docs/sub/x", "x"}}, {},
                 {"docs/readme.txt", "docs/sub/x"}, {"docs/sub", "docs"}, {"docs"}, {}, {}},
        PlanCase{"FolderHoldingAnUntrackedFileStaysInTheWay", {{"docs/readme.txt", "a"}},
                 {{"docs", "b"}}, {{"docs/readme.txt", "a"}, {"docs/mine.txt", "m"}}, {},
                 {"docs/readme.txt"}, {}, {"docs"}, {}, {"docs"}},
        PlanCase{"UntrackedFileInTheWayOfAFolder", {}, {{"details/a.txt", "a"}},
                 {{"details", "mine"}}, {}, {}, {}, {"details/a.txt"}, {}, {"details/a.txt"}},
        PlanCase{"FileChangedHereIsAConflict", {{"a.txt", "1"}, {"b.txt", "1"}},
                 {{"a.txt", "2"}, {"b.txt", "2"}}, {{"a.txt", "mine"}, {"b.txt", "1"}}, {}, {}, {},
                 {"b.txt"}, {"a.txt"}, {}},
        PlanCase{"FileAlreadyAsTheServerHasItIsLeftAlone", {{"a.txt", "1"}}, {{"a.txt", "2"}},
                 {{"a.txt", "2"}}, {}, {}, {}, {}, {}, {}},
        PlanCase{"RemovedHereAndThereIsNoChange", {{"a.txt", "1"}}, {}, {}, {}, {}, {}, {}, {}, {}},
        PlanCase{"NameTooLongForThisSystem", {}, {{kLongName, "a"}}, {}, {}, {}, {}, {kLongName},
                 {}, {kLongName}}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

TEST(PullPlanning, FolderClashesNameTheFileThatAFolderNeeds) {
    const OdString url = urlOf("x");
    const struct {
        std::vector<std::string> paths;
        std::vector<std::string> clashes;
    } cases[] = {
        {{"q", "q/r.txt"}, {"q"}},
        {{"a/b", "a/b/c", "a/b/d/e"}, {"a/b"}},
        {{"q", "qa/r.txt", "q.txt"}, {}},
        {{"a/b/c", "a/b/d"}, {}},
    };
    for (const auto& c : cases) {
        client::TrackedFiles files;
        for (const std::string& p : c.paths)
            files[local(p)] = url;
        std::vector<std::string> found;
        for (const client::Blocked& b : client::folderClashes(files))
            found.push_back(narrow(b.path));
        std::vector<std::string> wanted;
        for (const std::string& p : c.clashes)
            wanted.push_back(narrow(local(p)));
        EXPECT_EQ(found, wanted) << c.paths.front();
    }
}

// A file changed both here and on the server is replaced only when the settlement names the very
// bytes it holds (or it is missing), and left alone when the drafter's version is kept.
TEST(PullPlanning, FollowsHowConflictsWereSettled) {
    const auto digest = [](const std::string& content) { return narrow(urlOf(content).mid(2)); };
    const struct {
        const char* name;
        bool present;  // the working file holds "mine"; otherwise it is missing
        bool keeping;
        const char* replacing;  // the bytes set aside, "" for none; no entry when null
        bool written, conflict;
    } cases[] = {
        {"Unsettled", true, false, nullptr, false, true},
        {"TheBytesSetAside", true, false, "mine", true, false},
        {"OtherBytesThanThoseSetAside", true, false, "other", false, true},
        {"NothingSetAsideForAFileThatIsThere", true, false, "", false, true},
        {"NothingSetAsideForAMissingFile", false, false, "", true, false},
        {"Kept", true, true, nullptr, false, false},
    };
    for (const auto& c : cases) {
        TempDir tmp;
        const auto root = common::RootPath::get(tmp.od(), true).value();
        auto db = Database::create(root.dbPath());
        ASSERT_TRUE(db.hasValue());
        if (c.present)
            tmp.writeFile("a.dwg", "mine");
        client::Settled settled;
        if (c.keeping)
            settled.keeping.insert(local("a.dwg"));
        if (c.replacing)
            settled.replacing[local("a.dwg")] = *c.replacing ? digest(c.replacing) : "";
        const client::TrackedFiles before{{local("a.dwg"), urlOf("1")}};
        const client::TrackedFiles after{{local("a.dwg"), urlOf("2")}};
        const auto plan = client::planPull(db.value(), root, before, after, {}, settled);
        ASSERT_TRUE(plan.hasValue()) << c.name;
        EXPECT_EQ(plan.value().writing.size(), c.written ? 1u : 0u) << c.name;
        EXPECT_EQ(plan.value().conflicts.size(), c.conflict ? 1u : 0u) << c.name;
    }
}

// The settlement as rvk.db keeps it comes back as it was, whatever its paths hold; a damaged note
// is refused rather than half read.
TEST(PullPlanning, SettlementNoteRoundTripsAndRefusesDamage) {
    client::Settled settled;
    settled.replacing[local("plan.dwg")] = std::string(64, 'a');
    settled.replacing[local("sub/new\nline: 7 x")] = "";
    settled.keeping.insert(local("notes.txt"));
    settled.keeping.insert(OdString("caf\xc3\xa9 R - 3:x", kCodePageUtf8));
    const auto back = client::parseSettled(client::settledText(settled));
    ASSERT_TRUE(back.hasValue());
    EXPECT_EQ(back.value().replacing, settled.replacing);
    EXPECT_EQ(back.value().keeping, settled.keeping);
    EXPECT_TRUE(client::parseSettled("").hasValue());
    for (const char* damaged : {"R - 9:plan.dwg\n", "R - 8:plan.dwg", "X - 8:plan.dwg\n",
                                "R - x:plan.dwg\n", "R -", "K - :plan.dwg\n"}) {
        EXPECT_FALSE(client::parseSettled(damaged).hasValue()) << damaged;
    }
}

}  // namespace

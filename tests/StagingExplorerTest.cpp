#include <common/StagingExplorer.h>
#include <common/TypedName.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <string>

#include "TestSupport.h"

namespace common {
// Lets gtest print staged files in failure messages.
void PrintTo(const StagedFile& file, std::ostream* os) {
    *os << '(' << file.path.ansi_str() << ", " << static_cast<int>(file.change) << ')';
}
}  // namespace common

namespace {

using common::EFileChange;
using common::RepoChanges;
using common::RepoFile;
using common::RepoFileExplorer;
using common::StagedFile;
using testing_support::joinPath;
using Files = std::vector<StagedFile>;

constexpr auto kMod = EFileChange::modified;
constexpr auto kAdd = EFileChange::added;
const wchar_t kNothingToCommit[] = L"There are no modified or untracked files for commit.";

class StagingExplorer : public ::testing::Test {
protected:
    RepoFileExplorer make(const std::vector<OdString>& modified,
                          const std::vector<OdString>& untracked = {},
                          const std::vector<OdString>& removed = {},
                          const std::vector<OdString>& unchanged = {}) const {
        RepoChanges changes{{L"ignored.dwg"},
                            {},
                            {modified.begin(), modified.end()},
                            {untracked.begin(), untracked.end()},
                            {}};
        for (const OdString& path : removed)
            changes.removed.emplace_back(path, L"po0");
        for (const OdString& path : unchanged)
            changes.unchanged.emplace_back(path, L"po0");
        return RepoFileExplorer(changes, root);
    }

    testing_support::TempDir tmp;
    common::RootPath root = common::RootPath::get(tmp.od(), true).value();
};

TEST_F(StagingExplorer, CandidatesAreModifiedThenUntrackedWithoutChecks) {
    const auto explorer = make({L"b.dwg", L"a.dwg", L"a.dwg", L""}, {L"a.dwg", L"c.dwg"});
    EXPECT_EQ(explorer.possibleStageFiles(), (Files{{L"b.dwg", kMod},
                                                    {L"a.dwg", kMod},
                                                    {L"a.dwg", kMod},
                                                    {L"", kMod},
                                                    {L"a.dwg", kAdd},
                                                    {L"c.dwg", kAdd}}));
    // Without candidates, an empty staging is only an error when nothing was removed either.
    const auto removedOnly = make({}, {}, {L"gone.dwg"}, {L"same.dwg"});
    EXPECT_TRUE(removedOnly.possibleStageFiles().empty());
    EXPECT_FALSE(removedOnly.hasFilesToStage());
    ASSERT_TRUE(removedOnly.stagedFiles().hasValue());
    EXPECT_TRUE(removedOnly.stagedFiles().value().empty());
    EXPECT_EQ(make({}).stagedFiles().error().message, kNothingToCommit);
}

TEST_F(StagingExplorer, StagingTakesTheFirstEqualCandidateAndListsInCandidateOrder) {
    struct Case {
        const char* label;
        Files stageCalls;
        std::vector<bool> results;
        Files staged;  // empty: nothing staged and nothing removed, so the error
        bool filesLeft;
    };
    const Case cases[] = {
        {"nothing staged", {}, {}, {}, true},
        {"later call comes first",
         {{L"c.dwg", kAdd}, {L"a.dwg", kMod}},
         {true, true},
         {{L"a.dwg", kMod}, {L"c.dwg", kAdd}},
         true},
        {"kind must match", {{L"a.dwg", kAdd}, {L"c.dwg", kMod}}, {false, false}, {}, true},
        {"not a candidate", {{L"x.dwg", kMod}, {L"A.dwg", kMod}}, {false, false}, {}, true},
        {"twice", {{L"b.dwg", kAdd}, {L"b.dwg", kAdd}}, {true, false}, {{L"b.dwg", kAdd}}, true},
        {"every candidate",
         {{L"c.dwg", kAdd}, {L"b.dwg", kAdd}, {L"b.dwg", kMod}, {L"a.dwg", kMod}},
         {true, true, true, true},
         {{L"a.dwg", kMod}, {L"b.dwg", kMod}, {L"b.dwg", kAdd}, {L"c.dwg", kAdd}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto explorer = make({L"a.dwg", L"b.dwg"}, {L"b.dwg", L"c.dwg"});
        for (std::size_t i = 0; i < c.stageCalls.size(); ++i)
            EXPECT_EQ(explorer.stage(c.stageCalls[i]), c.results[i]) << "call " << i;
        EXPECT_EQ(explorer.hasFilesToStage(), c.filesLeft);
        const auto staged = explorer.stagedFiles();
        if (c.staged.empty()) {
            ASSERT_FALSE(staged.hasValue());
            EXPECT_EQ(staged.error().message, kNothingToCommit);
            EXPECT_EQ(staged.error().code, 0);
        } else {
            ASSERT_TRUE(staged.hasValue());
            EXPECT_EQ(staged.value(), c.staged);
        }
    }
}

TEST_F(StagingExplorer, FindForStagingMatchesTheEndOfThePathAsAPattern) {
    const OdString subPlan = joinPath({L"sub", L"plan.dwg"});
    const int kNone = -1, kSeveral = -2;
    struct Case {
        OdString name;
        std::vector<OdString> modified, untracked;
        int expected;  // the position of the candidate found, kNone or kSeveral
    };
    const Case cases[] = {
        {L"plan", {subPlan}, {}, 0},
        {L"plan", {}, {joinPath({L"sub", L"myplan.dwg"})}, 0},
        {L"plan", {L"plan.dwg2", L"plan", joinPath({L"sub", L"plan.bak.dwg"})}, {}, 2},
        {L"plan", {L"plan.dwl2"}, {}, kNone},
        {L"plan", {L"plan.dwg", subPlan}, {}, kSeveral},
        {L"plan", {L"plan.dwg"}, {L"plan.dwg"}, kSeveral},
        {L"Plan", {L"plan.dwg"}, {}, kNone},
        {L"plan.dwg", {L"plan.dwg.bak", L"plan.dwgs", L"planXdwg"}, {}, 2},
        {L"pl[ae]n.dwg", {L"plin.dwg", L"plan.dwg"}, {}, 1},
        {L"pl.n.dwg", {L"plan.dwg", L"plen.dwg"}, {}, kSeveral},
        {L"pl.n", {L"plan.dwg"}, {}, kNone},
        {L"plan", {}, {}, kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name.ansi_str() << " #" << (&c - cases));
        auto explorer = make(c.modified, c.untracked);
        const Files candidates = explorer.possibleStageFiles();
        for (const StagedFile& file : candidates)
            explorer.stage(file);  // staged candidates are still found
        const auto result = explorer.findForStaging(c.name);
        ASSERT_EQ(result.which(), c.expected >= 0 ? 0 : c.expected == kNone ? 1 : 2);
        if (c.expected >= 0) {
            EXPECT_EQ(boost::get<StagedFile>(result), candidates[c.expected]);
        } else if (c.expected == kSeveral) {
            const auto& error = boost::get<ErrorMessage>(result);
            EXPECT_EQ(error.message, L"More that one file found with name " + c.name + L".\n");
            EXPECT_EQ(error.code, 0);
        }
    }
}

TEST_F(StagingExplorer, NameThatIsNoPatternThrowsAndChangesNothing) {
    auto explorer = make({L"a.dwg", L"(.dwg"}, {}, {}, {L"(.dwg"});
    ASSERT_TRUE(explorer.stage({L"a.dwg", kMod}));
    // A quantifier right after another ("*.dwg" makes ".**.dwg") is no ECMAScript pattern either,
    // and would otherwise run in time exponential in the path's length.
    for (const wchar_t* name :
         {L"(", L"(.dwg", L"[a", L"a)", L"a{", L"plan\\", L"*.dwg", L"+a", L"a**", L"a{2}+",
          L"a*??", L"a{1234567890,}", L"(a)\\12345678901"}) {
        SCOPED_TRACE(OdString(name).ansi_str());
        EXPECT_THROW(explorer.findForStaging(name), std::regex_error);
        EXPECT_THROW(explorer.findUnchanged(name), std::regex_error);
        EXPECT_EQ(explorer.stagedFiles().value(), (Files{{L"a.dwg", kMod}}));
        EXPECT_TRUE(explorer.hasFilesToStage());
    }
}

TEST_F(StagingExplorer, LazyMarksAndBracketsAreNoRepeatedQuantifiers) {
    EXPECT_EQ(boost::get<StagedFile>(make({L"ab.dwg", L"xy.dwg"}).findForStaging(L"a*?b")).path,
              OdString(L"ab.dwg"));
    const auto explorer = make({L"ab.dwg", L"a*b.dwg"});
    EXPECT_EQ(boost::get<StagedFile>(explorer.findForStaging(L"a[*]b")).path, OdString(L"a*b.dwg"));
    EXPECT_EQ(boost::get<StagedFile>(explorer.findForStaging(L"a\\*b")).path, OdString(L"a*b.dwg"));
}

TEST_F(StagingExplorer, FindUnchangedReturnsTheFirstMatchOrEmpty) {
    const OdString first = joinPath({L"x", L"plan.dwg"});
    const auto explorer = make({L"plan.dwg"}, {L"plan.dwg"}, {},
                               {L"other.dwg", first, joinPath({L"y", L"plan.dwg"})});
    EXPECT_EQ(explorer.findUnchanged(L"plan"), first);
    EXPECT_EQ(explorer.findUnchanged(L"plan.dwg"), first);
    EXPECT_EQ(explorer.findUnchanged(L"Plan"), OdString());
    EXPECT_EQ(make({L"plan.dwg"}).findUnchanged(L"plan"), OdString())
        << "candidates are not searched";
}

TEST_F(StagingExplorer, MovingHandsOverTheStateAndLeavesADestroyableShell) {
    auto source = std::make_unique<RepoFileExplorer>(make({L"a.dwg", L"b.dwg"}));
    ASSERT_TRUE(source->stage({L"b.dwg", kMod}));
    RepoFileExplorer target(std::move(*source));
    source.reset();
    EXPECT_FALSE(target.stage({L"b.dwg", kMod}));
    EXPECT_EQ(target.stagedFiles().value(), (Files{{L"b.dwg", kMod}}));
}

// The staging index must give exactly what the plain walk over the candidates gives, duplicates and
// near misses (same path, other kind) included.
TEST_F(StagingExplorer, StagingIndexAgreesWithALinearWalk) {
    std::mt19937 random(20240611);
    const std::vector<OdString> paths = {L"a.dwg", L"b.dwg", L"a.DWG", L"",
                                         joinPath({L"s", L"a.dwg"})};
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::vector<OdString> modified(pick(8)), untracked(pick(8));
        for (auto* list : {&modified, &untracked})
            for (OdString& path : *list)
                path = paths[pick(paths.size())];
        auto explorer = make(modified, untracked);
        Files candidates;
        for (const OdString& path : modified)
            candidates.emplace_back(path, kMod);
        for (const OdString& path : untracked)
            candidates.emplace_back(path, kAdd);
        std::set<std::size_t> expected;
        for (std::size_t call = pick(20); call > 0; --call) {
            const StagedFile file(paths[pick(paths.size())], pick(2) ? kMod : kAdd);
            const auto first = std::find(candidates.begin(), candidates.end(), file);
            const bool inserted =
                first != candidates.end() && expected.insert(first - candidates.begin()).second;
            ASSERT_EQ(explorer.stage(file), inserted);
        }
        Files staged;
        for (std::size_t position : expected)
            staged.push_back(candidates[position]);
        EXPECT_EQ(explorer.stagedFiles().hasValue(), !staged.empty());
        if (!staged.empty()) {
            EXPECT_EQ(explorer.stagedFiles().value(), staged);
        }
        EXPECT_EQ(explorer.hasFilesToStage(), expected.size() < candidates.size());
    }
}

// The explorer's names match any ending of a path, through the regular expression it composes;
// on generated paths and names, each answer must be the expression's. Plain names, and names
// whose only pattern characters are escaped punctuation, make the shape the literal engine takes,
// which answers from a path's wide elements where it can; the others go to the automaton.
// TypedName, the same name matched against the whole text, is held to the same definition without
// the leading ".*".
TEST(NameSearch, PlainNamesAnswerAsTheComposedRegularExpression) {
    std::mt19937 random(20240611);
    const auto join = [&](const std::vector<std::wstring>& pieces, std::size_t most) {
        std::wstring text;
        for (std::size_t n = random() % (most + 1); n > 0; --n)
            text += pieces[random() % pieces.size()];
        return text;
    };
    const std::wstring nul(1, L'\0'), beyond(1, static_cast<wchar_t>(0x110000));
    const std::vector<std::wstring> prefixes = {
        L"sub/", L"my", L"p", L"\n", L"\r", L"\u00e9", L"\xDCFF", L"\xD800",
        L"@",    L"[",  L"`", L"{",  L" ",  nul,       beyond,    L"$"};
    const std::vector<std::wstring> stems = {L"plan", L"lan", L"a", L"plan.dwg", L"planXdwg", L""};
    const std::vector<std::wstring> tails = {L".dwg", L".bak", L".", L"..", L"2", L".x", L"\n"};
    const std::vector<std::wstring> namePieces = {L"plan", L"lan",    L"a", L"Z",  L".",
                                                  L"..",   L"dwg",    L"/", L"\n", L"\u00e9",
                                                  L"@",    L"\xDCFF", L" "};
    std::vector<OdString> names = {L"",           L"plan",
                                   L"plan.dwg",   L"a.",
                                   L".dwg",       L"pl?n",
                                   L"(plan)",     L"pl[a]n",
                                   L"a|plan",     L"^plan",
                                   L"plan$",      L"p.*n",
                                   L"plan{1}",    OdString(L"pl" + nul + L"an"),
                                   L"plan\\.dwg", L"\\$plan",
                                   L"pl\\-an",    L"p\\(l\\)an",
                                   L"\u00e9.",    L"pl.n\\."};
    for (int i = 0; i < 200; ++i)
        names.emplace_back(join(namePieces, 3));

    const testing_support::TempDir tmp;
    const common::RootPath root = common::RootPath::get(tmp.od(), true).value();
    std::vector<std::unique_ptr<common::TypedName>> typed;
    for (const OdString& name : names) {
        try {
            typed.push_back(std::make_unique<common::TypedName>(name));
        } catch (const std::regex_error&) {
            typed.emplace_back();
        }
    }
    std::size_t matched = 0, matchedWhole = 0;
    for (int i = 0; i < 300; ++i) {
        const OdString path(join(prefixes, 2) + stems[random() % stems.size()] + join(tails, 3));
        RepoChanges changes;
        changes.unchanged.emplace_back(path, L"");
        const RepoFileExplorer explorer(changes, root);
        const std::string subject = ut::encodeUtf8(path.wstr());
        for (std::size_t n = 0; n < names.size(); ++n) {
            const OdString& name = names[n];
            SCOPED_TRACE("path \"" + subject + "\", name \"" + ut::encodeUtf8(name.wstr()) + "\"");
            const std::string whole = ut::encodeUtf8(name.wstr()) +
                                      (ut::FileName(name).hasExt() ? "" : "(\\.[a-zA-Z]+)+");
            std::regex wholeReference;
            try {
                wholeReference.assign(whole, std::regex::ECMAScript);
                ASSERT_TRUE(typed[n]) << "refused a valid name";
                const bool expected = std::regex_match(subject, wholeReference);
                matchedWhole += expected;
                ASSERT_EQ(typed[n]->matches(path), expected);
            } catch (const std::regex_error&) {
                EXPECT_FALSE(typed[n]) << "accepted a name std::regex refuses";
            }
            std::string pattern = ".*" + ut::encodeUtf8(name.wstr());
            if (!ut::FileName(name).hasExt())
                pattern += "(\\.[a-zA-Z]+)+$";
            std::regex reference;
            try {
                reference.assign(pattern, std::regex::ECMAScript);
            } catch (const std::regex_error&) {
                EXPECT_THROW(explorer.findUnchanged(name), std::regex_error);
                continue;
            }
            const bool expected = std::regex_match(subject, reference);
            matched += expected;
            ASSERT_EQ(explorer.findUnchanged(name), expected ? path : OdString());
        }
    }
    EXPECT_GT(matched, 300 * names.size() / 50) << "too few matches to prove anything";
    EXPECT_GT(matchedWhole, 300 * names.size() / 200) << "too few whole matches to prove anything";
}

}  // namespace

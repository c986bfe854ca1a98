// The repository paths that a Windows working tree cannot hold: names that Windows refuses or
// alters, and paths that it takes for one file because they differ only in letter case.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <client/tree/WindowsNames.h>

namespace {

using client::CaseClash;
using client::caseClashes;
using client::windowsFolding;
using client::windowsNameProblem;

struct Refused {
    std::string path;
    std::string reason;
};

TEST(WindowsNames, RefusedNamesAreReportedWithTheirComponent) {
    const std::vector<Refused> table{
        {"CON", R"("CON" is a device name on Windows)"},
        {"con", R"("con" is a device name on Windows)"},
        {"plans/nul.txt", R"("nul.txt" is a device name on Windows)"},
        {"Com1.dwg", R"("Com1.dwg" is a device name on Windows)"},
        {"CON .txt", R"("CON .txt" is a device name on Windows)"},
        {"PRN  ", R"("PRN  " is a device name on Windows)"},
        {"AUX.tar.gz", R"("AUX.tar.gz" is a device name on Windows)"},
        {"aux.", R"("aux." is a device name on Windows)"},
        {"COM9", R"("COM9" is a device name on Windows)"},
        {"lpt1.plt", R"("lpt1.plt" is a device name on Windows)"},
        {"LPT9", R"("LPT9" is a device name on Windows)"},
        {"COM\u00B9", "\"COM\u00B9\" is a device name on Windows"},
        {"lpt\u00B2.dwg", "\"lpt\u00B2.dwg\" is a device name on Windows"},
        {"Com\u00B3", "\"Com\u00B3\" is a device name on Windows"},
        {"CONIN$", R"("CONIN$" is a device name on Windows)"},
        {"conout$.log", R"("conout$.log" is a device name on Windows)"},
        {"NUL/plan.dwg", R"("NUL" is a device name on Windows)"},
        {"x:y", R"("x:y" holds ':', which Windows does not allow in a name)"},
        {"a<b", R"("a<b" holds '<', which Windows does not allow in a name)"},
        {"a>b", R"("a>b" holds '>', which Windows does not allow in a name)"},
        {"say \"hi\"", R"("say "hi"" holds '"', which Windows does not allow in a name)"},
        {"a|b", R"("a|b" holds '|', which Windows does not allow in a name)"},
        {"why?.dwg", R"("why?.dwg" holds '?', which Windows does not allow in a name)"},
        {"plans/*.dwg", R"("*.dwg" holds '*', which Windows does not allow in a name)"},
        {"a\\b", R"("a\b" holds '\', which Windows does not allow in a name)"},
        {"a\x01"
         "b",
         R"("a\x01b" holds the control character \x01, which Windows does not allow in a name)"},
        {"tab\there",
         R"("tab\x09here" holds the control character \x09, which Windows does not allow in a name)"},
        {std::string("nul\0byte", 8),
         R"("nul\x00byte" holds the control character \x00, which Windows does not allow in a name)"},
        {"end\x1f",
         R"("end\x1F" holds the control character \x1F, which Windows does not allow in a name)"},
        {"a.", R"("a." ends in a dot, which Windows drops)"},
        {"plans./a.dwg", R"("plans." ends in a dot, which Windows drops)"},
        {"...", R"("..." ends in a dot, which Windows drops)"},
        {"b ", R"("b " ends in a space, which Windows drops)"},
        {"plans/b .dwg/c ", R"("c " ends in a space, which Windows drops)"},
        {"ok/a./b ", R"("a." ends in a dot, which Windows drops)"},
        {"a:b.", R"("a:b." holds ':', which Windows does not allow in a name)"},
        {"bad\xFF.dwg", R"("bad\xFF.dwg" is not UTF-8, which Windows names cannot hold)"},
        {"over\xC0\xAF", R"("over\xC0\xAF" is not UTF-8, which Windows names cannot hold)"},
        {"half\xED\xA0\x80", R"("half\xED\xA0\x80" is not UTF-8, which Windows names cannot hold)"},
        {"cut\xC3", R"("cut\xC3" is not UTF-8, which Windows names cannot hold)"},
    };
    for (const Refused& row : table) {
        const auto problem = windowsNameProblem(row.path);
        ASSERT_TRUE(problem) << row.path;
        EXPECT_EQ(*problem, row.reason) << row.path;
    }
}

TEST(WindowsNames, NamesThatOnlyLookCloseAreAccepted) {
    const std::vector<std::string> table{"CONSOLE.dwg",
                                         "com10",
                                         "LPT10.plt",
                                         "LPT0",
                                         "COM0.dwg",
                                         "CONIN",
                                         "CONOUT",
                                         "NULL.txt",
                                         "AUXILIARY",
                                         "xCON",
                                         "nul-plan.dwg",
                                         "CON_1.dwg",
                                         "COM1x",
                                         "COM",
                                         "LPT",
                                         "COM\u2074",  // superscript four: no digit to Windows here
                                         "COM\u00BD",  // one half
                                         "a.b",
                                         "plan.v2.final.dwg",
                                         "a..b",
                                         ".rvk/properties/x",
                                         ".hidden",
                                         "a b.dwg",
                                         " leading space",
                                         "Plans/\u00C9tage 1/coupe.dwg",
                                         "\u0427\u0435\u0440\u0442\u0451\u0436.dwg",
                                         "\u03A9mega/\u03C9",
                                         "caf\u00E9/\u65E5\u672C.dwg",
                                         "emoji \U0001F600.dwg",
                                         "a/b/c/d/e.dwg",
                                         "semi;colon,comma+plus=equals[1]{2}(3)#$%&'@^`~!.dwg",
                                         "del\x7F"};
    for (const std::string& path : table) {
        const auto problem = windowsNameProblem(path);
        EXPECT_FALSE(problem) << path << ": " << problem.value_or("");
    }
}

struct ClashCase {
    const char* what;
    std::vector<std::string> paths;
    std::vector<CaseClash> clashes;
};

TEST(CaseClashes, PathsThatWindowsTakesForOneFileAreGrouped) {
    const std::vector<ClashCase> table{
        {"file names", {"a.dwg", "A.DWG"}, {{"A.DWG", {"A.DWG", "a.dwg"}}}},
        {"a folder and a file name",
         {"Plans/a.dwg", "plans/A.dwg", "other.dwg"},
         {{"Plans/a.dwg", {"Plans/a.dwg", "plans/A.dwg"}}}},
        {"only a folder",
         {"Plans/a.dwg", "PLANS/a.dwg"},
         {{"PLANS/a.dwg", {"PLANS/a.dwg", "Plans/a.dwg"}}}},
        {"a file where a folder is needed", {"a", "A/b.dwg"}, {{"A", {"A/b.dwg", "a"}}}},
        {"a file where a folder is needed, spelled alike",
         {"plans/a", "plans/a/b.dwg"},
         {{"plans/a", {"plans/a", "plans/a/b.dwg"}}}},
        {"a file deeper down", {"x/a", "X/A/b/c.dwg"}, {{"X/A", {"X/A/b/c.dwg", "x/a"}}}},
        {"three spellings", {"plan", "PLAN", "Plan"}, {{"PLAN", {"PLAN", "Plan", "plan"}}}},
        {"one path in two clashes",
         {"a", "A/b", "a/B"},
         {{"A", {"A/b", "a", "a/B"}}, {"A/b", {"A/b", "a/B"}}}},
        {"Latin-1",
         {"\u00C9tage.dwg", "\u00E9tage.dwg"},
         {{"\u00C9tage.dwg", {"\u00C9tage.dwg", "\u00E9tage.dwg"}}}},
        {"y with diaeresis", {"\u00FF", "\u0178"}, {{"\u00FF", {"\u00FF", "\u0178"}}}},
        {"Polish letters",
         {"\u0141\u00F3d\u017A", "\u0142\u00D3D\u0179"},
         {{"\u0141\u00F3d\u017A", {"\u0141\u00F3d\u017A", "\u0142\u00D3D\u0179"}}}},
        {"Latin Extended-A, capitals at odd code points",
         {"\u0147", "\u0148"},
         {{"\u0147", {"\u0147", "\u0148"}}}},
        {"Greek", {"\u03A9/x", "\u03C9/x"}, {{"\u03A9/x", {"\u03A9/x", "\u03C9/x"}}}},
        {"Greek with tonos",
         {"\u03AC\u03CE", "\u0386\u038F"},
         {{"\u0386\u038F", {"\u0386\u038F", "\u03AC\u03CE"}}}},
        {"Greek sigmas",
         {"\u03A3", "\u03C3", "\u03C2"},
         {{"\u03A3", {"\u03A3", "\u03C2", "\u03C3"}}}},
        {"Cyrillic folder",
         {"\u0416/a.dwg", "\u0436/A.DWG"},
         {{"\u0416/a.dwg", {"\u0416/a.dwg", "\u0436/A.DWG"}}}},
        {"Cyrillic beyond the basic letters",
         {"\u0451\u045F\u0491", "\u0401\u040F\u0490"},
         {{"\u0401\u040F\u0490", {"\u0401\u040F\u0490", "\u0451\u045F\u0491"}}}},
        {"stray bytes stay, the letters around them fold",
         {"a\xE9", "A\xE9"},
         {{"A\xE9", {"A\xE9", "a\xE9"}}}},
        {"no clash: a longer name", {"a.dwg", "a.dwg.bak", "A.dwg.BAK.old"}, {}},
        {"no clash: one path twice", {"a.dwg", "a.dwg"}, {}},
        {"no clash: two files in one folder spelled two ways", {"Plans/a.dwg", "plans/b.dwg"}, {}},
        {"no clash: a folder name that only starts alike", {"a", "ab/c", "A b/c"}, {}},
        {"sharp s: no clash with SS",
         {"stra\u00DFe", "STRASSE", "STRA\u00DFE"},
         {{"STRA\u00DFE", {"STRA\u00DFE", "stra\u00DFe"}}}},
        {"no clash: dotless i and long s keep their letters", {"\u0131", "I", "\u017F", "S"}, {}},
        {"no clash: micro sign and mu", {"\u00B5m", "\u039Cm"}, {}},
        {"no clash: composed and decomposed accent", {"e\u0301", "\u00E9"}, {}},
        {"no clash: Latin-1 bytes are no letters", {"\xE9", "\xC9"}, {}},
        {"no clash: nothing given", {}, {}},
    };
    for (const ClashCase& row : table) {
        EXPECT_EQ(caseClashes(row.paths), row.clashes) << row.what;
    }
}

// The clashes among `paths` as their definition has them, pair by pair: the paths that fold to
// a place or lie below it, for every place that two or more paths lead to.
std::set<std::vector<std::string>> clashesOneByOne(const std::vector<std::string>& paths) {
    std::set<std::string> distinct(paths.begin(), paths.end());
    std::map<std::string, std::string> folded;
    for (const std::string& path : distinct) {
        folded[path] = windowsFolding(path);
    }
    std::set<std::vector<std::string>> clashes;
    for (const std::string& place : distinct) {
        std::vector<std::string> members;
        for (const std::string& other : distinct) {
            const std::string& key = folded[place];
            const std::string& otherKey = folded[other];
            if (otherKey == key ||
                (otherKey.size() > key.size() && otherKey.compare(0, key.size(), key) == 0 &&
                 otherKey[key.size()] == '/')) {
                members.push_back(other);
            }
        }
        if (members.size() > 1) {
            clashes.insert(members);
        }
    }
    return clashes;
}

TEST(CaseClashes, ManyRandomPathsGroupAsComparingThemPairByPairDoes) {
    const std::vector<std::string> letters{"a",      "A",      "b",      "\u00E9", "\u00C9",
                                           "\u0436", "\u0416", "\u03C9", "\u03A9", "."};
    std::mt19937 random(20261207);
    auto pick = [&](std::size_t below) {
        return std::uniform_int_distribution<std::size_t>(0, below - 1)(random);
    };
    std::vector<std::string> paths;
    for (int i = 0; i < 1500; ++i) {
        std::string path;
        const std::size_t components = 1 + pick(3);
        for (std::size_t c = 0; c < components; ++c) {
            if (c > 0) {
                path += '/';
            }
            for (std::size_t n = 1 + pick(3); n > 0; --n) {
                path += letters[pick(letters.size())];
            }
        }
        paths.push_back(path);
    }
    const auto expected = clashesOneByOne(paths);
    ASSERT_GT(expected.size(), 50u);  // the alphabet is small enough for many

    std::set<std::vector<std::string>> found;
    for (const CaseClash& clash : caseClashes(paths)) {
        // The name is the shared place as the first path spells it.
        const std::string& first = clash.paths.front();
        EXPECT_EQ(first.compare(0, clash.name.size(), clash.name), 0) << clash.name;
        EXPECT_TRUE(first.size() == clash.name.size() || first[clash.name.size()] == '/')
            << clash.name;
        EXPECT_TRUE(std::any_of(clash.paths.begin(), clash.paths.end(), [&](const std::string& p) {
            return windowsFolding(p) == windowsFolding(clash.name);
        })) << clash.name;
        EXPECT_TRUE(found.insert(clash.paths).second) << clash.name;
    }
    EXPECT_EQ(found, expected);
}

TEST(CaseClashes, AHundredThousandPathsAreCheckedAtOnce) {
    // Distinct in every letter case by their numbers; a few are then added again in capitals,
    // and one drawing's folder comes back as a file.
    std::vector<std::string> paths;
    for (int i = 0; i < 100000; ++i) {
        paths.push_back("site" + std::to_string(i % 97) + "/level" + std::to_string(i % 13) +
                        "/drawing" + std::to_string(i) + ".dwg");
    }
    EXPECT_TRUE(caseClashes(paths).empty());

    paths.push_back("site5/LEVEL5/Drawing5.DWG");
    paths.push_back("SITE96/level0/drawing96.dwg.bak");
    paths.push_back("Site7/Level7");
    const std::vector<CaseClash> expected{
        {"Site7/Level7",
         [&] {
             std::vector<std::string> below{"Site7/Level7"};
             for (int i = 0; i < 100000; ++i) {
                 if (i % 97 == 7 && i % 13 == 7) {
                     below.push_back(paths[static_cast<std::size_t>(i)]);
                 }
             }
             std::sort(below.begin(), below.end());
             return below;
         }()},
        {"site5/LEVEL5/Drawing5.DWG", {"site5/LEVEL5/Drawing5.DWG", "site5/level5/drawing5.dwg"}},
    };
    EXPECT_EQ(caseClashes(paths), expected);
}

}  // namespace

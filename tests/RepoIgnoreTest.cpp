#include <common/RepoIgnore.h>
#include <common/internal/Patterns.h>

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using common::RepoIgnore;
using common::RootPath;
using testing_support::joinPath;
using testing_support::readFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

const char* const kIgnoreFile = ".rvk/properties/ignore";
const char* const kBuiltInFile = "^.*\\.bak$\n^.*\\.dwl$\n^.*\\.dwl2$\n";

RootPath makeRepository(const TempDir& tmp) {
    auto root = RootPath::get(tmp.od(), true);
    EXPECT_TRUE(root.hasValue());
    tmp.makeDir(".rvk/properties");
    return root.value();
}

std::vector<std::string> refused(const RepoIgnore& ignore, const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const auto& name : names) {
        if (!ignore.accept(OdString(name.c_str(), kCodePageUtf8)))
            out.push_back(name);
    }
    return out;
}

TEST(IgnoreRules, RuleFileDecidesWhichWholeNamesAreRefused) {
    // clang-format off
    const std::vector<std::string> names = {
        "drawing.bak", "drawing.dwl", "drawing.dwl2", "drawing.dwg", "drawing.BAK",
        "drawing.bak.dwg", "drawing.dwl3", "a.tmp", "a.tmp ", "tmp", "a.bak", "x\n.bak",
        "plan-\xC3\xA9.dwg", " "};
    // clang-format on
    const struct {
        const char* file;  // nullptr: no ignore file
        std::vector<std::string> refused;
    } cases[] = {
        {nullptr, {"drawing.bak", "drawing.dwl", "drawing.dwl2", "a.bak"}},
        {"", {}},
        {"^.*\\.tmp$\n\n^.*\\.bak$\n", {"a.tmp"}},  // reading stops at the empty line
        {"^.*\\.tmp$ \n", {}},  // the trailing space is kept, so nothing can match
        {".*\\.tmp \n", {"a.tmp "}},
        {"tmp\n", {"tmp"}},  // the whole name must match
        {"^.*\\.tmp$\r\n.*\\.bak\r\n", {"drawing.bak", "a.tmp", "a.bak"}},
        {"^.*\\.tmp$", {"a.tmp"}},  // no line ending after the last rule
        {" \n^plan-\xC3\xA9\\.dwg$\n", {"plan-\xC3\xA9.dwg", " "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        TempDir tmp;
        const RootPath root = makeRepository(tmp);
        if (c.file)
            tmp.writeFile(kIgnoreFile, c.file);
        EXPECT_EQ(refused(RepoIgnore(root), names), c.refused);
    }
}

// A refused file names its first bad line, counted from 1, and that line's text; its code() and
// what() are the refusal of that rule alone. Lines after the first empty one are never read.
TEST(IgnoreRules, RefusedFileNamesTheLineAndTheRule) {
    using namespace std::regex_constants;
    const std::string longRule(5000, 'x');
    const struct {
        std::string file;
        std::size_t line;  // 0: no refusal
        std::string rule;
        error_type code;
    } cases[] = {
        {"(\n^.*\\.bak$\n", 1, "(", error_paren},
        {"^.*\\.bak$\n^.*\\.tmp$\na{2,1}\n(\n", 3, "a{2,1}", error_badbrace},
        {"^.*\\.bak$\n.**\\.tmp\n", 2, ".**\\.tmp", error_badrepeat},  // refused on purpose
        {"^.*\\.bak$\n\n([\n", 0, "", {}},
        {"x\r\n[\r\n\r\n(", 2, "[", error_brack},
        {"^.*\\.bak$\n" + longRule + "\n", 2, longRule, error_space},
        {"plan-\xC3\xA9(\n", 1, "plan-\xC3\xA9(", error_paren},
        {"^.*\\.bak$\n^.*\\.bak\\\n", 2, "^.*\\.bak\\", error_escape},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.substr(0, 40));
        TempDir tmp;
        const RootPath root = makeRepository(tmp);
        tmp.writeFile(kIgnoreFile, c.file);
        if (c.line == 0) {
            EXPECT_NO_THROW(RepoIgnore{root});
            continue;
        }
        try {
            RepoIgnore ignore(root);
            ADD_FAILURE() << "no refusal";
        } catch (const std::regex_error& e) {  // a host that knows only the standard error
            const auto* refusal = dynamic_cast<const common::IgnoreRuleError*>(&e);
            ASSERT_NE(refusal, nullptr);
            EXPECT_EQ(refusal->line(), c.line);
            EXPECT_EQ(refusal->rule(), OdString(c.rule.c_str(), kCodePageUtf8));
            EXPECT_EQ(e.code(), c.code);
            try {
                const common::UserPattern alone(c.rule.data(), c.rule.size());
                ADD_FAILURE() << "the rule alone is no refusal";
            } catch (const std::regex_error& ruleAlone) {
                EXPECT_STREQ(e.what(), ruleAlone.what());
            }
        }
    }
}

TEST(IgnoreRules, WriteCreatesOnlyAMissingFile) {
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    ASSERT_TRUE(RepoIgnore::write(root).hasValue());
    EXPECT_EQ(readFile(tmp / kIgnoreFile), kBuiltInFile);

    const std::string custom = "tmp\r\n\n\xFF rule";
    tmp.writeFile(kIgnoreFile, custom);
    ASSERT_TRUE(RepoIgnore::write(root).hasValue());
    EXPECT_EQ(readFile(tmp / kIgnoreFile), custom);

    // A missing properties folder is made for the new file.
    fs::remove_all(tmp / ".rvk/properties");
    ASSERT_TRUE(RepoIgnore::write(root).hasValue());
    EXPECT_EQ(readFile(tmp / kIgnoreFile), kBuiltInFile);

    // A plain file in the properties folder's place cannot hold the ignore file.
    fs::remove_all(tmp / ".rvk/properties");
    tmp.writeFile(".rvk/properties", "x");
    const auto failed = RepoIgnore::write(root);
    ASSERT_FALSE(failed.hasValue());
    EXPECT_EQ(failed.error().message, OdString(L"Failed to write Ignore file."));
    EXPECT_EQ(failed.error().code, 0);
    EXPECT_EQ(readFile(tmp / ".rvk/properties"), "x");
}

TEST(IgnoreRules, RulesAreKeptFromConstructionAndMovedOutWithTheList) {
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    tmp.writeFile(kIgnoreFile, "^.*\\.tmp$\n");
    RepoIgnore ignore(root);
    EXPECT_EQ(ignore.ignorePath(), joinPath({tmp.od().c_str(), L".rvk", L"properties", L"ignore"}));

    tmp.writeFile(kIgnoreFile, "");
    EXPECT_FALSE(ignore.accept(OdString(L"a.tmp")));
    fs::remove(tmp / kIgnoreFile);
    EXPECT_FALSE(ignore.accept(OdString(L"a.tmp")));
    EXPECT_TRUE(ignore.accept(OdString(L"a.bak")));

    RepoIgnore builtIn(root);  // the file is gone now
    RepoIgnore copy(ignore);
    copy = builtIn;
    copy = copy;
    EXPECT_FALSE(copy.accept(OdString(L"a.bak")));
    EXPECT_FALSE(ignore.accept(OdString(L"a.tmp"))) << "a copy is independent";

    RepoIgnore moved(std::move(ignore));
    EXPECT_FALSE(moved.accept(OdString(L"a.tmp")));
    EXPECT_TRUE(ignore.accept(OdString(L"a.tmp"))) << "the source keeps no rules";  // NOLINT
    EXPECT_EQ(ignore.ignorePath(), moved.ignorePath());
    copy = std::move(moved);
    EXPECT_FALSE(copy.accept(OdString(L"a.tmp")));
    EXPECT_TRUE(copy.accept(OdString(L"a.bak")));
    EXPECT_TRUE(moved.accept(OdString(L"a.tmp")));  // NOLINT
}

// Rules of the built-in kind (a fixed ending, a whole name) and their near misses, as the ignore
// file gives them; on every name they must answer exactly as std::regex_match does, line breaks
// and undecodable bytes included.
TEST(IgnoreRules, AnswersEqualRegexMatchOnGeneratedNames) {
    const std::vector<std::string> patterns = {
        "^.*\\.bak$", "^.*\\.dwl2$",  ".*\\.bak",     "^.*bak",     ".*",
        "^.*",        ".*$",          "^.*_0$",       "^.*\\.b.k$", "^.*\\.bak$$",
        ".*?\\.bak",  "^.+\\.bak$",   "^.*\\.bak\\$", "[.]*\\.bak", "bak",
        "^bak$",      "^.*\\.b\\-k$", "^$",           "^",          "$",
        "^\\$.*",     "^.*\\$$",      "^.*\xC3\xA9$", "^.*.\xFF$",  ".*\\.bak(\\.[a-zA-Z]+)+$",
    };
    const std::vector<std::string> pieces = {
        "a",  "B",  "0",        "_",    ".", "bak", "dwl2", "BAK",
        "\n", "\r", "\xC3\xA9", "\xFF", " ", "$",   "-",
    };
    std::mt19937 random(7);
    std::vector<std::string> names = {""};
    for (int i = 0; i < 3000; ++i) {
        std::string name;
        for (int n = static_cast<int>(random() % 6); n > 0; --n)
            name += pieces[random() % pieces.size()];
        names.push_back(name);
    }
    TempDir tmp;
    const RootPath root = makeRepository(tmp);
    for (const auto& pattern : patterns) {
        SCOPED_TRACE(pattern);
        tmp.writeFile(kIgnoreFile, pattern + "\n");
        const RepoIgnore ignore(root);
        const std::regex reference(pattern, std::regex::ECMAScript);
        for (const auto& name : names) {
            ASSERT_EQ(ignore.accept(OdString(name.c_str(), kCodePageUtf8)),
                      !std::regex_match(name, reference))
                << "name: " << name;
        }
    }
}

}  // namespace

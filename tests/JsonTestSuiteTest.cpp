// The public JSON parser conformance corpus, read the way the state file is read: file bytes
// decoded as UTF-8, then read_value. Every must-accept file is read, every other file is read or
// refused without harm, and the must-refuse files that our lenient grammar accepts are exactly the
// ones listed below.
#include <corekit/json/internal/reader.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <platform/Utf8.h>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using corekit::json::Value;

// The must-refuse files that the reader accepts, by the leniency that lets each through.
const std::set<std::string> kAcceptedMustRefuse = {
    // a comma before the closing bracket
    "n_array_extra_comma.json",
    "n_array_number_and_comma.json",
    "n_object_trailing_comma.json",
    "n_object_lone_continuation_byte_in_key_and_trailing_comma.json",
    // text after the value (the reader stops after one value)
    "n_array_comma_after_close.json",
    "n_array_extra_close.json",
    "n_object_trailing_comment.json",
    "n_object_trailing_comment_open.json",
    "n_object_trailing_comment_slash_open.json",
    "n_object_trailing_comment_slash_open_incomplete.json",
    "n_object_with_trailing_garbage.json",
    "n_string_with_trailing_garbage.json",
    "n_structure_array_trailing_garbage.json",
    "n_structure_array_with_extra_array_close.json",
    "n_structure_close_unopened_array.json",
    "n_structure_double_array.json",
    "n_structure_number_with_trailing_garbage.json",
    "n_structure_object_followed_by_closing_object.json",
    "n_structure_object_with_trailing_garbage.json",
    "n_structure_trailing_#.json",
    // a U+0000 outside a string ends the input
    "n_multidigit_number_then_00.json",
    // a fraction without digits
    "n_number_-2..json",
    "n_number_0.e1.json",
    "n_number_2.e+3.json",
    "n_number_2.e-3.json",
    "n_number_2.e3.json",
    "n_number_real_without_fractional_part.json",
    // a control character unescaped in a string
    "n_string_unescaped_ctrl_char.json",
    "n_string_unescaped_newline.json",
    "n_string_unescaped_tab.json",
    // form feed and vertical tab as whitespace
    "n_structure_whitespace_formfeed.json",
};

TEST(JsonTestSuite, EveryFileIsReadOrRefusedAsOurGrammarSays) {
    const fs::path folder = fs::path(RVK_TEST_DATA_DIR) / "JSONTestSuite" / "test_parsing";
    std::vector<fs::path> files(fs::directory_iterator(folder), fs::directory_iterator{});
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 300u) << folder;

    std::set<std::string> acceptedMustRefuse;
    for (const fs::path& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        const std::wstring text = ut::decodeUtf8(testing_support::readFile(file));
        const wchar_t* begin = text.data();
        Value out(L"untouched");
        const bool accepted = corekit::json::read_value(begin, text.data() + text.size(), out);
        if (!accepted) {
            EXPECT_NE(name[0], 'y');
            EXPECT_EQ(out.type(), corekit::json::string_type);
            EXPECT_EQ(out.as_string(), L"untouched");
            continue;
        }
        EXPECT_FALSE(out.type() == corekit::json::string_type && out.as_string() == L"untouched");
        if (name[0] == 'n')
            acceptedMustRefuse.insert(name);
    }
    EXPECT_EQ(acceptedMustRefuse, kAcceptedMustRefuse);
}

}  // namespace

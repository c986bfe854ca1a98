// The public JSON parser conformance corpus, read the way the state file is read: file bytes
// decoded as UTF-8, then read_value. Every must-accept file is read with the right kind at the top,
// every other file is read or refused without harm, and the must-refuse files that our lenient
// grammar accepts are exactly the ones listed below, each with the leniency that lets it through.
#include <corekit/json/internal/reader.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <platform/Utf8.h>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using corekit::json::Value;
using corekit::json::Value_type;

enum class Leniency {
    kTrailingComma,
    kTextAfterValue,
    kNulEndsInput,  // a U+0000 outside a string is the end of the input
    kFractionWithoutDigits,
    kRawControlCharacter,
    kFormFeedOrVerticalTabWhitespace,
};

// clang-format off
const std::map<std::string, Leniency> kAcceptedMustRefuse = {
    {"n_array_extra_comma.json", Leniency::kTrailingComma},
    {"n_array_number_and_comma.json", Leniency::kTrailingComma},
    {"n_object_trailing_comma.json", Leniency::kTrailingComma},
    {"n_object_lone_continuation_byte_in_key_and_trailing_comma.json", Leniency::kTrailingComma},
    {"n_array_comma_after_close.json", Leniency::kTextAfterValue},
    {"n_array_extra_close.json", Leniency::kTextAfterValue},
    {"n_object_trailing_comment.json", Leniency::kTextAfterValue},
    {"n_object_trailing_comment_open.json", Leniency::kTextAfterValue},
    {"n_object_trailing_comment_slash_open.json", Leniency::kTextAfterValue},
    {"n_object_trailing_comment_slash_open_incomplete.json", Leniency::kTextAfterValue},
    {"n_object_with_trailing_garbage.json", Leniency::kTextAfterValue},
    {"n_string_with_trailing_garbage.json", Leniency::kTextAfterValue},
    {"n_structure_array_trailing_garbage.json", Leniency::kTextAfterValue},
    {"n_structure_array_with_extra_array_close.json", Leniency::kTextAfterValue},
    {"n_structure_close_unopened_array.json", Leniency::kTextAfterValue},
    {"n_structure_double_array.json", Leniency::kTextAfterValue},
    {"n_structure_number_with_trailing_garbage.json", Leniency::kTextAfterValue},
    {"n_structure_object_followed_by_closing_object.json", Leniency::kTextAfterValue},
    {"n_structure_object_with_trailing_garbage.json", Leniency::kTextAfterValue},
    {"n_structure_trailing_#.json", Leniency::kTextAfterValue},
    {"n_multidigit_number_then_00.json", Leniency::kNulEndsInput},
    {"n_number_-2..json", Leniency::kFractionWithoutDigits},
    {"n_number_0.e1.json", Leniency::kFractionWithoutDigits},
    {"n_number_2.e+3.json", Leniency::kFractionWithoutDigits},
    {"n_number_2.e-3.json", Leniency::kFractionWithoutDigits},
    {"n_number_2.e3.json", Leniency::kFractionWithoutDigits},
    {"n_number_real_without_fractional_part.json", Leniency::kFractionWithoutDigits},
    {"n_string_unescaped_ctrl_char.json", Leniency::kRawControlCharacter},
    {"n_string_unescaped_newline.json", Leniency::kRawControlCharacter},
    {"n_string_unescaped_tab.json", Leniency::kRawControlCharacter},
    {"n_structure_whitespace_formfeed.json", Leniency::kFormFeedOrVerticalTabWhitespace},
};
// clang-format on

const wchar_t kWhitespace[] = L"\t\n\v\f\r ";

// Unlike wcschr, never finds the terminator of `set`: the files hold U+0000 elements.
bool isOneOf(std::wstring_view set, wchar_t c) {
    return set.find(c) != std::wstring_view::npos;
}

// What a text must be read as, told by its first character after the reader's whitespace: no
// value at all, or a value of that kind (a number with a fraction or an exponent is a real).
struct Expectation {
    bool startsValue = false;
    Value_type kind = corekit::json::null_type;
};

Expectation expectationFor(const std::wstring& text) {
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::wstring::npos)
        return {};
    switch (text[first]) {
        case L'{':
            return {true, corekit::json::object_type};
        case L'[':
            return {true, corekit::json::array_type};
        case L'"':
            return {true, corekit::json::string_type};
        case L't':
        case L'f':
            return {true, corekit::json::bool_type};
        case L'n':
            return {true, corekit::json::null_type};
        default:
            break;
    }
    const auto end = text.find_first_not_of(L"-0123456789", first);
    if (end == first)
        return {};
    const bool real = end != std::wstring::npos && isOneOf(L".eE", text[end]);
    return {true, real ? corekit::json::real_type : corekit::json::int_type};
}

// Whether `text` shows the leniency, so that a wrong explanation in the table fails too. `valueEnd`
// is where the value read from it ends.
bool shows(Leniency leniency, const std::wstring& text, std::size_t valueEnd) {
    std::wstring compact;
    std::remove_copy_if(text.begin(), text.end(), std::back_inserter(compact),
                        [](wchar_t c) { return isOneOf(kWhitespace, c); });
    const auto quote = text.find(L'"');
    switch (leniency) {
        case Leniency::kTrailingComma:
            return compact.find(L",]") != std::wstring::npos ||
                   compact.find(L",}") != std::wstring::npos;
        case Leniency::kTextAfterValue:
            return text.find_first_not_of(kWhitespace, valueEnd) != std::wstring::npos;
        case Leniency::kNulEndsInput:
            return text.find(L'\0', valueEnd) != std::wstring::npos;
        case Leniency::kFractionWithoutDigits:
            for (std::size_t at = text.find(L'.'); at != std::wstring::npos;
                 at = text.find(L'.', at + 1)) {
                if (at + 1 == text.size() || !std::iswdigit(text[at + 1]))
                    return true;
            }
            return false;
        case Leniency::kRawControlCharacter:
            return quote != std::wstring::npos &&
                   std::any_of(text.begin() + quote, text.begin() + text.rfind(L'"'),
                               [](wchar_t c) { return c < 0x20; });
        case Leniency::kFormFeedOrVerticalTabWhitespace:
            return text.find_first_of(L"\f\v") != std::wstring::npos;
    }
    return false;
}

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

        const Expectation expected = expectationFor(text);
        if (!accepted) {
            EXPECT_NE(name[0], 'y');
            EXPECT_EQ(out.type(), corekit::json::string_type);
            EXPECT_EQ(out.as_string(), L"untouched");
            continue;
        }
        ASSERT_TRUE(expected.startsValue);
        EXPECT_EQ(out.type(), expected.kind);
        if (name[0] != 'n')
            continue;
        acceptedMustRefuse.insert(name);
        const auto listed = kAcceptedMustRefuse.find(name);
        if (listed == kAcceptedMustRefuse.end())
            continue;  // reported below, with the whole difference
        // A number's read stops one character past it; every other value ends where it stopped.
        const bool number =
            expected.kind == corekit::json::int_type || expected.kind == corekit::json::real_type;
        const std::size_t valueEnd =
            number ? text.find_first_not_of(L"-+.eE0123456789", text.find_first_not_of(kWhitespace))
                   : static_cast<std::size_t>(begin - text.data());
        EXPECT_TRUE(shows(listed->second, text, valueEnd))
            << "leniency " << static_cast<int>(listed->second);
    }

    std::set<std::string> listed;
    for (const auto& entry : kAcceptedMustRefuse)
        listed.insert(entry.first);
    EXPECT_EQ(acceptedMustRefuse, listed);
}

}  // namespace

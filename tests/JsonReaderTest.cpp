#include <corekit/json/internal/reader.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

using corekit::json::read_value;
using corekit::json::Value;
using namespace std::string_literals;

// Structural form of a tree that shows all a comparison must see: kind, unsigned flag (u/i), each
// real to the bit and each code unit outside printable ASCII as <hex>.
std::string describe(const Value& v) {
    char buf[400];
    std::string s;
    auto text = [&s, &buf](const std::wstring& w) {
        s += '"';
        for (wchar_t c : w) {
            std::snprintf(buf, sizeof buf, "<%X>", static_cast<unsigned>(c));
            s += c >= 0x20 && c < 0x7F && c != '<' ? std::string(1, char(c)) : std::string(buf);
        }
        s += '"';
    };
    switch (v.type()) {
        case corekit::json::object_type:
            s += '{';
            for (const auto& m : v.as_object()) {
                text(m.first);
                s += ':' + describe(m.second) + ',';
            }
            return s + '}';
        case corekit::json::array_type:
            s += '[';
            for (const Value& e : v.as_array())
                s += describe(e) + ',';
            return s + ']';
        case corekit::json::string_type:
            text(v.as_string());
            return s;
        case corekit::json::int_type:
            return v.is_unsigned() ? "u" + std::to_string(v.as_uint64())
                                   : "i" + std::to_string(v.as_int64());
        case corekit::json::real_type:
            std::snprintf(buf, sizeof buf, "r%.17g", v.as_real());
            return buf;
        case corekit::json::bool_type:
            return v.as_bool() ? "true" : "false";
        default:
            return "null";
    }
}

// Reads `input` whole; a failed read must leave the target exactly as it was.
std::string readAll(const std::wstring& input) {
    Value out(L"untouched");
    const wchar_t* begin = input.data();
    return read_value(begin, input.data() + input.size(), out) ? describe(out)
                                                               : "FAIL " + describe(out);
}

TEST(JsonReader, ReadsTheLenientGrammarAndLeavesTheTargetAloneOnRefusal) {
    struct Case {
        std::wstring input;
        std::string expected;
    };
    const std::string fail = "FAIL \"untouched\"";
    const Case cases[] = {
        {L"", fail},
        {L" \t\r\n", fail},
        {L"\v\f[\v1\f]", "[u1,]"},
        {L"  {\"b\":1,\"a\":[true,null,-0,1.5e3]}  ", "{\"a\":[true,null,u0,r1500,],\"b\":u1,}"},
        {L"7", "u7"},
        {L"-7", "i-7"},
        {L"7.0", "r7"},
        {L"18446744073709551615", "u18446744073709551615"},
        {L"18446744073709551616", "u18446744073709551615"},
        {L"-9223372036854775808", "i-9223372036854775808"},
        {L"-9223372036854775809", "i-9223372036854775808"},
        {L"-0.0", "r-0"},
        {L"1e400", "rinf"},
        {L"1e-400", "r0"},
        {L"1.", "r1"},
        {L"1.2.3", "r1.2"},
        {L"01", "u0"},
        {L"[01]", fail},
        {L"{\"a\":1,\"a\":2}", "{\"a\":u2,}"},
        {L"[1,]", "[u1,]"},
        {L"{\"a\":1,}", "{\"a\":u1,}"},
        {L"[,]", fail},
        {L"[1,,2]", fail},
        {L"[1 2]", fail},
        {L"{,}", fail},
        {L"{\"a\":1,,}", fail},
        {L"{\"a\" 1}", fail},
        {L"{1:2}", fail},
        {L"[1", fail},
        {L"]", fail},
        {L"\"\\u00e9\\uD83D\\uDE00\\uD800\\uDC00\\uDBFF\\uDFFF\"",
         "\"<E9><1F600><10000><10FFFF>\""},
        {L"\"\\uD800\"", "\"<D800>\""},
        {L"\"\\uDE00\\uD83D\"", "\"<DE00><D83D>\""},
        {L"\"\\uD83D\\uD83D\\uDE00x\"", "\"<D83D><1F600>x\""},
        {L"\"\\uD83Dx\\uDE00\"", "\"<D83D>x<DE00>\""},
        {L"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0000\"", "\"\"\\/<8><C><A><D><9><0>\""},
        {L"\"\\x\"", fail},
        {L"\"\\u12G4\"", fail},
        {L"\"abc", fail},
        {L"\"abc\\", fail},
        {L"\"a\nb\tc\x7f\"", "\"a<A>b<9>c<7F>\""},
        {L"\"a\0b\"x"s, "\"a<0>b\""},
        {L"\0 7"s, fail},
        {L"[7\0]"s, fail},
        {L"True", fail},
        {L"nul", fail},
        {L"nullx", "null"},
        {L"[nullx]", fail},
        {L"+1", fail},
        {L".5", fail},
        {L"1e", fail},
        {L"1e+", fail},
        {L"-", fail},
        {L"~", fail},
        {L"{} trailing text", "{}"},
        {L"\uFEFF{}", fail}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(readAll(c.input), c.expected);
    }
}

TEST(JsonReader, BeginStopsAfterTheLastCharacterConsumed) {
    struct Case {
        std::wstring input;
        std::size_t offset;
    };
    const Case cases[] = {
        {L"7", 1},     {L"7 x", 2},     {L"12]", 3},    {L"-0.5e3,", 7},     {L"[1] x", 3},
        {L"true!", 4}, {L"\"ab\"z", 4}, {L"  {}  ", 4}, {L"{\"a\":[]}1", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        Value out;
        const wchar_t* begin = c.input.data();
        ASSERT_TRUE(read_value(begin, c.input.data() + c.input.size(), out));
        EXPECT_EQ(static_cast<std::size_t>(begin - c.input.data()), c.offset);
    }
}

TEST(JsonReader, NestingDeeperThanTheBoundIsRefused) {
    const int bound = corekit::json::kMaxNestingDepth;
    // `depth` containers opened with `open` and closed with `close`, around `inner`.
    auto nest = [](int depth, const wchar_t* open, const wchar_t* inner, const wchar_t* close) {
        std::wstring text;
        for (int i = 0; i < depth; ++i)
            text += open;
        text += inner;
        for (int i = 0; i < depth; ++i)
            text += close;
        return text;
    };
    std::wstring siblings = L"[";  // side by side, never deeper than two
    for (int i = 0; i < 2 * bound; ++i)
        siblings += L"[{}],";
    const std::pair<std::wstring, bool> cases[] = {
        {siblings + L"[]]", true},
        {nest(bound, L"[", L"", L"]"), true},
        {nest(bound + 1, L"[", L"", L"]"), false},
        {nest(bound - 1, L"{\"k\":", L"[]", L"}"), true},
        {nest(bound, L"{\"k\":", L"[]", L"}"), false},
        {std::wstring(1000000, L'['), false},
        {nest(1000000, L"[", L"", L"]"), false},
    };
    for (const auto& [input, ok] : cases) {
        SCOPED_TRACE(input.size());
        EXPECT_EQ(readAll(input).rfind("FAIL", 0) != 0, ok);
    }
}

}  // namespace

#include <corekit/json/internal/reader.h>
#include <corekit/json/internal/writer.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace {

using corekit::json::Array;
using corekit::json::Object;
using corekit::json::read_value;
using corekit::json::Value;
using namespace std::string_literals;

// Structural form of a tree that shows all a comparison must see: kind, unsigned flag (u/i), each
// real to the bit and each code unit outside printable ASCII as <hex>. With `as_written`, a tree is
// shown as reading back its written text must give it: a non-negative signed int as unsigned, and
// a real as the value of its 16-decimal text.
std::string describe(const Value& v, bool as_written = false) {
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
                s += ':' + describe(m.second, as_written) + ',';
            }
            return s + '}';
        case corekit::json::array_type:
            s += '[';
            for (const Value& e : v.as_array())
                s += describe(e, as_written) + ',';
            return s + ']';
        case corekit::json::string_type:
            text(v.as_string());
            return s;
        case corekit::json::int_type:
            return v.is_unsigned() || (as_written && v.as_int64() >= 0)
                       ? "u" + std::to_string(v.as_uint64())
                       : "i" + std::to_string(v.as_int64());
        case corekit::json::real_type:
            std::snprintf(buf, sizeof buf, "%.16f", v.as_real());
            std::snprintf(buf, sizeof buf, "r%.17g",
                          as_written ? std::strtod(buf, nullptr) : v.as_real());
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

TEST(JsonReader, AcceptsAndRefusesPerGrammar) {
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
        {L"\"\\u00e9\\uD83D\\uDE00\"", "\"<E9><1F600>\""},
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

TEST(JsonReader, NumbersConvertLikeTheCLibrary) {
    std::mt19937 rng(20240611);
    auto digits = [&rng](int most, bool lead_nonzero) {
        std::wstring d(1, L"0123456789"[lead_nonzero ? 1 + rng() % 9 : rng() % 10]);
        for (int n = static_cast<int>(rng() % most); n > 0; --n)
            d += L"0123456789"[rng() % 10];
        return d;
    };
    for (int i = 0; i < 3000; ++i) {
        std::wstring token = rng() % 2 ? L"-" : L"";
        token += rng() % 8 ? digits(22, true) : L"0";
        bool integer = rng() % 2;
        if (!integer) {
            if (rng() % 4)
                token += L"." + (rng() % 8 ? digits(20, false) : L"");
            if (rng() % 2) {
                token += L"eE"[rng() % 2];
                token += std::wstring(rng() % 3 ? 1 : 0, L"+-"[rng() % 2]) + digits(3, false);
            }
        }
        integer = token.find_first_of(L".eE") == std::wstring::npos;
        SCOPED_TRACE(token);
        std::string got = readAll(token), want;
        if (integer && token[0] == L'-' && token != L"-0") {
            want = "i" + std::to_string(std::wcstoll(token.c_str(), nullptr, 10));
        } else if (integer) {
            want = "u" + std::to_string(std::wcstoull(token.c_str(), nullptr, 10));
        } else {
            want = describe(Value(std::wcstod(token.c_str(), nullptr)));
        }
        EXPECT_EQ(got, want);
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
    auto nest = [](int depth, const std::wstring& open, const std::wstring& close) {
        std::wstring text;
        for (int i = 0; i < depth; ++i)
            text += open;
        for (int i = 0; i < depth; ++i)
            text += close;
        return text;
    };
    struct Case {
        std::wstring input;
        bool ok;
    };
    const Case cases[] = {
        {nest(bound, L"[", L"]"), true},
        {nest(bound + 1, L"[", L"]"), false},
        {nest(bound - 1, L"{\"k\":", L"}").insert(static_cast<std::size_t>(bound - 1) * 5, L"[]"),
         true},
        {nest(bound, L"{\"k\":", L"}").insert(static_cast<std::size_t>(bound) * 5, L"[]"), false},
        {std::wstring(1000000, L'['), false},
        {nest(1000000, L"[", L"]"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.size());
        EXPECT_EQ(readAll(c.input).rfind("FAIL", 0) != 0, c.ok);
    }
}

// Random trees written and read back come back as describe(tree, as_written) says. Not generated:
// a high surrogate element followed by a low one (the reader joins the pair into one code point)
// and elements above U+10FFFF (written as U+FFFD).
TEST(JsonRoundTrip, RandomTreesReadBackAsWritten) {
    std::mt19937 rng(7);
    const wchar_t pool[] = {L'a',  L'Z',    L' ',   L'/',    L'"',     L'\\',
                            L'\0', L'\x01', L'\t',  L'\n',   L'\x1f',  L'\x7f',
                            0xE9,  0x4E2D,  0xFEFF, 0x1F600, 0x10FFFF, 0xDC80};
    auto randomString = [&] {
        std::wstring s;
        for (int n = static_cast<int>(rng() % 8); n > 0; --n) {
            wchar_t c = rng() % 6 ? pool[rng() % (sizeof pool / sizeof *pool)]
                                  : static_cast<wchar_t>(0xD800 + rng() % 0x800);
            bool joins =
                !s.empty() && s.back() >= 0xD800 && s.back() < 0xDC00 && c >= 0xDC00 && c < 0xE000;
            s += joins ? L'x' : c;
        }
        return s;
    };
    std::function<Value(int)> make = [&](int depth) -> Value {
        switch (rng() % (depth < 4 ? 8 : 6)) {
            case 0:
                return Value();
            case 1:
                return Value(rng() % 2 == 0);
            case 2:
                return Value(static_cast<std::int64_t>((std::uint64_t{rng()} << 32) | rng()) >>
                             rng() % 64);
            case 3:
                return Value(std::ldexp(std::uniform_real_distribution<double>(-1, 1)(rng),
                                        int(rng() % 140) - 70));
            case 4:
            case 5:
                return Value(randomString());
            case 6: {
                Array array(rng() % 4);
                for (Value& element : array)
                    element = make(depth + 1);
                return Value(std::move(array));
            }
            default: {
                Object object;
                for (int n = static_cast<int>(rng() % 4); n > 0; --n)
                    object[randomString()] = make(depth + 1);
                return Value(std::move(object));
            }
        }
    };
    for (int i = 0; i < 2000; ++i) {
        const Value tree = make(0);
        const std::wstring text = corekit::json::write_formatted(tree);
        SCOPED_TRACE(text);
        Value back;
        const wchar_t* begin = text.data();
        ASSERT_TRUE(read_value(begin, text.data() + text.size(), back));
        EXPECT_EQ(begin, text.data() + text.size());
        EXPECT_EQ(describe(back), describe(tree, true));
        EXPECT_EQ(corekit::json::write_formatted(back), text);
    }
}

}  // namespace

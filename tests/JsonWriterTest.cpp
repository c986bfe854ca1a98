#include <corekit/json/internal/writer.h>

#include <clocale>
#include <cstdint>
#include <cwctype>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <platform/Utf8.h>

#include "JsonSpelling.h"

namespace {

using corekit::json::append_string_utf8;
using corekit::json::Array;
using corekit::json::Object;
using corekit::json::Value;
using corekit::json::write_formatted;

TEST(JsonWriter, WritesEachKindByteForByte) {
    Object example;
    example[L"a"] = Array{Value(1u), Value(2u)};
    example[L"b"] = Object{};
    Object keys;
    keys[L"a"] = Array{};
    keys[L"B"] = Value();
    struct Case {
        Value value;
        std::wstring expected;
    };
    const Case cases[] = {
        {std::move(example),
         L"{\n    \"a\" : [\n        1,\n        2\n    ],\n    \"b\" : {\n    }\n}"},
        {std::move(keys), L"{\n    \"B\" : null,\n    \"a\" : [\n    ]\n}"},
        {Array{Value(Array{Value(L"x")}), Value(true)},
         L"[\n    [\n        \"x\"\n    ],\n    true\n]"},
        {Object{}, L"{\n}"},
        {Value(false), L"false"},
        {L"a/b", L"\"a/b\""},
        {L"\"\\\t", L"\"\\\"\\\\\\t\""},
        {L"\b\f\n\r", L"\"\\b\\f\\n\\r\""},
        {std::wstring(1, L'\0') + L"\x01\x1f\x7f~", L"\"\\u0000\\u0001\\u001F\\u007F~\""},
        {L"\xDC80\xD800", L"\"\\uDC80\\uD800\""},
        // Beyond U+10FFFF only a 32-bit wchar_t reaches; a 16-bit one wraps to U+0000 and U+FFFF.
        {std::wstring{static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)},
         sizeof(wchar_t) == 2 ? L"\"\\u0000\\uFFFF\"" : L"\"\\uFFFD\\uFFFD\""},
        {Value(5), L"5"},
        {Value(std::numeric_limits<std::int64_t>::min()), L"-9223372036854775808"},
        {Value(std::numeric_limits<std::uint64_t>::max()), L"18446744073709551615"},
        {Value(-2.0), L"-2.0000000000000000"},
        {Value(1e20), L"100000000000000000000.0000000000000000"},
        {Value(1e-20), L"0.0000000000000000"},
        {Value(0.1), L"0.1000000000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(write_formatted(c.value), c.expected);
    }
}

// Beyond ASCII, a code unit is written as it is exactly when the C library's iswprint calls it
// printable under the current LC_CTYPE, on every system: glibc and MinGW's C library answer
// differently, and the expectation is each one's own answer, asked here unit by unit.
TEST(JsonWriter, BeyondAsciiFollowsTheCLibrarysIswprint) {
    const std::uint32_t codePoints[] = {
        0x0080, 0x0085, 0x009F,   // C1 controls
        0x00A0, 0x00AD, 0x00E9,   // no-break space, soft hyphen, e acute
        0x0378, 0x200B, 0x2028,   // unassigned, zero-width space, line separator
        0x4E2D, 0xE000, 0xFEFF,   // CJK, private use, byte-order mark
        0xFFFD, 0xFFFE, 0xDC80,   // replacement character, non-character, lone low surrogate
        0xD800, 0x1F600, 0xE0001, // lone high surrogate, emoji, language tag
        0x10FFFF,
    };
    std::size_t printable = 0, escaped = 0;
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    // "C.UTF-8" is glibc's spelling, ".UTF-8" the Universal CRT's; a system without one skips it.
    for (const char* locale : {"C", "C.UTF-8", ".UTF-8"}) {
        if (std::setlocale(LC_CTYPE, locale) == nullptr)
            continue;
        for (const std::uint32_t cp : codePoints) {
            // The text as the system holds it: a code point above U+FFFF is a surrogate pair
            // where wchar_t has 16 bits.
            std::wstring text;
            if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
                text = {static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)),
                        static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))};
            } else {
                text = {static_cast<wchar_t>(cp)};
            }
            for (const wchar_t element : text)
                ++(std::iswprint(static_cast<std::wint_t>(element)) != 0 ? printable : escaped);
            const std::wstring expected = L"\"" + testing_support::jsonSpelling(text) + L"\"";
            std::ostringstream trace;
            trace << "U+" << std::uppercase << std::hex << cp << " in " << locale;
            SCOPED_TRACE(trace.str());
            EXPECT_EQ(write_formatted(Value(text)), expected);
            std::string utf8;
            append_string_utf8(utf8, text);
            EXPECT_EQ(utf8, ut::encodeUtf8(expected));
        }
    }
    std::setlocale(LC_CTYPE, previous.c_str());
    // Each system's C library calls some of these printable and some not in one of the locales
    // it has: a writer that escaped them all, or wrote them all raw, fails above.
    EXPECT_GT(printable, 0u);
    EXPECT_GT(escaped, 0u);
}

// The UTF-8 writer of a string, which takes plain strings whole, gives the bytes of
// write_formatted's text for it: each character that ends a plain string, alone, at each end and
// inside a long run, under the C locale and under a UTF-8 one.
TEST(JsonWriter, AStringsUtf8IsTheEncodedTextOfTheWideWriter) {
    const std::wstring run = L"dept07/sheet0042/plan-000042.dwg";
    std::wstring breaks = L"\"\\\x1F\x7F\n\u00E9\u2028\xDCFF\xD800\U0001F600";
    breaks += {L'\0', static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)};
    std::vector<std::wstring> texts = {L"", L" ~", run, run + run + run};
    for (const wchar_t c : breaks) {
        const std::wstring alone(1, c);
        texts.insert(texts.end(), {alone, alone + run, run + alone, run.substr(0, 9) + alone + run,
                                   run + alone + run + alone});
    }
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    for (const char* locale : {"C", "C.UTF-8"}) {
        if (std::setlocale(LC_CTYPE, locale) == nullptr)
            continue;
        for (const std::wstring& text : texts) {
            SCOPED_TRACE(ut::encodeUtf8(text) + " in " + locale);
            std::string out = "{\"k\" : ";
            append_string_utf8(out, text);
            EXPECT_EQ(out, "{\"k\" : " + ut::encodeUtf8(write_formatted(Value(text))));
        }
    }
    std::setlocale(LC_CTYPE, previous.c_str());
}

// A locale that writes 1234.5 as "1.234,5": reals must follow it exactly as the stream does.
struct CommaDecimal : std::numpunct<wchar_t> {
    wchar_t do_decimal_point() const override { return L','; }
    wchar_t do_thousands_sep() const override { return L'.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(JsonWriter, RealsAreWhatTheFixedStreamWrites) {
    const double reals[] = {0.0, -0.0, 1234.5, 0.05, 1e-320, -1.7976931348623157e308};
    // Not finite: the same text under every locale and C library (the streams differ on -nan).
    const struct {
        double value;
        const wchar_t* text;
    } nonFinite[] = {{std::numeric_limits<double>::infinity(), L"inf"},
                     {-std::numeric_limits<double>::infinity(), L"-inf"},
                     {std::numeric_limits<double>::quiet_NaN(), L"nan"},
                     {-std::numeric_limits<double>::quiet_NaN(), L"-nan"}};
    struct Case {
        std::locale locale;
        std::wstring example;
    };
    const Case cases[] = {
        {std::locale::classic(), L"1234.5000000000000000"},
        {std::locale(std::locale::classic(), new CommaDecimal), L"1.234,5000000000000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.example);
        struct Restore {
            std::locale previous;
            ~Restore() { std::locale::global(previous); }
        } restore{std::locale::global(c.locale)};
        EXPECT_EQ(write_formatted(Value(1234.5)), c.example);
        for (double d : reals) {
            std::wostringstream stream;
            stream << std::fixed << std::setprecision(16) << d;
            ASSERT_EQ(write_formatted(Value(d)), stream.str());
        }
        for (const auto& row : nonFinite)
            EXPECT_EQ(write_formatted(Value(row.value)), row.text);
        // Ints are plain decimal under any locale.
        EXPECT_EQ(write_formatted(Array{Value(1234567)}), L"[\n    1234567\n]");
    }
}

}  // namespace

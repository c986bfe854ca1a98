#include <platform/OdString.h>
#include <platform/Utf8.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "TestSupport.h"

namespace {

struct RoundTripCase {
    const char* label;
    std::string bytes;
    std::wstring wide;  // what decoding must give
};

TEST(PlatformString, UndecodableBytesSurviveNarrowToWideToNarrow) {
    const RoundTripCase cases[] = {
        {"ascii", "plan a.dwg", L"plan a.dwg"},
        {"accents", "caf\xC3\xA9", L"caf\u00E9"},
        {"cjk", "\xE5\x9B\xB3\xE9\x9D\xA2", L"\u56F3\u9762"},
        {"emoji", "\xF0\x9F\x98\x80", L"\U0001F600"},  // one element, or a pair of 16-bit ones
        {"lone invalid byte",
         "a\xFF"
         "b",
         std::wstring{L'a', wchar_t(0xDCFF), L'b'}},
        {"truncated sequence", "\xE6\x97", std::wstring{wchar_t(0xDCE6), wchar_t(0xDC97)}},
        {"overlong", "\xC0\xAF\xC1\xBF",
         std::wstring{wchar_t(0xDCC0), wchar_t(0xDCAF), wchar_t(0xDCC1), wchar_t(0xDCBF)}},
        {"first of three bytes", "\xE0\xA0\x80", L"\u0800"},
        {"encoded surrogate", "\xED\xA0\x80",
         std::wstring{wchar_t(0xDCED), wchar_t(0xDCA0), wchar_t(0xDC80)}},
        {"above U+10FFFF", "\xF4\x90\x80\x80",
         std::wstring{wchar_t(0xDCF4), wchar_t(0xDC90), wchar_t(0xDC80), wchar_t(0xDC80)}},
        {"latin-1 name", "r\xE9sum\xE9",
         std::wstring{L'r', wchar_t(0xDCE9), L's', L'u', L'm', wchar_t(0xDCE9)}},
        // The encoder takes ASCII eight elements at a time: the first other one in each place.
        {"first non-ASCII eighth", "1234567\xC2\x80", L"1234567\u0080"},
        {"undecodable ninth", "12345678\xFF", std::wstring(L"12345678") + wchar_t(0xDCFF)},
        {"accent inside the first eight", "caf\xC3\xA9 plan level.dwg", L"caf\u00E9 plan level.dwg"},
        {"accent after runs", "level 1/ground floor/caf\xC3\xA9 plan.dwg",
         L"level 1/ground floor/caf\u00E9 plan.dwg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const OdString s(c.bytes.c_str(), kCodePageUtf8);
        EXPECT_EQ(s.wstr(), c.wide);
        EXPECT_EQ(std::string(s.ansi_str()), c.bytes);
        EXPECT_EQ(s.ansiLength(), c.bytes.size());
        // What a folder listing uses, into a string that held other text before.
        OdString reused(L"earlier text, longer than most");
        reused.ansi_str();
        reused.assignUtf8(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(reused.wstr(), c.wide);
        EXPECT_EQ(std::string(reused.ansi_str(), reused.ansiLength()), c.bytes);
    }
}

TEST(PlatformString, NarrowFormAlwaysEncodesTheCurrentText) {
    OdString a(L"a"), b(L"b\u00E9");
    const std::function<void()> changes[] = {
        [&] { a += L"\u00E9"; },
        [&] { a += OdString(L"x"); },
        [&] { a += L'y'; },
        [&] { a = OdString(L"z"); },
        [&] { a = L"w"; },
        [&] { a = b; },
        [&] { a = std::move(b); },  // the moved-in text brings its narrow form along
        [&] { b = OdString(L"\u56F3"); },
        [&] { a = OdString(std::move(b)); },
        [&] { a.format(L"%ls!", L"\u00E9"); },
        [&] { a.assignUtf8("\xC3\xA9\xFF", 3); },  // as a folder listing hands names out
        [&] { b.assignUtf8("plain", 5); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        SCOPED_TRACE(i);
        a.ansi_str();  // fill both narrow forms before the change
        b.ansi_str();
        changes[i]();
        for (const OdString* s : {&a, &b})
            EXPECT_EQ(std::string(s->ansi_str(), s->ansiLength()), ut::encodeUtf8(s->wstr()));
    }
    EXPECT_EQ(b.compare("plain"), 0);
    EXPECT_NE(b.compare("Plain"), 0);
}

TEST(PlatformString, FormatFillsWideArgumentsOfAnyLength) {
    OdString s;
    s.format(L"Path: %ls is not a rvk directory.", OdString(L"/tmp/\u56F3").c_str());
    EXPECT_EQ(s, OdString(L"Path: /tmp/\u56F3 is not a rvk directory."));

    // Longer than any first guess of a buffer size.
    const std::wstring longArg(5000, L'x');
    s.format(L"[%ls|%ls]", longArg.c_str(), L"\U0001F600");
    EXPECT_EQ(s.wstr(), L"[" + longArg + L"|\U0001F600]");
    EXPECT_STREQ(OdString().format(L"100%%").c_str(), L"100%");
}

TEST(PlatformString, SubstringsClampAtTheEdges) {
    const OdString s(L"abcdef");
    struct Case {
        OdString got;
        const wchar_t* expected;
    } cases[] = {
        {s.left(0), L""},       {s.left(2), L"ab"},
        {s.left(6), L"abcdef"}, {s.left(99), L"abcdef"},
        {s.left(-1), L""},      {s.mid(0), L"abcdef"},
        {s.mid(4), L"ef"},      {s.mid(6), L""},
        {s.mid(7), L""},        {s.right(0), L""},
        {s.right(2), L"ef"},    {s.right(64), L"abcdef"},
        {s.mid(1, 2), L"bc"},   {OdString().right(3), L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, OdString(c.expected));

    EXPECT_EQ(OdString(L"a/b/c").reverseFind(L'/'), 3);
    EXPECT_EQ(OdString(L"/abc").reverseFind(L'/'), 0);
    EXPECT_EQ(OdString(L"abc").reverseFind(L'/'), -1);
    EXPECT_EQ(OdString().reverseFind(L'/'), -1);
}

TEST(PlatformString, CopiesAreIndependentMovedFromIsEmptyAndOrderIsByElement) {
    OdString a(L"abc");
    OdString b = a;
    b += L"d";
    EXPECT_EQ(a, OdString(L"abc"));
    OdString moved = std::move(b);
    EXPECT_EQ(moved, OdString(L"abcd"));
    EXPECT_TRUE(b.isEmpty());  // NOLINT(bugprone-use-after-move): moved-from is empty by contract
    EXPECT_TRUE(OdString(L"B") < OdString(L"a"));
    EXPECT_TRUE(OdString(L"ab") < OdString(L"abc"));
    EXPECT_EQ(L"x" + OdString(L"y") + L"z", OdString(L"xyz"));
    EXPECT_TRUE(OdString::kEmpty.isEmpty());
}

}  // namespace

#include <corekit/json/internal/lexer.h>
#include <corekit/json/internal/reader.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <platform/Utf8.h>

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
         sizeof(wchar_t) == 2 ? "\"<E9><D83D><DE00><D800><DC00><DBFF><DFFF>\""
                              : "\"<E9><1F600><10000><10FFFF>\""},
        {L"\"\\uD800\"", "\"<D800>\""},
        {L"\"\\uDE00\\uD83D\"", "\"<DE00><D83D>\""},
        {L"\"\\uD83D\\uD83D\\uDE00x\"",
         sizeof(wchar_t) == 2 ? "\"<D83D><D83D><DE00>x\"" : "\"<D83D><1F600>x\""},
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

// How far a read of the whole of `input` went, in elements.
template <class Char>
std::size_t consumed(const std::basic_string<Char>& input) {
    Value out;
    const Char* begin = input.data();
    EXPECT_TRUE(read_value(begin, input.data() + input.size(), out));
    return static_cast<std::size_t>(begin - input.data());
}

TEST(JsonReader, BeginStopsAfterTheLastCharacterConsumed) {
    struct Case {
        std::string input;  // ASCII, so that bytes and elements count alike
        std::size_t offset;
    };
    const Case cases[] = {
        {"7", 1},     {"7 x", 2},     {"12]", 3},    {"-0.5e3,", 7},     {"[1] x", 3},
        {"true!", 4}, {"\"ab\"z", 4}, {"  {}  ", 4}, {"{\"a\":[]}1", 8}, {"0 ", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(consumed(std::wstring(c.input.begin(), c.input.end())), c.offset);
        EXPECT_EQ(consumed(c.input), c.offset);
    }
}

// The text that the file utilities read from a file holding `bytes`: CR LF as LF, then decoded.
std::wstring decodedAsFile(const std::string& bytes) {
    std::string lines;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n'))
            lines += bytes[i];
    }
    return ut::decodeUtf8(lines);
}

// `bytes` with every byte outside printable ASCII as <hex>, for the trace of a failure.
std::string shown(const std::string& bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char hex[8];
        std::snprintf(hex, sizeof hex, "<%02X>", byte);
        out += byte >= 0x20 && byte < 0x7F && byte != '<' ? std::string(1, c) : std::string(hex);
    }
    return out;
}

// The UTF-8 entry crosses whitespace and plain string text many bytes at a time, where the wide
// entry goes one element at a time: on every byte that ends such a run, at every place in and
// around the sixteen bytes taken at once, and near the end of the input, both must read the same
// tree, and (on ASCII without CR LF, where bytes and elements count alike) stop at the same place.
TEST(JsonReader, TheUtf8EntryReadsTheTreeOfTheDecodedBytes) {
    std::vector<std::string> documents;
    // Bytes that end a plain run of string text, and bytes that look like them but do not.
    const std::string specials[] = {"\\\"",
                                    "\\\\",
                                    "\\u00e9",
                                    "\\uD83D\\uDE00",
                                    "\r\n",
                                    "\r",
                                    "\xC3\xA9",
                                    "\xE5\x9B\xB3",
                                    "\xFF",
                                    "\x01",
                                    "\x7F",
                                    "\xA2",
                                    "\xDC",
                                    "\x8D",
                                    "\"",
                                    "~",
                                    std::string(1, '\0')};
    for (const std::string& special : specials) {
        for (std::size_t at = 0; at <= 20; ++at) {
            const std::string text = std::string(at, 'p') + special + std::string(20 - at, 'q');
            documents.push_back("[\"" + text + "\"]");
            documents.push_back("{\"" + text + "\":\"" + text + "\"}");
        }
    }
    // Whitespace of every kind and length, and bytes that look like it but are not.
    const std::string gaps[] = {"",
                                " ",
                                "\n",
                                "\t",
                                "\r\n",
                                "\v\f",
                                "\n" + std::string(7, ' '),
                                "\n" + std::string(8, ' '),
                                "\n" + std::string(12, ' '),
                                std::string(15, ' '),
                                std::string(16, ' '),
                                std::string(17, ' '),
                                std::string(33, ' '),
                                " \t\n\r\v\f \t\n\r\v\f \t\n\r\v\f \t\n\r\v\f",
                                "\n" + std::string(14, ' ') + "\r" + std::string(9, ' '),
                                std::string(20, ' ') + "\f",
                                "\x08",
                                "\x0E",
                                "\x1F",
                                "\xA0",
                                "\x89",
                                "\x8D",
                                std::string(1, '\0'),
                                std::string(11, ' ') + "\x0E",
                                std::string(19, ' ') + "\xA0"};
    for (const std::string& gap : gaps) {
        const std::string inner = gap + "[" + gap + "1" + gap + "," + gap + "\"s\"" + gap + "]";
        documents.push_back(inner + gap);
        documents.push_back("[" + inner + "," + std::string(20, ' ') + "null]");
    }
    for (const std::string& bytes : documents) {
        SCOPED_TRACE(shown(bytes));
        Value direct(L"untouched");
        const char* begin = bytes.data();
        const bool read = read_value(begin, bytes.data() + bytes.size(), direct);
        const std::wstring text = decodedAsFile(bytes);
        EXPECT_EQ(read ? describe(direct) : "FAIL " + describe(direct), readAll(text));
        const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (read && ascii && bytes.find("\r\n") == std::string::npos) {
            EXPECT_EQ(static_cast<std::size_t>(begin - bytes.data()), consumed(text));
        }
    }
}

// A string's text is kept in the input or in the lexer's buffer, by how it is spelled; whichever,
// text_is and text answer by the text alone, also after the colon that follows a key.
template <class Char>
void checkStringToken(const std::basic_string<Char>& input, const std::wstring& expected) {
    const Char* begin = input.data();
    corekit::json::Lexer<Char> lexer(begin, input.data() + input.size());
    ASSERT_EQ(lexer.next(), corekit::json::Token::string);
    ASSERT_EQ(lexer.next(), corekit::json::Token::colon);
    EXPECT_EQ(lexer.text(), expected);
    const std::string candidates[] = {"",
                                      "p",
                                      "path",
                                      "pat",
                                      "patH",
                                      "paths",
                                      "a\nb",
                                      "dept07/sheet0042/plan-000042.dwg",
                                      "dept07/sheet0042/plan-000042.dxf"};
    for (const std::string& candidate : candidates) {
        SCOPED_TRACE(candidate);
        EXPECT_EQ(lexer.text_is(candidate),
                  std::wstring(candidate.begin(), candidate.end()) == expected);
    }
}

TEST(JsonLexer, AStringAnswersByItsTextWhereverItIsKept) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"\"path\"", L"path"},
        {"\"\"", L""},
        {"\"pa\\u0074h\"", L"path"},
        {"\"pat\\\"\"", L"pat\""},
        {"\"a\r\nb\"", L"a\nb"},
        {"\"p\xC3\xA9\"", L"p\u00E9"},
        {"\"dept07/sheet0042/plan-000042.dwg\"", L"dept07/sheet0042/plan-000042.dwg"},
        {"\"dept07/sheet0042/plan-000042\\u002Edwg\"", L"dept07/sheet0042/plan-000042.dwg"},
    };
    for (const auto& [token, expected] : cases) {
        SCOPED_TRACE(shown(token));
        checkStringToken(token + " : 1", expected);
        checkStringToken(decodedAsFile(token) + L" : 1", expected);
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

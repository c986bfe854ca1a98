#include <common/internal/StateFile.h>
#include <corekit/json/internal/writer.h>
#include <platform/Utf8.h>

#include <gtest/gtest.h>

#include <string>

#include "JsonSpelling.h"
#include "TestSupport.h"

namespace {

using namespace common;
using testing_support::readFile;
using testing_support::TempDir;

const char kDefaultDocument[] =
    "{\n"
    "    \"head\" : {\n"
    "        \"reference\" : \"master\"\n"
    "    }\n"
    "}\n";

const char kFullDocument[] =
    "{\n"
    "    \"head\" : {\n"
    "        \"commit\" : 42,\n"
    "        \"reference\" : \"dev\"\n"
    "    },\n"
    "    \"renames\" : [\n"
    "        {\n"
    "            \"new\" : \"c.dwg\",\n"
    "            \"previous\" : \"old\\\\c.dwg\"\n"
    "        }\n"
    "    ],\n"
    "    \"staged_files\" : [\n"
    "        {\n"
    "            \"file_change\" : \"modified\",\n"
    "            \"path\" : \"a.dwg\"\n"
    "        },\n"
    "        {\n"
    "            \"file_change\" : \"added\",\n"
    "            \"path\" : \"sub\\\\b.dwg\"\n"
    "        },\n"
    "        {\n"
    "            \"file_change\" : \"removed\",\n"
    "            \"path\" : \"gone.dwg\"\n"
    "        }\n"
    "    ]\n"
    "}\n";

State fullState() {
    State s;
    s.head.reference = L"dev";
    s.head.commit = 42;
    s.stagedFiles = {StagedFile(L"a.dwg", EFileChange::modified),
                     StagedFile(L"sub\\b.dwg", EFileChange::added),
                     StagedFile(L"gone.dwg", EFileChange::removed)};
    s.renames[L"c.dwg"] = L"old\\c.dwg";
    return s;
}

// Text the writer escapes, and elements beyond the ASCII range, which it writes as the C
// library's iswprint says (under glibc's "C" locale each is a \u escape).
State escapedState() {
    State s;
    s.head.reference = L"\u00E9\x01\"\\";
    s.stagedFiles = {StagedFile(L"\U0001F600\xDCFF", EFileChange::added)};
    return s;
}
std::string escapedDocument() {
    const auto beyondAscii = [](const wchar_t* text) {
        return ut::encodeUtf8(testing_support::jsonSpelling(text));
    };
    return "{\n    \"head\" : {\n        \"reference\" : \"" + beyondAscii(L"\u00E9") +
           "\\u0001\\\"\\\\\"\n    },\n"
           "    \"staged_files\" : [\n        {\n            \"file_change\" : \"added\",\n"
           "            \"path\" : \"" +
           beyondAscii(L"\U0001F600\xDCFF") + "\"\n        }\n    ]\n}\n";
}

void expectSameState(const State& a, const State& b) {
    EXPECT_EQ(a.head.reference, b.head.reference);
    EXPECT_TRUE(a.head.commit == b.head.commit);
    EXPECT_EQ(a.stagedFiles, b.stagedFiles);
    EXPECT_EQ(a.renames, b.renames);
}

class StateFile : public ::testing::Test {
protected:
    OdString path() const { return tmp.od("rvk.state"); }
    void store(const std::string& text) const { tmp.writeFile("rvk.state", text); }
    std::string stored() const { return readFile(tmp / "rvk.state"); }
    TempDir tmp;
};

TEST_F(StateFile, DocumentsAreWrittenByteForByteAndReadBack) {
    const struct {
        State state;
        std::string document;
    } cases[] = {{State(), kDefaultDocument},
                 {fullState(), kFullDocument},
                 {escapedState(), escapedDocument()}};
    for (const auto& c : cases) {
        ASSERT_TRUE(writeState(c.state, path()).hasValue());
        EXPECT_EQ(stored(), c.document);
        const Expected<State> back = readState(path());
        ASSERT_TRUE(back.hasValue());
        expectSameState(back.value(), c.state);
        // Both roads agree with their definitions: the document is the JSON tree of the state as
        // the general writer writes it, and the direct road reads it without the general reader.
        const Expected<corekit::json::Value> tree = stateToJson(c.state);
        ASSERT_TRUE(tree.hasValue());
        EXPECT_EQ(ut::encodeUtf8(corekit::json::write_formatted(tree.value())) + "\n", c.document);
        const auto direct =
            parseStateText(c.document.data(), c.document.data() + c.document.size());
        ASSERT_TRUE(direct);
        expectSameState(*direct, c.state);
    }
}

TEST_F(StateFile, WriteNormalisesWhatItReads) {
    // Unknown members are dropped, empty lists left out, renames sorted and the first of two equal
    // "new" paths kept, staged entries kept in file order with duplicates, -1 read as 64 bits.
    store(R"({"extra":1,"head":{"reference":"","commit":-1,"x":true},"staged_files":[
              {"path":"z","file_change":"removed"},{"path":"a","file_change":"added"},
              {"path":"z","file_change":"removed"}],
              "renames":[{"new":"n2","previous":"p2"},{"new":"n1","previous":"p1"},
              {"new":"n2","previous":"dropped"}]})");
    const Expected<State> read = readState(path());
    ASSERT_TRUE(read.hasValue());
    EXPECT_EQ(read.value().head.commit.value_or(0), 18446744073709551615ULL);
    ASSERT_TRUE(writeState(read.value(), path()).hasValue());
    EXPECT_EQ(
        stored(),
        "{\n    \"head\" : {\n        \"commit\" : 18446744073709551615,\n"
        "        \"reference\" : \"\"\n    },\n"
        "    \"renames\" : [\n"
        "        {\n            \"new\" : \"n1\",\n            \"previous\" : \"p1\"\n        },\n"
        "        {\n            \"new\" : \"n2\",\n            \"previous\" : \"p2\"\n        }\n"
        "    ],\n"
        "    \"staged_files\" : [\n"
        "        {\n            \"file_change\" : \"removed\",\n            \"path\" : \"z\"\n"
        "        },\n"
        "        {\n            \"file_change\" : \"added\",\n            \"path\" : \"a\"\n"
        "        },\n"
        "        {\n            \"file_change\" : \"removed\",\n            \"path\" : \"z\"\n"
        "        }\n    ]\n}\n");

    store(R"({"head":{"reference":"m"},"staged_files":[],"renames":[]})");
    ASSERT_TRUE(writeState(readState(path()).value(), path()).hasValue());
    EXPECT_EQ(stored(), "{\n    \"head\" : {\n        \"reference\" : \"m\"\n    }\n}\n");
}

TEST_F(StateFile, BytesInStringsAreReadAsATextFileIsRead) {
    // UTF-8 decoded, an undecodable byte kept as U+DC00 + byte, CR LF read as LF.
    store("{\"head\":{\"reference\":\"\xC3\xA9\r\n\xFF\xE5\x9B\xB3\"}}");
    const Expected<State> read = readState(path());
    ASSERT_TRUE(read.hasValue());
    EXPECT_EQ(read.value().head.reference, OdString(L"\u00E9\n\xDCFF\u56F3"));
    EXPECT_EQ(readStateDocument(path()).value().head.reference, read.value().head.reference);
}

TEST_F(StateFile, TheDirectRoadReadsEveryStringAndSpacingAsTheGeneralReader) {
    // Strings that need an escape, a decoding or a dropped CR, long enough to be read in steps
    // of many bytes, and the spacing of other writers, in place of @ and ~ of this document (with
    // its members in another order than the writer's): each document stays on the direct road and
    // gives the general reader's State.
    const std::string shape =
        R"({~"staged_files"~:~[~{~"path"~:~"@"~,~"file_change"~:~"removed"~}~]~,~"renames"~:~[)"
        R"(~{~"previous"~:~"@"~,~"new"~:~"n"~}~]~,~"head"~:~{~"reference"~:~"@"~}~}~)";
    const std::string name = "dept07/sheet0042/plan-000042.dwg";
    const std::string texts[] = {name,
                                 name + "\\\"" + name,
                                 "\\u00e9" + name + "\\uD83D\\uDE00",
                                 name + "\xC3\xA9\xE5\x9B\xB3\xFF" + name,
                                 name + "\r\n" + name,
                                 std::string(15, 'x') + "\r" + name};
    const std::string spacings[] = {"", " ", "\n" + std::string(12, ' '), "\r\n\t\t\t",
                                    std::string(17, ' ') + "\n\v\f"};
    for (const std::string& text : texts) {
        for (const std::string& spacing : spacings) {
            std::string document;
            for (const char c : shape)
                document += c == '@' ? text : c == '~' ? spacing : std::string(1, c);
            SCOPED_TRACE(document);
            store(document);
            const Expected<State> general = readStateDocument(path());
            ASSERT_TRUE(general.hasValue());
            const auto direct = parseStateText(document.data(), document.data() + document.size());
            ASSERT_TRUE(direct);
            expectSameState(*direct, general.value());
        }
    }
}

TEST_F(StateFile, EveryReadFailureHasItsExactText) {
    const struct {
        const char* text;
        const wchar_t* expected;
    } cases[] = {
        {"", L"Unable to parse json, please check if syntax is valid"},
        {"{", L"Unable to parse json, please check if syntax is valid"},
        {"[]", L"Error:\tExpected json type 'object', found 'array'"},
        {"{}", L"State does not contain HEAD."},
        {R"({"head":{}})", L"HEAD does not point to a branch"},
        {R"({"head":1})", L"Error:\tExpected json type 'object', found 'int'\njson key:\t\"head\""},
        {R"({"head":{"reference":2}})",
         L"Error:\tExpected json type 'string', found 'int'\njson key:\t\"reference\""},
        {R"({"head":{"reference":"m","commit":"1"}})",
         L"Error:\tExpected json type 'int', found 'string'\njson key:\t\"commit\""},
        {R"({"head":{"reference":"m"},"staged_files":{}})",
         L"Error:\tExpected json type 'array', found 'object'\njson key:\t\"staged_files\""},
        {R"({"head":{"reference":"m"},"renames":null})",
         L"Error:\tExpected json type 'array', found 'null'\njson key:\t\"renames\""},
        {R"({"head":{"reference":"m"},"staged_files":[5]})",
         L"Encounterd 'object', found 'int. While parsing json vector.'"},
        {R"({"head":{"reference":"m"},"renames":["x"]})",
         L"Encounterd 'object', found 'string. While parsing json map.'"},
        {R"({"head":{"reference":"m"},"staged_files":[{"path":"a","file_change":"copied"}]})",
         L"Unsupported file change enum: copied"},
        {R"({"head":{"reference":"m"},"staged_files":[{"file_change":"added"}]})",
         L"Unable to find json key 'path'\njson key:\t\"path\""},
        {R"({"head":{"reference":"m"},"staged_files":[{"path":"a","file_change":1}]})",
         L"Error:\tExpected json type 'string', found 'int'\njson key:\t\"file_change\""},
        {R"({"head":{"reference":"m"},"renames":[{"new":"a"}]})",
         L"Unable to find json key 'previous'\njson key:\t\"previous\""},
        {R"({"head":{"reference":"m"},"renames":[{"new":1,"previous":"p"}]})",
         L"Error:\tExpected json type 'string', found 'int'\njson key:\t\"new\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        store(c.text);
        OdString got;
        try {
            const Expected<State> result = readState(path());
            ASSERT_FALSE(result.hasValue());
            got = result.error().message;
        } catch (const OdError& error) {
            got = error.description();
        }
        EXPECT_EQ(got, OdString(c.expected));
    }
}

TEST_F(StateFile, UnsupportedChangeIsRefusedBeforeTheFileIsTouched) {
    store(kDefaultDocument);
    State bad = fullState();
    bad.stagedFiles.emplace_back(L"x", static_cast<EFileChange>(3));
    const Expected<void> unsupported = writeState(bad, path());
    ASSERT_FALSE(unsupported.hasValue());
    EXPECT_EQ(unsupported.error().message, OdString(L"unsupported file change"));
    EXPECT_EQ(stored(), kDefaultDocument);
}

}  // namespace

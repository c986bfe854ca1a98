// The fast roads of the hot paths against the plain definitions they stand in for, on many
// generated inputs: name search against std::regex_match, the state file's direct writer and
// reader against the JSON tree, the narrow-form cache of OdString against a fresh encoding, and
// the folder listing against std::filesystem. Inputs are drawn from pieces that sit on the edges
// each shortcut decides on: line breaks, dots, letters and their neighbours in ASCII, non-ASCII and
// undecodable elements, escapes, pattern characters.
#include <common/StagingExplorer.h>
#include <common/internal/StateFile.h>
#include <corekit/json/internal/writer.h>
#include <platform/Dir.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace common;
using testing_support::TempDir;
using Pieces = std::vector<std::wstring>;

class Generator {
public:
    explicit Generator(unsigned seed) : m_random(seed) {}
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(m_random);
    }
    // Up to `most` pieces, each drawn from `pieces`.
    std::wstring join(const Pieces& pieces, std::size_t most) {
        std::wstring text;
        for (std::size_t n = below(most + 1); n > 0; --n)
            text += pieces[below(pieces.size())];
        return text;
    }

private:
    std::mt19937 m_random;
};

const std::wstring kNul(1, L'\0');
const std::wstring kBeyondUnicode(1, static_cast<wchar_t>(0x110000));

// The text of a path or a string member: printable ASCII with the characters the writer escapes,
// controls, and elements that encode to several bytes or none that decode back.
const Pieces kTextPieces = {
    L"plan",   L"a",          L"Z",      L".",      L".dwg", L"/",          L"\\",     L"\"",
    L" ",      L"\n",         L"\r",     L"\t",     L"\x01", L"\x7f",       L"\u00e9", L"\xDCFF",
    L"\xD800", L"\U0001F600", L"\u00A0", L"\uFEFF", kNul,    kBeyondUnicode};

TEST(Equivalence, NameSearchAgreesWithTheRegularExpression) {
    Generator g(20240611);
    const Pieces prefixes = {L"sub/",   L"my",     L"p",      L"\n", L"\r",
                             L"\u00e9", L"\xDCFF", L"\xD800", L"@",  L"[",
                             L"`",      L"{",      L" ",      kNul,  kBeyondUnicode};
    const Pieces stems = {L"plan", L"lan", L"a", L"plan.dwg", L"planXdwg", L"pla\u00e9n", L""};
    const Pieces tails = {L".dwg", L".bak", L".", L"..", L"2", L".x", L"Z", L".\u00e9", L"\n"};
    const Pieces namePieces = {L"plan", L"lan", L"a",      L"Z", L".",      L"..", L"dwg",
                               L"/",    L"\n",  L"\u00e9", L"@", L"\xDCFF", L" ",  L"`"};
    std::vector<OdString> paths;
    for (int i = 0; i < 400; ++i) {
        paths.emplace_back(g.join(prefixes, 2) + stems[g.below(stems.size())] + g.join(tails, 3));
    }
    std::vector<OdString> names = {
        L"",      L"plan",    L"plan.dwg", L"a.",      L".dwg",
        L"pl?n",  L"(plan)",  L"pl[a]n",   L"a|plan",  L"^plan",
        L"plan$", L"pl\\.an", L"p.*n",     L"plan{1}", OdString(L"pl" + kNul + L"an")};
    for (int i = 0; i < 250; ++i)
        names.emplace_back(g.join(namePieces, 3));

    const TempDir tmp;
    const RootPath root = RootPath::get(tmp.od(), true).value();
    std::size_t matched = 0;
    for (const OdString& path : paths) {
        RepoChanges changes;
        changes.unchanged.emplace_back(path, L"");
        const RepoFileExplorer explorer(changes, root);
        const std::string subject = ut::encodeUtf8(path.wstr());
        for (const OdString& name : names) {
            SCOPED_TRACE("path \"" + subject + "\", name \"" + ut::encodeUtf8(name.wstr()) + "\"");
            std::string pattern = ".*" + ut::encodeUtf8(name.wstr());
            if (!ut::FileName(name).hasExt())
                pattern += "(\\.[a-zA-Z]+)+$";
            std::regex reference;
            try {
                reference.assign(pattern, std::regex::ECMAScript);
            } catch (const std::regex_error&) {
                EXPECT_THROW(explorer.findUnchanged(name), std::regex_error);
                continue;
            }
            const bool expected = std::regex_match(subject, reference);
            matched += expected;
            ASSERT_EQ(explorer.findUnchanged(name), expected ? path : OdString());
        }
    }
    EXPECT_GT(matched, paths.size() * names.size() / 50) << "too few matches to prove anything";
}

State randomState(Generator& g) {
    State state;
    state.head.reference = OdString(g.join(kTextPieces, 3));
    if (g.below(3) != 0)
        state.head.commit = g.below(2) ? g.below(1000) : 18446744073709551615ULL - g.below(3);
    for (std::size_t n = g.below(5); n > 0; --n)
        state.stagedFiles.emplace_back(OdString(g.join(kTextPieces, 6)),
                                       static_cast<EFileChange>(g.below(3)));
    for (std::size_t n = g.below(4); n > 0; --n)
        state.renames[OdString(g.join(kTextPieces, 4))] = OdString(g.join(kTextPieces, 4));
    if (g.below(20) == 0)  // longer than the writer's estimate for it
        state.stagedFiles.emplace_back(OdString(std::wstring(200, L'\x01')), EFileChange::added);
    return state;
}

TEST(Equivalence, StateTextIsTheFormattedDocumentInUtf8) {
    // Which non-ASCII characters are printable, and so written unescaped, follows LC_CTYPE.
    for (const char* locale : {"C", "C.UTF-8"}) {
        const std::string previous = std::setlocale(LC_CTYPE, nullptr);
        if (!std::setlocale(LC_CTYPE, locale))
            continue;
        Generator g(7);
        for (int i = 0; i < 400; ++i) {
            SCOPED_TRACE(std::string(locale) + " state " + std::to_string(i));
            State state = randomState(g);
            if (g.below(10) == 0 && !state.stagedFiles.empty())
                state.stagedFiles[g.below(state.stagedFiles.size())].change =
                    static_cast<EFileChange>(3 + g.below(2));
            const Expected<corekit::json::Value> document = stateToJson(state);
            std::string text;
            const Expected<void> formatted = formatStateText(state, text);
            ASSERT_EQ(formatted.hasValue(), document.hasValue());
            if (!document.hasValue()) {
                EXPECT_EQ(formatted.error().message, document.error().message);
                continue;
            }
            ASSERT_EQ(text,
                      ut::encodeUtf8(corekit::json::write_formatted(document.value())) + "\n");
        }
        std::setlocale(LC_CTYPE, previous.c_str());
    }
}

// The direct road reads every document the writer writes, as the general reader reads it; the
// state file fuzzer holds it to the general reader on every other input.
TEST(Equivalence, WrittenStatesTakeTheDirectRoadToTheGeneralReadersAnswer) {
    Generator g(11);
    TempDir tmp;
    const OdString path = tmp.od("rvk.state");
    for (int i = 0; i < 150; ++i) {
        std::string text;
        if (!formatStateText(randomState(g), text).hasValue())
            continue;
        SCOPED_TRACE(text);
        tmp.writeFile("rvk.state", text);
        const boost::optional<State> fast = parseStateText(text.data(), text.data() + text.size());
        ASSERT_TRUE(fast);
        const Expected<State> general = readStateDocument(path);
        ASSERT_TRUE(general.hasValue());
        EXPECT_EQ(fast->head.reference, general.value().head.reference);
        EXPECT_TRUE(fast->head.commit == general.value().head.commit);
        EXPECT_EQ(fast->stagedFiles, general.value().stagedFiles);
        EXPECT_EQ(fast->renames, general.value().renames);
    }
}

TEST(Equivalence, NarrowFormAlwaysEncodesTheCurrentText) {
    Generator g(3);
    std::vector<OdString> pool(4);
    for (int step = 0; step < 4000; ++step) {
        OdString& a = pool[g.below(pool.size())];
        OdString& b = pool[g.below(pool.size())];
        switch (g.below(8)) {
            case 0:
                a = OdString(g.join(kTextPieces, 3));
                break;
            case 7: {
                // What a folder listing hands out: bytes straight from the file system.
                static const char* const kBytes[] = {
                    "plan",         ".dwg", "\xC3\xA9",         "\xFF",
                    "\xED\xA0\x80", "\n",   "\xF0\x9F\x98\x80", "\xC3"};
                std::string bytes;
                for (std::size_t n = g.below(4); n > 0; --n)
                    bytes += kBytes[g.below(8)];
                a.assignUtf8(bytes.data(), bytes.size());
                ASSERT_EQ(a.wstr(), ut::decodeUtf8(bytes));
                ASSERT_EQ(std::string(a.ansi_str(), a.ansiLength()), bytes);
                break;
            }
            case 1:
                a = b;
                break;
            case 2:
                a = std::move(b);
                break;
            case 3:
                a = OdString(std::move(b));
                break;
            case 4:
                a += b;
                break;
            case 5:
                a.format(L"%ls|%ls", b.c_str(), L"\u00e9");
                break;
            default:
                a.ansi_str();  // fill the cache before the next change
                break;
        }
        for (const OdString& s : pool) {
            ASSERT_EQ(std::string(s.ansi_str(), s.ansiLength()), ut::encodeUtf8(s.wstr()))
                << "step " << step;
        }
    }
}

TEST(Equivalence, ListingOfALargeFolderIsTheSortedFolderContent) {
    // Enough long names to take several reads of the folder.
    TempDir tmp;
    std::vector<std::string> files, folders;
    for (int i = 0; i < 1200; ++i) {
        const std::string name =
            std::to_string(i * 7919 % 1200) + std::string(60, 'n') + "\xC3\xA9";
        if (i % 10 == 0) {
            tmp.makeDir(name);
            folders.push_back(name);
        } else {
            tmp.writeFile(name, "");
            files.push_back(name);
        }
        tmp.writeFile("." + name, "");  // hidden: never listed
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const auto& [flag, expected] :
         {std::make_pair(ut::Dir::kFiles, files), std::make_pair(ut::Dir::kFolders, folders)}) {
        ut::Dir dir(tmp.od());
        std::vector<std::string> listed;
        OdString name;
        for (bool more = dir.getFirst(&name, OdString::kEmpty, flag); more;
             more = dir.getNext(&name)) {
            listed.push_back(ut::encodeUtf8(name.wstr()));
        }
        EXPECT_EQ(listed, expected) << "flag " << flag;
    }
}

}  // namespace

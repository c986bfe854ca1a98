#include <common/internal/StateFile.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include <corekit/json/internal/lexer.h>
#include <corekit/json/internal/reader.h>
#include <corekit/json/internal/writer.h>

#include <common/internal/Messages.h>
#include <platform/OdError.h>
#include <platform/TextFile.h>
#include <platform/Utf8.h>

namespace common {

namespace {

// The member names of the document: the one place they are spelled. The tree road (stateToJson,
// stateFromJson) and the direct one (formatStateText, StateTextParser) both take them from here.
// They are ASCII, so their bytes are their characters.
struct MemberNames {
    std::string_view head, reference, commit, stagedFiles, path, fileChange, renames, next,
        previous;
};
constexpr MemberNames kNames{"head",        "reference", "commit", "staged_files", "path",
                             "file_change", "renames",   "new",    "previous"};

OdString nameOf(std::string_view name) {
    return OdString(std::wstring(name.begin(), name.end()));
}

const OdString kHead = nameOf(kNames.head);
const OdString kReference = nameOf(kNames.reference);
const OdString kCommit = nameOf(kNames.commit);
const OdString kStagedFiles = nameOf(kNames.stagedFiles);
const OdString kPath = nameOf(kNames.path);
const OdString kFileChange = nameOf(kNames.fileChange);
const OdString kRenames = nameOf(kNames.renames);
const OdString kNew = nameOf(kNames.next);
const OdString kPrevious = nameOf(kNames.previous);

const OdString kNoContext;

// The text of a string member whose kind was checked.
OdString stringMember(const Object& object, const OdString& key) {
    const Value& member = getValue(object, key, kNoContext);
    checkType(member, corekit::json::string_type, kNoContext, key);
    return OdString(member.as_string());
}

}  // namespace

// --- writing ---------------------------------------------------------------------------------

Expected<Object> stagedFileToJson(const StagedFile& file) {
    Expected<OdString> change = toString(file.change);
    if (!change.hasValue())
        return change.error();
    Object out;
    out.emplace(kPath.wstr(), Value(file.path.wstr()));
    out.emplace(kFileChange.wstr(), Value(change.value().wstr()));
    return out;
}

Object renameToJson(const OdString& key, const OdString& value) {
    Object out;
    out.emplace(kNew.wstr(), Value(key.wstr()));
    out.emplace(kPrevious.wstr(), Value(value.wstr()));
    return out;
}

Expected<Value> stateToJson(const State& state) {
    Object head;
    head.emplace(kReference.wstr(), Value(state.head.reference.wstr()));
    if (state.head.commit)
        head.emplace(kCommit.wstr(), Value(*state.head.commit));

    Object document;
    document.emplace(kHead.wstr(), Value(std::move(head)));
    if (!state.stagedFiles.empty()) {
        Expected<Array> staged = vectorToJson<StagedFile>(
            state.stagedFiles,
            std::function<Expected<Object>(const StagedFile&)>(&stagedFileToJson));
        if (!staged.hasValue())
            return staged.error();
        document.emplace(kStagedFiles.wstr(), Value(std::move(staged).value()));
    }
    if (!state.renames.empty()) {
        document.emplace(kRenames.wstr(),
                         Value(mapToJson<OdString, OdString>(
                             state.renames, std::function<Object(const OdString&, const OdString&)>(
                                                &renameToJson))));
    }
    return Value(std::move(document));
}

namespace {

// The fixed pieces of the written document, made once from the member names.
struct Layout {
    std::string head, commit, reference, renames, renameNew, renamePrevious, stagedFiles,
        stagedChange, stagedPath;

    static const Layout& get() {
        static const Layout layout;
        return layout;
    }

private:
    Layout() {
        head = "{\n    " + key(kNames.head) + "{\n";
        commit = "        " + key(kNames.commit);
        reference = "        " + key(kNames.reference);
        renames = ",\n    " + key(kNames.renames) + "[\n";
        renameNew = "        {\n            " + key(kNames.next);
        renamePrevious = ",\n            " + key(kNames.previous);
        stagedFiles = ",\n    " + key(kNames.stagedFiles) + "[\n";
        stagedChange = "        {\n            " + key(kNames.fileChange);
        stagedPath = ",\n            " + key(kNames.path);
    }
    // `"name" : `.
    static std::string key(std::string_view name) { return "\"" + std::string(name) + "\" : "; }
};

}  // namespace

Expected<void> formatStateText(const State& state, std::string& out) {
    // The text of a staged entry up to its path, one for each kind of change, made once and
    // checked before anything is written, so a change without a text fails as the first entry
    // that has it, with toString's error.
    const Layout& layout = Layout::get();
    std::string entryStarts[3];
    for (int kind = 0; kind < 3; ++kind) {
        entryStarts[kind] = layout.stagedChange;
        corekit::json::append_string_utf8(entryStarts[kind],
                                          toString(static_cast<EFileChange>(kind)).value().wstr());
        entryStarts[kind] += layout.stagedPath;
    }
    // Enough for ASCII text: the layout of an entry takes at most 85 bytes besides its strings.
    // Escapes may need more, and the text then grows.
    constexpr std::size_t kEntryLayout = 96;
    std::size_t size = 128 + state.head.reference.wstr().size();
    for (const StagedFile& file : state.stagedFiles) {
        const auto kind = static_cast<int>(file.change);
        if (kind < 0 || kind > 2)
            return toString(file.change).error();
        size += kEntryLayout + file.path.wstr().size();
    }
    for (const auto& rename : state.renames)
        size += kEntryLayout + rename.first.wstr().size() + rename.second.wstr().size();
    out.clear();
    out.reserve(size);

    // The layout of write_formatted for the document stateToJson builds: members in key order,
    // four spaces per level, and TextFile's line feed at the end.
    out += layout.head;
    if (state.head.commit) {
        char digits[24];
        out += layout.commit;
        out.append(digits, std::to_chars(digits, digits + sizeof digits, *state.head.commit).ptr);
        out += ",\n";
    }
    out += layout.reference;
    corekit::json::append_string_utf8(out, state.head.reference.wstr());
    out += "\n    }";
    if (!state.renames.empty()) {
        out += layout.renames;
        std::size_t left = state.renames.size();
        for (const auto& rename : state.renames) {
            out += layout.renameNew;
            corekit::json::append_string_utf8(out, rename.first.wstr());
            out += layout.renamePrevious;
            corekit::json::append_string_utf8(out, rename.second.wstr());
            out += --left ? "\n        },\n" : "\n        }\n";
        }
        out += "    ]";
    }
    if (!state.stagedFiles.empty()) {
        out += layout.stagedFiles;
        std::size_t left = state.stagedFiles.size();
        for (const StagedFile& file : state.stagedFiles) {
            out += entryStarts[static_cast<int>(file.change)];
            corekit::json::append_string_utf8(out, file.path.wstr());
            out += --left ? "\n        },\n" : "\n        }\n";
        }
        out += "    ]";
    }
    out += "\n}\n";
    return {};
}

Expected<void> writeState(const State& state, const OdString& path) {
    try {
        std::string text;
        Expected<void> formatted = formatStateText(state, text);
        if (!formatted.hasValue())
            return formatted.error();
        // The one write TextFile::write makes for the text as its only line, without the wide
        // copies of a document that may run to many megabytes.
        if (ut::writeFileAtomically(path, text.data(), text.size()))
            return {};
        return translatedError("Error writing to file '%ls'", path);
    } catch (...) {
        try {
            return translatedError(
                "An unexpected error occurred while deserializing the state file.");
        } catch (...) {
            return ErrorMessage{};  // out of memory even for the message: report without text
        }
    }
}

// --- reading ---------------------------------------------------------------------------------

namespace {

// The document of JSON text, which must be an object.
template <class Char>
Object objectFromText(const Char* begin, const Char* end) {
    Value document;
    if (!corekit::json::read_value(begin, end, document)) {
        throw OdError(translate("Unable to parse json, please check if syntax is valid"));
    }
    checkType(document, corekit::json::object_type, kNoContext, kNoContext);
    return std::move(document.as_object());
}

}  // namespace

Object readJsonObject(const OdString& path) {
    const OdString text = ut::readEntireFile(path);
    return objectFromText(text.c_str(), text.c_str() + text.getLength());
}

Expected<Head> headFromJson(Object head) {
    Head out;
    if (!hasKey(head, kReference))
        return translatedError("HEAD does not point to a branch");
    out.reference = stringMember(head, kReference);
    if (hasKey(head, kCommit)) {
        const Value& commit = getValue(head, kCommit, kNoContext);
        checkType(commit, corekit::json::int_type, kNoContext, kCommit);
        out.commit = commit.as_uint64();
    }
    return out;
}

Expected<StagedFile> stagedFileFromJson(const Object& item) {
    const OdString changeText = stringMember(item, kFileChange);
    Expected<EFileChange> change = toEFileChange(changeText);
    if (!change.hasValue())
        return change.error();
    return StagedFile(stringMember(item, kPath), change.value());
}

Expected<std::vector<StagedFile>> vectorFromJson(Array items) {
    std::vector<StagedFile> out;
    out.reserve(items.size());
    for (const Value& item : items) {
        if (item.type() != corekit::json::object_type) {
            return composeMessage(item, corekit::json::object_type,
                                  OdString(L"parsing json vector."));
        }
        Expected<StagedFile> file = stagedFileFromJson(item.as_object());
        if (!file.hasValue())
            return file.error();
        out.push_back(file.value());
    }
    return out;
}

std::pair<OdString, OdString> renameFromJson(Object item) {
    OdString previous = stringMember(item, kPrevious);
    OdString next = stringMember(item, kNew);
    return {std::move(next), std::move(previous)};
}

Expected<std::map<OdString, OdString>> mapFromJson(Array items) {
    std::map<OdString, OdString> out;
    for (Value& item : items) {
        if (item.type() != corekit::json::object_type) {
            return composeMessage(item, corekit::json::object_type, OdString(L"parsing json map."));
        }
        out.insert(renameFromJson(std::move(item.as_object())));  // the first of a new path stays
    }
    return out;
}

namespace {

Expected<State> stateFromJson(Object document) {
    State state;

    if (!hasKey(document, kHead))
        return translatedError("State does not contain HEAD.");
    Value& head = document[kHead.wstr()];
    checkType(head, corekit::json::object_type, kNoContext, kHead);
    Expected<Head> parsedHead = headFromJson(std::move(head.as_object()));
    if (!parsedHead.hasValue())
        return parsedHead.error();
    state.head = parsedHead.value();

    if (hasKey(document, kStagedFiles)) {
        Value& staged = document[kStagedFiles.wstr()];
        checkType(staged, corekit::json::array_type, kNoContext, kStagedFiles);
        Expected<std::vector<StagedFile>> files = vectorFromJson(std::move(staged.as_array()));
        if (!files.hasValue())
            return files.error();
        state.stagedFiles = std::move(files).value();
    }

    if (hasKey(document, kRenames)) {
        Value& renames = document[kRenames.wstr()];
        checkType(renames, corekit::json::array_type, kNoContext, kRenames);
        Expected<std::map<OdString, OdString>> map = mapFromJson(std::move(renames.as_array()));
        if (!map.hasValue())
            return map.error();
        state.renames = std::move(map).value();
    }
    return state;
}

}  // namespace

Expected<State> readStateDocument(const OdString& path) {
    return stateFromJson(readJsonObject(path));
}

// --- reading the common shape directly ---------------------------------------------------------

namespace {

using corekit::json::Token;

// Reads the state document straight from the tokens of its UTF-8 bytes into a State, for
// documents of the shape writeState writes (with any spacing and any member order). It accepts
// only what it can answer exactly as the general reader would, and declines everything else:
// other members, repeated members, a missing or malformed member, a number that is not an
// unsigned integer, the leniencies of the reader (trailing commas, text after the document).
// A declined document goes to the general reader, which gives its result or its error.
class StateTextParser {
public:
    StateTextParser(const char* begin, const char* end)
        : m_begin(begin), m_end(end), m_lexer(m_begin, end) {
        // ASCII words, as text_is takes them.
        for (int kind = 0; kind < 3; ++kind)
            m_kindTexts[kind] = toString(static_cast<EFileChange>(kind)).value().ansi_str();
    }

    bool parse(State& out) {
        // Staged entries are counted from the braces, so the list is allocated once: StagedFile
        // has no move, and a growing vector would copy every path. The shortest entry takes 33
        // bytes, which bounds the count for a text full of braces.
        constexpr std::size_t kShortestEntry =
            sizeof R"({"":"added","":""})" - 1 + kNames.fileChange.size() + kNames.path.size();
        std::size_t braces = 0;
        for (const char* p = m_begin;
             (p = static_cast<const char*>(std::memchr(p, '{', m_end - p))); ++p) {
            ++braces;
        }
        out.stagedFiles.reserve(
            std::min(braces, static_cast<std::size_t>(m_end - m_begin) / kShortestEntry));
        bool head = false, staged = false, renames = false;
        if (m_lexer.next() != Token::begin_object)
            return false;
        do {
            bool read = false;
            if (!readKey())
                return false;
            if (keyIs(kNames.head) && !head)
                read = head = parseHead(out.head);
            else if (keyIs(kNames.stagedFiles) && !staged)
                read = staged = parseStaged(out.stagedFiles);
            else if (keyIs(kNames.renames) && !renames)
                read = renames = parseRenames(out.renames);
            if (!read)
                return false;
        } while (afterMember());
        return head && m_last == Token::end_object;
    }

private:
    // A member name and its colon; the name stays in the lexer's text.
    bool readKey() { return m_lexer.next() == Token::string && m_lexer.next() == Token::colon; }
    bool keyIs(std::string_view name) const { return m_lexer.text_is(name); }

    // True after a comma; false at anything else, which the caller then expects to be the close.
    bool afterMember() {
        m_last = m_lexer.next();
        return m_last == Token::comma;
    }

    // A string value into `out`.
    bool readString(std::wstring& out) {
        if (m_lexer.next() != Token::string)
            return false;
        out = m_lexer.text();
        return true;
    }

    // A string value naming a kind of change, into `out`.
    bool readChange(EFileChange& out) {
        if (m_lexer.next() != Token::string)
            return false;
        for (int kind = 0; kind < 3; ++kind) {
            if (m_lexer.text_is(m_kindTexts[kind])) {
                out = static_cast<EFileChange>(kind);
                return true;
            }
        }
        return false;
    }

    bool parseHead(Head& head) {
        bool reference = false, commit = false;
        if (m_lexer.next() != Token::begin_object)
            return false;
        do {
            if (!readKey())
                return false;
            std::wstring text;
            if (keyIs(kNames.reference) && !reference) {
                reference = readString(text);
                if (!reference)
                    return false;
                head.reference = OdString(std::move(text));
            } else if (keyIs(kNames.commit) && !commit && m_lexer.next() == Token::unsigned_int) {
                head.commit = m_lexer.unsigned_value();
                commit = true;
            } else {
                return false;
            }
        } while (afterMember());
        return reference && m_last == Token::end_object;
    }

    // The rest of an object, after its '{', of exactly the members `first` and `second`, in
    // either order, whose values `readFirst` and `readSecond` read.
    template <class ReadFirst, class ReadSecond>
    bool readPair(std::string_view first, std::string_view second, ReadFirst readFirst,
                  ReadSecond readSecond) {
        bool haveA = false, haveB = false;
        for (int member = 0; member < 2; ++member) {
            bool read = false;
            if ((member == 1 && m_lexer.next() != Token::comma) || !readKey())
                return false;
            if (keyIs(first) && !haveA)
                read = haveA = readFirst();
            else if (keyIs(second) && !haveB)
                read = haveB = readSecond();
            if (!read)
                return false;
        }
        return m_lexer.next() == Token::end_object;
    }

    // Calls `element` after the '{' of each element of an array of objects; false on anything
    // but a well-formed array of elements that `element` accepts.
    template <class Element>
    bool parseArray(Element element) {
        if (m_lexer.next() != Token::begin_array)
            return false;
        Token token = m_lexer.next();
        if (token == Token::end_array)
            return true;
        for (;;) {
            if (token != Token::begin_object || !element())
                return false;
            token = m_lexer.next();
            if (token == Token::end_array)
                return true;
            if (token != Token::comma)
                return false;
            token = m_lexer.next();
        }
    }

    bool parseStaged(std::vector<StagedFile>& files) {
        return parseArray([&] {
            EFileChange change{};
            std::wstring path;
            if (!readPair(
                    kNames.fileChange, kNames.path, [&] { return readChange(change); },
                    [&] { return readString(path); }))
                return false;
            // Built in place and the path moved in: the constructor would copy it.
            files.emplace_back(OdString::kEmpty, change);
            files.back().path = OdString(std::move(path));
            return true;
        });
    }

    bool parseRenames(std::map<OdString, OdString>& renames) {
        return parseArray([&] {
            std::wstring next, previous;
            if (!readPair(
                    kNames.next, kNames.previous, [&] { return readString(next); },
                    [&] { return readString(previous); }))
                return false;
            renames.emplace(OdString(std::move(next)), OdString(std::move(previous)));
            return true;  // the first entry for a new path stays, as in the general reader
        });
    }

    const char* m_begin;
    const char* const m_end;
    corekit::json::Lexer<char> m_lexer;
    Token m_last = Token::end;
    std::string m_kindTexts[3];
};

}  // namespace

boost::optional<State> parseStateText(const char* begin, const char* end) {
    if (begin == end)
        return boost::none;
    State state;
    if (!StateTextParser(begin, end).parse(state))
        return boost::none;
    return state;
}

Expected<State> readState(const OdString& path) {
    const std::string bytes = ut::readFileBytes(path);
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    if (boost::optional<State> state = parseStateText(begin, end))
        return std::move(*state);
    return stateFromJson(objectFromText(begin, end));
}

}  // namespace common

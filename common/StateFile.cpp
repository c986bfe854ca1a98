#include <common/StateFile.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include <corekit/json/reader.h>
#include <corekit/json/writer.h>

#include <common/Messages.h>
#include <platform/OdError.h>
#include <platform/TextFile.h>
#include <platform/Utf8.h>

namespace common {

namespace {

// Member names of the document, shared by the reader and the writer.
const OdString kHead(L"head");
const OdString kReference(L"reference");
const OdString kCommit(L"commit");
const OdString kStagedFiles(L"staged_files");
const OdString kPath(L"path");
const OdString kFileChange(L"file_change");
const OdString kRenames(L"renames");
const OdString kNew(L"new");
const OdString kPrevious(L"previous");

const OdString kNoContext;

// The text of a string member whose kind was checked.
OdString stringMember(const Object& object, const OdString& key) {
    const Value& member = getValue(object, key, kNoContext);
    checkType(member, corekit::json::string_type, kNoContext, key);
    return OdString(member.as_string());
}

}  // namespace

State::State() = default;
State::State(const State& other) = default;
State::State(State&& other)
    : head(other.head),
      stagedFiles(std::move(other.stagedFiles)),
      renames(std::move(other.renames)) {
    other.stagedFiles.clear();
    other.renames.clear();
}
State& State::operator=(const State& other) = default;
State& State::operator=(State&& other) {
    if (this != &other) {
        head = other.head;
        stagedFiles = std::move(other.stagedFiles);
        renames = std::move(other.renames);
        other.stagedFiles.clear();
        other.renames.clear();
    }
    return *this;
}
State::~State() = default;

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

Expected<void> formatStateText(const State& state, std::string& out) {
    // The texts of the kinds of change, made once and checked before anything is written, so a
    // change without a text fails as the first entry that has it, with toString's error.
    std::string kindTexts[3];
    for (int kind = 0; kind < 3; ++kind) {
        corekit::json::append_string_utf8(kindTexts[kind],
                                          toString(static_cast<EFileChange>(kind)).value().wstr());
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
    out += "{\n    \"head\" : {\n";
    if (state.head.commit) {
        char digits[24];
        out += "        \"commit\" : ";
        out.append(digits, std::to_chars(digits, digits + sizeof digits, *state.head.commit).ptr);
        out += ",\n";
    }
    out += "        \"reference\" : ";
    corekit::json::append_string_utf8(out, state.head.reference.wstr());
    out += "\n    }";
    if (!state.renames.empty()) {
        out += ",\n    \"renames\" : [\n";
        std::size_t left = state.renames.size();
        for (const auto& rename : state.renames) {
            out += "        {\n            \"new\" : ";
            corekit::json::append_string_utf8(out, rename.first.wstr());
            out += ",\n            \"previous\" : ";
            corekit::json::append_string_utf8(out, rename.second.wstr());
            out += --left ? "\n        },\n" : "\n        }\n";
        }
        out += "    ]";
    }
    if (!state.stagedFiles.empty()) {
        out += ",\n    \"staged_files\" : [\n";
        std::size_t left = state.stagedFiles.size();
        for (const StagedFile& file : state.stagedFiles) {
            out += "        {\n            \"file_change\" : ";
            out += kindTexts[static_cast<int>(file.change)];
            out += ",\n            \"path\" : ";
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

Object readJsonObject(const OdString& path) {
    const OdString text = ut::readEntireFile(path);
    const wchar_t* begin = text.c_str();
    Value document;
    if (!corekit::json::read_value(begin, begin + text.getLength(), document)) {
        throw OdError(translate("Unable to parse json, please check if syntax is valid"));
    }
    checkType(document, corekit::json::object_type, kNoContext, kNoContext);
    return std::move(document.as_object());
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

Expected<State> readStateDocument(const OdString& path) {
    State state;
    Object document = readJsonObject(path);

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

// --- reading the common shape directly ---------------------------------------------------------

namespace {

// Reads the state document straight from its UTF-8 bytes into a State, for documents of the shape
// writeState writes (with any spacing and any member order). It accepts only what it can answer
// exactly as the general reader would, and declines everything else: other members, repeated
// members, a missing or malformed member, a number that is not a plain unsigned integer, a string
// with a raw control character (the file utilities would turn CR LF into LF there), any syntax
// the reader's leniency allows. A declined document goes to the general reader, which gives its
// result or its error.
class StateTextParser {
public:
    StateTextParser(const char* begin, const char* end) : m_p(begin), m_end(end) {
        for (int kind = 0; kind < 3; ++kind)
            m_kindTexts[kind] = toString(static_cast<EFileChange>(kind)).value().wstr();
    }

    bool parse(State& out) {
        // Staged entries are counted from the braces, so the list is allocated once: StagedFile
        // has no move, and a growing vector would copy every path. The shortest entry takes 33
        // bytes, which bounds the count for a text full of braces.
        constexpr std::size_t kShortestEntry = sizeof R"({"file_change":"added","path":""})" - 1;
        std::size_t braces = 0;
        for (const char* p = m_p; (p = static_cast<const char*>(std::memchr(p, '{', m_end - p)));
             ++p) {
            ++braces;
        }
        out.stagedFiles.reserve(
            std::min(braces, static_cast<std::size_t>(m_end - m_p) / kShortestEntry));
        bool head = false, staged = false, renames = false;
        if (!take('{'))
            return false;
        do {
            const std::string_view key = readKey();
            if (key == "head" && !head) {
                head = parseHead(out.head);
                if (!head)
                    return false;
            } else if (key == "staged_files" && !staged) {
                staged = parseStaged(out.stagedFiles);
                if (!staged)
                    return false;
            } else if (key == "renames" && !renames) {
                renames = parseRenames(out.renames);
                if (!renames)
                    return false;
            } else {
                return false;
            }
        } while (take(','));
        return head && take('}');
    }

private:
    void skipSpace() {
        while (m_p != m_end && (*m_p == ' ' || (*m_p >= '\t' && *m_p <= '\r')))
            ++m_p;
    }

    bool take(char c) {
        skipSpace();
        if (m_p == m_end || *m_p != c)
            return false;
        ++m_p;
        return true;
    }

    // A member name of plain characters and its colon; empty when it is anything else.
    std::string_view readKey() {
        if (!take('"'))
            return {};
        const char* const begin = m_p;
        while (m_p != m_end && *m_p != '"') {
            if (*m_p == '\\' || static_cast<unsigned char>(*m_p) < 0x20 ||
                static_cast<unsigned char>(*m_p) >= 0x80) {
                return {};
            }
            ++m_p;
        }
        if (m_p == m_end)
            return {};
        const std::string_view key(begin, static_cast<std::size_t>(m_p++ - begin));
        return take(':') ? key : std::string_view();
    }

    // The characters of a string value, as the reader gives them for the file's decoded text.
    bool readString(std::wstring& out) {
        if (!take('"'))
            return false;
        // Most strings are plain ASCII up to the closing quote: widened straight into `out`.
        const char* const quote = std::find_if(m_p, m_end, [](char c) {
            return c == '"' || c == '\\' || static_cast<unsigned char>(c) - 0x20u >= 0x60u;
        });
        if (quote != m_end && *quote == '"') {
            out.resize(static_cast<std::size_t>(quote - m_p));
            std::transform(m_p, quote, out.begin(), [](char c) { return wchar_t(c); });
            m_p = quote + 1;
            return true;
        }
        m_text.clear();
        for (;;) {
            const char* const run = m_p;
            bool wide = false;
            while (m_p != m_end && *m_p != '"' && *m_p != '\\' &&
                   static_cast<unsigned char>(*m_p) >= 0x20) {
                wide |= static_cast<unsigned char>(*m_p) >= 0x80;
                ++m_p;
            }
            const auto size = static_cast<std::size_t>(m_p - run);
            if (wide) {
                // Decoded alone, a run between two ASCII characters gives what decoding the
                // whole file gives there: no UTF-8 sequence spans an ASCII byte.
                m_text += ut::decodeUtf8(run, size);
            } else {
                const std::size_t old = m_text.size();
                m_text.resize(old + size);
                std::transform(run, m_p, &m_text[old], [](char c) { return wchar_t(c); });
            }
            if (m_p == m_end || static_cast<unsigned char>(*m_p) < 0x20)
                return false;
            if (*m_p++ == '"')
                break;
            if (!readEscape())
                return false;
        }
        out.assign(m_text);  // exactly as long as the text, like the reader's copy
        return true;
    }

    bool readEscape() {
        if (m_p == m_end)
            return false;
        switch (*m_p++) {
            case '"':
                m_text += L'"';
                return true;
            case '\\':
                m_text += L'\\';
                return true;
            case '/':
                m_text += L'/';
                return true;
            case 'b':
                m_text += L'\b';
                return true;
            case 'f':
                m_text += L'\f';
                return true;
            case 'n':
                m_text += L'\n';
                return true;
            case 'r':
                m_text += L'\r';
                return true;
            case 't':
                m_text += L'\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        std::uint32_t unit = 0;
        if (!readHex(m_p, unit))
            return false;
        m_p += 4;
        // As the reader joins them: a high-surrogate escape immediately followed by a
        // low-surrogate escape is the one character they encode; any other is one element.
        std::uint32_t low = 0;
        if (unit >= 0xD800 && unit <= 0xDBFF && m_end - m_p >= 6 && m_p[0] == '\\' &&
            m_p[1] == 'u' && readHex(m_p + 2, low) && low >= 0xDC00 && low <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            m_p += 6;
        }
        m_text += static_cast<wchar_t>(unit);
        return true;
    }

    // The four hexadecimal digits at `at`, when there are four.
    bool readHex(const char* at, std::uint32_t& unit) const {
        if (m_end - at < 4)
            return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = at[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0)
                return false;
            unit = unit * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    // A plain unsigned integer: "0" or digits without a leading zero, and no fraction or exponent
    // after them. Beyond 64 bits it saturates, as in the reader.
    bool readCommit(std::uint64_t& out) {
        skipSpace();
        const char* const begin = m_p;
        while (m_p != m_end && *m_p >= '0' && *m_p <= '9')
            ++m_p;
        const auto digits = m_p - begin;
        if (digits == 0 || (*begin == '0' && digits > 1))
            return false;
        if (m_p != m_end && (*m_p == '.' || *m_p == 'e' || *m_p == 'E'))
            return false;
        if (std::from_chars(begin, m_p, out).ec != std::errc())
            out = std::numeric_limits<std::uint64_t>::max();  // well formed, so only too large
        return true;
    }

    bool parseHead(Head& head) {
        bool reference = false, commit = false;
        if (!take('{'))
            return false;
        do {
            const std::string_view key = readKey();
            std::wstring text;
            std::uint64_t number = 0;
            if (key == "reference" && !reference && readString(text)) {
                head.reference = OdString(std::move(text));
                reference = true;
            } else if (key == "commit" && !commit && readCommit(number)) {
                head.commit = number;
                commit = true;
            } else {
                return false;
            }
        } while (take(','));
        return reference && take('}');
    }

    // An object of exactly the two string members `first` and `second`, in either order.
    bool readPair(std::string_view first, std::string_view second, std::wstring& a,
                  std::wstring& b) {
        if (!take('{'))
            return false;
        bool haveA = false, haveB = false;
        for (int member = 0; member < 2; ++member) {
            if (member == 1 && !take(','))
                return false;
            const std::string_view key = readKey();
            if (key == first && !haveA) {
                haveA = readString(a);
                if (!haveA)
                    return false;
            } else if (key == second && !haveB) {
                haveB = readString(b);
                if (!haveB)
                    return false;
            } else {
                return false;
            }
        }
        return take('}');
    }

    // Calls `element` for each element of an array; false on anything but a well-formed array
    // of elements that `element` accepts.
    template <class Element>
    bool parseArray(Element element) {
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!element())
                return false;
        } while (take(','));
        return take(']');
    }

    bool parseStaged(std::vector<StagedFile>& files) {
        std::wstring change, path;
        return parseArray([&] {
            if (!readPair("file_change", "path", change, path))
                return false;
            const auto kind = std::find(std::begin(m_kindTexts), std::end(m_kindTexts), change);
            if (kind == std::end(m_kindTexts))
                return false;
            // Built in place and the path moved in: the constructor would copy it.
            files.emplace_back(OdString::kEmpty,
                               static_cast<EFileChange>(kind - std::begin(m_kindTexts)));
            files.back().path = OdString(std::move(path));
            return true;
        });
    }

    bool parseRenames(std::map<OdString, OdString>& renames) {
        std::wstring next, previous;
        return parseArray([&] {
            if (!readPair("new", "previous", next, previous))
                return false;
            renames.emplace(OdString(std::move(next)), OdString(std::move(previous)));
            return true;  // the first entry for a new path stays, as in the general reader
        });
    }

    const char* m_p;
    const char* const m_end;
    std::wstring m_text;  // the string being read, reused for every string
    std::wstring m_kindTexts[3];
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
    {
        const std::string bytes = ut::readFileBytes(path);
        boost::optional<State> state = parseStateText(bytes.data(), bytes.data() + bytes.size());
        if (state)
            return std::move(*state);
    }
    return readStateDocument(path);
}

}  // namespace common

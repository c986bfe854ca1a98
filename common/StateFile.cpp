#include <common/StateFile.h>

#include <corekit/json/reader.h>
#include <corekit/json/writer.h>

#include <common/Messages.h>
#include <platform/OdError.h>
#include <platform/TextFile.h>

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

Expected<void> writeState(const State& state, const OdString& path) {
    try {
        Expected<Value> document = stateToJson(state);
        if (!document.hasValue())
            return document.error();
        ut::TextFile file(path);
        file.addLine(OdString(corekit::json::write_formatted(document.value())));
        if (file.write(nullptr, nullptr, 0))
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

Expected<State> readState(const OdString& path) {
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

}  // namespace common

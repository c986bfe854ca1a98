// Reading and writing the state file: the State and its JSON document.
//
// The document is an object with "head" ({"reference", "commit"}), "staged_files" (objects with
// "path" and "file_change") and "renames" (objects with "new" and "previous"). The lists are
// written only when not empty, members always in key order, in write_formatted's layout; members
// the reader does not know are dropped on the next write. Internal to the library: the Cache is
// its only caller.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>
#include <common/JsonAccess.h>
#include <common/State.h>

namespace common {

// The State stored in the file at `path`, or an ErrorMessage. A file that is not JSON throws
// OdError ("Unable to parse json, please check if syntax is valid"); a member of the wrong kind or
// a missing required member of an element throws JsonParseError. Nothing partial survives a
// failure.
//
// The result is always readStateDocument's. The file is read once, as bytes: documents in the
// shape writeState writes go straight from their tokens into a State (parseStateText), which is
// many times faster for a large state than building the JSON tree; any other document is read
// into the tree from the same bytes and converted as readStateDocument converts it.
Expected<State> readState(const OdString& path);

// Replaces the file at `path` with the document of `state` (atomically: a failed write leaves the
// old file). Success, or "Error writing to file '%ls'", or the error of a staged entry whose change
// has no text, or "An unexpected error occurred while deserializing the state file." for anything
// thrown on the way. Never throws.
//
// The bytes written are the UTF-8 form of write_formatted(stateToJson(state)) and a line feed,
// made by formatStateText without building the JSON tree.
Expected<void> writeState(const State& state, const OdString& path);

// The general reader: the whole file through ut::readEntireFile, read_value and the typed access,
// with readState's results, errors and exceptions. readState's answer whenever parseStateText
// declines a document.
Expected<State> readStateDocument(const OdString& path);

// The State of a UTF-8 document in the shape writeState writes (any spacing, members in any
// order), or none when the document holds anything else: other or repeated members, a missing or
// malformed member, numbers other than unsigned ones, the reader's leniencies, any syntax error.
// Its tokens are the JSON reader's, so strings and numbers read exactly as there. When it gives a
// State, that State equals what readStateDocument gives for a file holding these bytes.
boost::optional<State> parseStateText(const char* begin, const char* end);

// Replaces `out` with the bytes writeState writes for `state`: the UTF-8 form of
// write_formatted(stateToJson(state)) followed by a line feed. Fails, leaving `out` unspecified,
// with toString's error for the first staged entry whose change has no text.
Expected<void> formatStateText(const State& state, std::string& out);

// The steps of the two operations, exposed for the tests.
Expected<Value> stateToJson(const State& state);
Expected<Object> stagedFileToJson(const StagedFile& file);
Object renameToJson(const OdString& key, const OdString& value);
Object readJsonObject(const OdString& path);
Expected<Head> headFromJson(Object head);
Expected<std::vector<StagedFile>> vectorFromJson(Array items);
Expected<StagedFile> stagedFileFromJson(const Object& item);
Expected<std::map<OdString, OdString>> mapFromJson(Array items);
std::pair<OdString, OdString> renameFromJson(Object item);

// The array of the converted items, or the first error.
template <typename T>
Expected<Array> vectorToJson(const std::vector<T>& items,
                             std::function<Expected<Object>(const T&)> convert) {
    Array out;
    out.reserve(items.size());
    for (const T& item : items) {
        Expected<Object> converted = convert(item);
        if (!converted.hasValue())
            return converted.error();
        out.emplace_back(std::move(converted).value());
    }
    return out;
}

// The array of the converted entries, in key order.
template <typename K, typename V>
Array mapToJson(const std::map<K, V>& entries, std::function<Object(const K&, const V&)> convert) {
    Array out;
    out.reserve(entries.size());
    for (const auto& entry : entries)
        out.emplace_back(convert(entry.first, entry.second));
    return out;
}

}  // namespace common

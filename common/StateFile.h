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
#include <utility>
#include <vector>

#include <common/Expected.h>
#include <common/JsonAccess.h>
#include <common/State.h>

namespace common {

// The State stored in the file at `path`, or an ErrorMessage. A file that is not JSON throws
// OdError ("Unable to parse json, please check if syntax is valid"); a member of the wrong kind or
// a missing required member of an element throws JsonParseError. Nothing partial survives a
// failure.
Expected<State> readState(const OdString& path);

// Replaces the file at `path` with the document of `state` (atomically: a failed write leaves the
// old file). Success, or "Error writing to file '%ls'", or the error of a staged entry whose change
// has no text, or "An unexpected error occurred while deserializing the state file." for anything
// thrown on the way. Never throws.
Expected<void> writeState(const State& state, const OdString& path);

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

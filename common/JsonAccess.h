// Typed access to the members of a JSON object.
//
// Each getter looks a member up by key, checks its kind and returns it; a missing key or a wrong
// kind throws JsonParseError, whose text says what was expected, what was found, what the caller
// was reading (the context) and which key. The texts are English and never translated:
//
//   Unable to find json key 'head'
//   Context:<TAB>State
//   json key:<TAB>"head"
//
// The Context line is left out when the context is empty, the key line when the key is.
#pragma once

#include <cstdint>

#include <corekit/json/value.h>

#include <common/Expected.h>
#include <common/Export.h>
#include <platform/OdError.h>
#include <platform/OdString.h>

namespace common {

// A member that is missing or of the wrong kind. Caught as JsonParseError or as OdError.
class RVK_EXPORT JsonParseError : public OdError {
public:
    explicit JsonParseError(const OdString& message);
    JsonParseError(const JsonParseError& other);
    JsonParseError(JsonParseError&& other);
    JsonParseError& operator=(const JsonParseError& other);
    JsonParseError& operator=(JsonParseError&& other);
    ~JsonParseError() override;
};

using corekit::json::Array;
using corekit::json::Object;
using corekit::json::Value;
using corekit::json::Value_type;

// The member `key` of `object`; throws "Unable to find json key '%ls'" when there is none.
// Returned references point into `object`.
RVK_EXPORT const Value& getValue(const Object& object, const OdString& key,
                                 const OdString& context);
RVK_EXPORT const Object& getObjectValue(const Object& object, const OdString& key,
                                        const OdString& context);
RVK_EXPORT const Array& getArrayValue(const Object& object, const OdString& key,
                                      const OdString& context);
// The member's characters up to the first U+0000.
RVK_EXPORT OdString getStringValue(const Object& object, const OdString& key,
                                   const OdString& context);
// The string's characters up to the first U+0000; throws (with no context or key line) when
// `value` is not a string.
RVK_EXPORT OdString getStringValue(const Value& value);
// The low 32 bits of the integer, without a range check.
RVK_EXPORT int getIntValue(const Object& object, const OdString& key, const OdString& context);
// The 64 bits read as signed / unsigned, whatever sign the number was read with.
RVK_EXPORT std::int64_t getInt64Value(const Object& object, const OdString& key,
                                      const OdString& context);
RVK_EXPORT std::uint64_t getUInt64Value(const Object& object, const OdString& key,
                                        const OdString& context);
RVK_EXPORT bool getBoolValue(const Object& object, const OdString& key, const OdString& context);
// A real member; an integer member is refused, not converted.
RVK_EXPORT double getDoubleValue(const Object& object, const OdString& key,
                                 const OdString& context);
RVK_EXPORT bool hasKey(const Object& object, const OdString& key);

// Returns when `value` is of kind `expected`; throws "Error:\tExpected json type '%ls', found
// '%ls'" with context and key lines otherwise. Note the order: context before key.
RVK_EXPORT void checkType(const Value& value, Value_type expected, const OdString& context,
                          const OdString& key);
// Always composes (it does not compare the kinds) the error "Encounterd '<expected>', found
// '<kind of value>. While <context>'", code 0.
RVK_EXPORT ErrorMessage composeMessage(const Value& value, Value_type expected,
                                       const OdString& context);
// "object", "array", "string", "bool", "int", "real", "null", or "unknown_type".
RVK_EXPORT OdString toString(Value_type type);

}  // namespace common

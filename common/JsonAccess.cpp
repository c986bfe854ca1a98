#include <common/JsonAccess.h>

namespace common {

namespace {

OdString formatted(const wchar_t* fmt, const OdString& a) {
    OdString out;
    out.format(fmt, a.c_str());
    return out;
}

OdString withContextAndKey(OdString message, const OdString& context, const OdString& key) {
    if (!context.isEmpty())
        message += formatted(L"\nContext:\t%ls", context);
    if (!key.isEmpty())
        message += formatted(L"\njson key:\t\"%ls\"", key);
    return message;
}

OdString typeMismatch(Value_type expected, Value_type found) {
    OdString out;
    out.format(L"Error:\tExpected json type '%ls', found '%ls'", toString(expected).c_str(),
               toString(found).c_str());
    return out;
}

const Value& typedMember(const Object& object, const OdString& key, const OdString& context,
                         Value_type kind) {
    const Value& member = getValue(object, key, context);
    checkType(member, kind, context, key);
    return member;
}

OdString upToFirstZero(const std::wstring& text) {
    return OdString(text.c_str());
}

}  // namespace

JsonParseError::JsonParseError(const OdString& message) : OdError(message) {}
JsonParseError::JsonParseError(const JsonParseError& other) = default;
JsonParseError::JsonParseError(JsonParseError&& other) : OdError(other) {}
JsonParseError& JsonParseError::operator=(const JsonParseError& other) = default;
JsonParseError& JsonParseError::operator=(JsonParseError&& other) {
    OdError::operator=(other);
    return *this;
}
JsonParseError::~JsonParseError() = default;

const Value& getValue(const Object& object, const OdString& key, const OdString& context) {
    const auto found = object.find(key.wstr());
    if (found == object.end()) {
        throw JsonParseError(
            withContextAndKey(formatted(L"Unable to find json key '%ls'", key), context, key));
    }
    return found->second;
}

const Object& getObjectValue(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::object_type).as_object();
}

const Array& getArrayValue(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::array_type).as_array();
}

OdString getStringValue(const Object& object, const OdString& key, const OdString& context) {
    return upToFirstZero(typedMember(object, key, context, corekit::json::string_type).as_string());
}

OdString getStringValue(const Value& value) {
    if (value.type() != corekit::json::string_type) {
        throw JsonParseError(typeMismatch(corekit::json::string_type, value.type()));
    }
    return upToFirstZero(value.as_string());
}

int getIntValue(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::int_type).as_int();
}

std::int64_t getInt64Value(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::int_type).as_int64();
}

std::uint64_t getUInt64Value(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::int_type).as_uint64();
}

bool getBoolValue(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::bool_type).as_bool();
}

double getDoubleValue(const Object& object, const OdString& key, const OdString& context) {
    return typedMember(object, key, context, corekit::json::real_type).as_real();
}

bool hasKey(const Object& object, const OdString& key) {
    return object.count(key.wstr()) != 0;
}

void checkType(const Value& value, Value_type expected, const OdString& context,
               const OdString& key) {
    if (value.type() == expected)
        return;
    throw JsonParseError(withContextAndKey(typeMismatch(expected, value.type()), context, key));
}

ErrorMessage composeMessage(const Value& value, Value_type expected, const OdString& context) {
    const OdString fmt("Encounterd '%ls', found '%ls. While %ls'", kCodePageUtf8);
    OdString text;
    text.format(fmt.c_str(), toString(expected).c_str(), toString(value.type()).c_str(),
                context.c_str());
    return ErrorMessage{text, 0};
}

OdString toString(Value_type type) {
    switch (type) {
        case corekit::json::object_type:
            return OdString(L"object");
        case corekit::json::array_type:
            return OdString(L"array");
        case corekit::json::string_type:
            return OdString(L"string");
        case corekit::json::bool_type:
            return OdString(L"bool");
        case corekit::json::int_type:
            return OdString(L"int");
        case corekit::json::real_type:
            return OdString(L"real");
        case corekit::json::null_type:
            return OdString(L"null");
    }
    return OdString(L"unknown_type");
}

}  // namespace common

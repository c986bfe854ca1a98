// The in-memory JSON tree: one value type holding any of the seven JSON kinds.
//
// A Value owns everything below it. Objects are ordered maps (members iterate in ascending
// code-unit order of their keys, whatever order they were added in), arrays are vectors, strings
// are wide strings holding one code unit or code point per element. Copying a Value copies the
// whole tree; moving one is a pointer swap that leaves the source null, which is how documents are
// meant to be built: fill an Object or Array, then move it into a Value.
//
//     Object member;
//     member[L"path"] = std::wstring(L"plan.dwg");
//     Array files;
//     files.emplace_back(std::move(member));
//     Value doc{Object{}};
//     doc.as_object()[L"files"] = std::move(files);
//
// Values have no equality or ordering; compare the parts you care about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <corekit/json/export.h>

namespace corekit {
namespace json {

// The kind of a value. The numbers are fixed: they appear in ValueError texts and in the names
// that the typed access layer gives them.
enum Value_type : int {
    object_type = 0,
    array_type = 1,
    string_type = 2,
    bool_type = 3,
    int_type = 4,
    real_type = 5,
    null_type = 6,
};

// Thrown by the accessors of Value_impl when a value is not of the kind asked for. what() is the
// English text "value type is <actual> not <expected>" with both kinds as decimal numbers.
// Exported, so that a host catches the very type the library throws.
struct COREKIT_EXPORT ValueError : std::runtime_error {
    explicit ValueError(const std::string& message) : std::runtime_error(message) {}
};

template <class Config>
class Value_impl;

// Picks the string type of a value tree and derives its container types from it.
template <class S>
struct Config_map {
    using String = S;
    using Object = std::map<S, Value_impl<Config_map>>;
    using Array = std::vector<Value_impl<Config_map>>;
};

// One JSON value. Objects, arrays and strings live on the heap behind an owning pointer, so a
// value is three words wide and moves never touch the contents.
template <class Config>
class Value_impl {
public:
    using String = typename Config::String;
    using Object = typename Config::Object;
    using Array = typename Config::Array;
    using Char = typename String::value_type;

    // null.
    Value_impl() noexcept { payload_.bits = 0; }

    // Kind string.
    Value_impl(const Char* text) : Value_impl(String(text)) {}
    Value_impl(String text) {
        payload_.string = new String(std::move(text));
        type_ = string_type;
    }

    // Kind int. The unsigned flag records which of the two the payload holds.
    Value_impl(std::uint64_t number) noexcept : type_(int_type), unsigned_(true) {
        payload_.bits = number;
    }
    Value_impl(std::int64_t number) noexcept : type_(int_type) {
        payload_.bits = static_cast<std::uint64_t>(number);
    }

    // Any other integer type goes to the int64/uint64 constructor of its signedness, so `Value(5)`
    // is a signed int instead of an ambiguity between int64, uint64, bool and double.
    template <class T, std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                                        int> = 0>
    Value_impl(T number) noexcept
        : Value_impl(
              std::conditional_t<std::is_signed<T>::value, std::int64_t, std::uint64_t>(number)) {}

    Value_impl(bool flag) noexcept : type_(bool_type) {
        payload_.bits = 0;
        payload_.boolean = flag;
    }

    Value_impl(double number) noexcept : type_(real_type) { payload_.real = number; }

    // Kind object or array; the container is taken over and the argument left empty.
    Value_impl(Object&& object) {
        payload_.object = new Object(std::move(object));
        object.clear();  // a moved-from map is only promised to be valid; callers rely on empty
        type_ = object_type;
    }
    Value_impl(Array&& array) {
        payload_.array = new Array(std::move(array));
        array.clear();
        type_ = array_type;
    }

    // Traps: a character would silently become a number, a narrow string or any other pointer a
    // bool, and a null pointer a crash inside the string constructor.
    Value_impl(char) = delete;
    Value_impl(wchar_t) = delete;
    Value_impl(char16_t) = delete;
    Value_impl(char32_t) = delete;
    Value_impl(std::nullptr_t) = delete;
    template <class T>
    Value_impl(const T*) = delete;

    Value_impl(const Value_impl& other) : type_(other.type_), unsigned_(other.unsigned_) {
        switch (other.type_) {
            case object_type:
                payload_.object = new Object(*other.payload_.object);
                break;
            case array_type:
                payload_.array = new Array(*other.payload_.array);
                break;
            case string_type:
                payload_.string = new String(*other.payload_.string);
                break;
            default:
                payload_ = other.payload_;
                break;
        }
    }

    Value_impl(Value_impl&& other) noexcept
        : type_(other.type_), payload_(other.payload_), unsigned_(other.unsigned_) {
        other.type_ = null_type;
        other.unsigned_ = false;
        other.payload_.bits = 0;
    }

    // Both assignments build the new contents before releasing the old ones, so assigning a value
    // from inside its own tree (`v = v.as_array()[0]`) is safe.
    Value_impl& operator=(const Value_impl& other) {
        Value_impl copy(other);
        swap(copy);
        return *this;
    }
    Value_impl& operator=(Value_impl&& other) noexcept {
        Value_impl taken(std::move(other));
        swap(taken);
        return *this;
    }

    ~Value_impl() { release(); }

    void swap(Value_impl& other) noexcept {
        std::swap(type_, other.type_);
        std::swap(unsigned_, other.unsigned_);
        std::swap(payload_, other.payload_);
    }

    Value_type type() const noexcept { return type_; }

    // Meaningful for kind int only: true when the payload is a uint64.
    bool is_unsigned() const noexcept { return unsigned_; }

    // Throws ValueError unless the value is of kind `expected`.
    void expect_type(Value_type expected) const {
        if (type_ != expected) {
            throw ValueError("value type is " + std::to_string(static_cast<int>(type_)) + " not " +
                             std::to_string(static_cast<int>(expected)));
        }
    }

    const Object& as_object() const {
        expect_type(object_type);
        return *payload_.object;
    }
    Object& as_object() {
        expect_type(object_type);
        return *payload_.object;
    }
    const Array& as_array() const {
        expect_type(array_type);
        return *payload_.array;
    }
    Array& as_array() {
        expect_type(array_type);
        return *payload_.array;
    }
    const String& as_string() const {
        expect_type(string_type);
        return *payload_.string;
    }
    bool as_bool() const {
        expect_type(bool_type);
        return payload_.boolean;
    }

    // The three integer accessors reinterpret the 64 payload bits whatever the unsigned flag says:
    // a signed -1 reads as uint64 18446744073709551615, and as_int() keeps only the low 32 bits.
    std::int64_t as_int64() const {
        expect_type(int_type);
        return static_cast<std::int64_t>(payload_.bits);
    }
    std::uint64_t as_uint64() const {
        expect_type(int_type);
        return payload_.bits;
    }
    int as_int() const {
        expect_type(int_type);
        return static_cast<int>(static_cast<std::uint32_t>(payload_.bits));
    }

    // An int converts (by its own signedness); any other kind but real throws.
    double as_real() const {
        if (type_ == int_type) {
            return unsigned_ ? static_cast<double>(payload_.bits)
                             : static_cast<double>(static_cast<std::int64_t>(payload_.bits));
        }
        expect_type(real_type);
        return payload_.real;
    }

private:
    union Payload {
        Object* object;
        Array* array;
        String* string;
        bool boolean;
        std::uint64_t bits;
        double real;
    };

    void release() noexcept {
        switch (type_) {
            case object_type:
                delete payload_.object;
                break;
            case array_type:
                delete payload_.array;
                break;
            case string_type:
                delete payload_.string;
                break;
            default:
                break;
        }
    }

    // Kind, payload, unsigned flag: the payload of a null is all zero bits.
    Value_type type_ = null_type;
    Payload payload_;
    bool unsigned_ = false;
};

template <class Config>
void swap(Value_impl<Config>& a, Value_impl<Config>& b) noexcept {
    a.swap(b);
}

using Value = Value_impl<Config_map<std::wstring>>;
using Object = Value::Object;
using Array = Value::Array;

}  // namespace json
}  // namespace corekit

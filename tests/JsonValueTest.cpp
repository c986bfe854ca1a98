#include <corekit/json/value.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

using corekit::json::Array;
using corekit::json::Object;
using corekit::json::Value;
using corekit::json::ValueError;

// Conversions that would silently pick the wrong kind must not compile; lvalue containers must be
// moved in explicitly; moving must not throw, or vectors of values would copy on growth.
static_assert(!std::is_constructible<Value, const char*>::value, "narrow text is not a bool");
static_assert(!std::is_constructible<Value, int*>::value, "a pointer is not a bool");
static_assert(!std::is_constructible<Value, wchar_t>::value, "a character is not a number");
static_assert(!std::is_constructible<Value, std::nullptr_t>::value, "null pointer");
static_assert(!std::is_constructible<Value, Object&>::value, "containers are moved in");
static_assert(std::is_nothrow_move_constructible<Value>::value, "cheap vector growth");

TEST(JsonValue, IntegerAccessorsReinterpretThe64Bits) {
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::int64_t min = std::numeric_limits<std::int64_t>::min();
    struct Case {
        Value value;
        bool is_unsigned;
        std::int64_t as_int64;
        std::uint64_t as_uint64;
        int as_int;
        double as_real;
    };
    const Case cases[] = {
        {Value(max), true, -1, max, -1, 18446744073709551616.0},
        {Value(std::int64_t{-1}), false, -1, max, -1, -1.0},
        {Value(std::uint64_t{4294967297}), true, 4294967297, 4294967297, 1, 4294967297.0},
        {Value(std::int64_t{2147483648}), false, 2147483648, 2147483648, -2147483647 - 1,
         2147483648.0},
        {Value(min), false, min, 9223372036854775808u, 0, -9223372036854775808.0},
        {Value(5), false, 5, 5, 5, 5.0},  // an int literal is a signed int, not an ambiguity
        {Value(5u), true, 5, 5, 5, 5.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.as_int64);
        EXPECT_EQ(c.value.type(), corekit::json::int_type);
        EXPECT_EQ(c.value.is_unsigned(), c.is_unsigned);
        EXPECT_EQ(c.value.as_int64(), c.as_int64);
        EXPECT_EQ(c.value.as_uint64(), c.as_uint64);
        EXPECT_EQ(c.value.as_int(), c.as_int);
        EXPECT_EQ(c.value.as_real(), c.as_real);
    }
}

TEST(JsonValue, WrongKindThrowsWithActualThenExpectedKind) {
    const Value text(L"s"), number(5);
    struct Case {
        std::function<void()> access;
        const char* message;
    };
    const Case cases[] = {
        {[&] { text.as_object(); }, "value type is 2 not 0"},
        {[&] { number.as_string(); }, "value type is 4 not 2"},
        {[&] { number.as_bool(); }, "value type is 4 not 3"},
        {[&] { Value(1.5).as_int64(); }, "value type is 5 not 4"},
        {[&] { Value(Array{}).as_int(); }, "value type is 1 not 4"},
        {[&] { text.as_real(); }, "value type is 2 not 5"},
        {[&] { Value(Object{}).expect_type(corekit::json::null_type); }, "value type is 0 not 6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            c.access();
            ADD_FAILURE() << "no exception";
        } catch (const ValueError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(JsonValue, CopiesAreDeepAndMovedFromValuesAreNull) {
    Object inner;
    inner[L"k"] = L"v";
    Object outer;
    outer[L"o"] = std::move(inner);
    outer[L"a"] = Array{Value(1)};
    EXPECT_TRUE(inner.empty());
    const Value original(std::move(outer));
    EXPECT_TRUE(outer.empty());

    Value copy = original;
    Value assigned;
    EXPECT_EQ(assigned.type(), corekit::json::null_type);
    assigned = original;
    for (Value* changed : {&copy, &assigned}) {
        changed->as_object()[L"o"].as_object()[L"k"] = L"changed";
        changed->as_object()[L"a"].as_array().emplace_back();
    }
    EXPECT_EQ(original.as_object().at(L"o").as_object().at(L"k").as_string(), L"v");
    EXPECT_EQ(original.as_object().at(L"a").as_array().size(), 1u);

    Value moved(std::move(copy));
    EXPECT_EQ(copy.type(), corekit::json::null_type);
    Value target(L"old");
    target = std::move(moved);
    EXPECT_EQ(moved.type(), corekit::json::null_type);
    EXPECT_EQ(target.as_object().at(L"a").as_array().size(), 2u);

    // Replacing a value by a part of itself must not read the part after freeing it.
    target = target.as_object().at(L"o");
    EXPECT_EQ(target.as_object().at(L"k").as_string(), L"changed");
    target = std::move(target.as_object()[L"k"]);
    EXPECT_EQ(target.as_string(), L"changed");
}

}  // namespace

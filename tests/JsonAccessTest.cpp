#include <common/JsonAccess.h>

#include <gtest/gtest.h>

#include <functional>

#include "TestSupport.h"

namespace {

using namespace common;
namespace json = corekit::json;

// The description of the JsonParseError that `call` throws; fails the test when nothing is thrown.
OdString thrownText(const std::function<void()>& call) {
    try {
        call();
    } catch (const JsonParseError& error) {
        return error.description();
    }
    ADD_FAILURE() << "no JsonParseError was thrown";
    return OdString();
}

Object sample() {
    Object o;
    o.emplace(L"big", Value(std::uint64_t{4294967297ULL}));
    o.emplace(L"minus", Value(std::int64_t{-1}));
    o.emplace(L"max", Value(std::uint64_t{18446744073709551615ULL}));
    o.emplace(L"n", Value(std::uint64_t{1}));
    o.emplace(L"r", Value(2.5));
    o.emplace(L"b", Value(true));
    o.emplace(L"s", Value(std::wstring(L"a\0b", 3)));
    o.emplace(L"o", Value(Object{}));
    o.emplace(L"a", Value(Array{}));
    return o;
}

TEST(JsonTypedAccess, MissingKeyNamesContextAndKey) {
    const Object empty;
    const struct {
        const wchar_t* key;
        const wchar_t* context;
        const wchar_t* expected;
    } cases[] = {
        {L"head", L"State",
         L"Unable to find json key 'head'\nContext:\tState\njson key:\t\"head\""},
        {L"head", L"", L"Unable to find json key 'head'\njson key:\t\"head\""},
        {L"", L"", L"Unable to find json key ''"},
        {L"", L"Ctx", L"Unable to find json key ''\nContext:\tCtx"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OdString(c.expected).ansi_str());
        EXPECT_EQ(thrownText([&] { getValue(empty, c.key, c.context); }), OdString(c.expected));
        EXPECT_EQ(thrownText([&] { getBoolValue(empty, c.key, c.context); }), OdString(c.expected));
    }
}

TEST(JsonTypedAccess, WrongKindIsRefusedBeforeAnyConversion) {
    const Object o = sample();
    const struct {
        std::function<void()> call;
        const wchar_t* expected;
    } cases[] = {
        {[&] { getDoubleValue(o, L"n", L""); },
         L"Error:\tExpected json type 'real', found 'int'\njson key:\t\"n\""},
        {[&] { getObjectValue(o, L"a", L"ctx"); },
         L"Error:\tExpected json type 'object', found 'array'\nContext:\tctx\njson key:\t\"a\""},
        {[&] { getArrayValue(o, L"s", L""); },
         L"Error:\tExpected json type 'array', found 'string'\njson key:\t\"s\""},
        {[&] { getStringValue(o, L"b", L""); },
         L"Error:\tExpected json type 'string', found 'bool'\njson key:\t\"b\""},
        {[&] { getIntValue(o, L"r", L""); },
         L"Error:\tExpected json type 'int', found 'real'\njson key:\t\"r\""},
        {[&] { getBoolValue(o, L"o", L""); },
         L"Error:\tExpected json type 'bool', found 'object'\njson key:\t\"o\""},
        {[&] { getStringValue(Value()); }, L"Error:\tExpected json type 'string', found 'null'"},
        {[&] { checkType(Value(1.0), json::int_type, L"C", L"K"); },
         L"Error:\tExpected json type 'int', found 'real'\nContext:\tC\njson key:\t\"K\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(OdString(c.expected).ansi_str());
        EXPECT_EQ(thrownText(c.call), OdString(c.expected));
    }
}

TEST(JsonTypedAccess, IntegersAreReinterpretedNotRangeChecked) {
    const Object o = sample();
    EXPECT_EQ(getIntValue(o, L"big", L""), 1);
    EXPECT_EQ(getUInt64Value(o, L"minus", L""), 18446744073709551615ULL);
    EXPECT_EQ(getInt64Value(o, L"max", L""), -1);
    EXPECT_EQ(getDoubleValue(o, L"r", L""), 2.5);
    EXPECT_TRUE(getBoolValue(o, L"b", L""));
    EXPECT_EQ(getStringValue(o, L"s", L""), OdString(L"a"));
    EXPECT_TRUE(getObjectValue(o, L"o", L"").empty());
    EXPECT_EQ(&getValue(o, L"a", L""), &o.at(L"a"));
}

TEST(JsonTypedAccess, ComposedMessageNamesBothKindsAndWhatWasBeingDone) {
    const ErrorMessage m = composeMessage(Value(L"x"), json::object_type, L"parsing json map.");
    EXPECT_EQ(m.message, OdString(L"Encounterd 'object', found 'string. While parsing json map.'"));
    EXPECT_EQ(m.code, 0);
}

TEST(JsonTypedAccess, EveryKindHasItsNameAndAnyOtherValueIsUnknown) {
    const wchar_t* names[] = {L"object", L"array", L"string", L"bool",
                              L"int",    L"real",  L"null",   L"unknown_type"};
    for (int kind = 0; kind < 8; ++kind)
        EXPECT_EQ(common::toString(static_cast<Value_type>(kind)), OdString(names[kind]));
}

TEST(JsonTypedAccess, ParseErrorIsCaughtAsAnOdError) {
    try {
        getValue(Object{}, L"k", L"");
        ADD_FAILURE() << "nothing thrown";
    } catch (const OdError& error) {
        EXPECT_EQ(error.description(), OdString(L"Unable to find json key 'k'\njson key:\t\"k\""));
    }
}

}  // namespace

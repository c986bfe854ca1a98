// Fuzz target: the JSON reader on arbitrary text.
//
// The bytes are read three ways: decoded as a text file is decoded (undecodable bytes as
// U+DC80..U+DCFF, CR LF as LF), taken four at a time as raw wchar_t elements (so every element
// value, negative ones and those above U+10FFFF included, reaches the reader), and as they are
// through the UTF-8 entry, which must answer exactly as the first. Each read must stay inside its
// range and either fail leaving the target untouched, or give a tree that the writer turns into
// text the reader takes back whole, as the writer's documented losses allow.
//
// One exception: a number whose exponent lies beyond the double range reads as an infinity (the C
// library's conversion saturates), and the writer's text for an infinity is not JSON. Such trees
// are only written, not read back.
#include <cmath>
#include <cstring>
#include <string>

#include <corekit/json/internal/reader.h>
#include <corekit/json/internal/writer.h>
#include <platform/Utf8.h>

#include "FuzzSupport.h"

namespace {

using corekit::json::Value;
using fuzz_support::dump;
using fuzz_support::require;

bool allFinite(const Value& value) {
    switch (value.type()) {
        case corekit::json::object_type:
            for (const auto& member : value.as_object()) {
                if (!allFinite(member.second))
                    return false;
            }
            return true;
        case corekit::json::array_type:
            for (const Value& element : value.as_array()) {
                if (!allFinite(element))
                    return false;
            }
            return true;
        case corekit::json::real_type:
            return std::isfinite(value.as_real());
        default:
            return true;
    }
}

// Reads `text` and checks the result; true with the tree in `out` when the read succeeds.
bool readAndCheck(const std::wstring& text, Value& out) {
    const wchar_t* const first = text.data();
    const wchar_t* const last = first + text.size();
    const wchar_t* begin = first;
    out = Value(L"untouched");
    if (!corekit::json::read_value(begin, last, out)) {
        require(out.type() == corekit::json::string_type && out.as_string() == L"untouched",
                "a failed read leaves the target untouched", [&] { return dump(out); });
        require(begin >= first && begin <= last, "a failed read stays inside its range");
        return false;
    }
    require(begin > first && begin <= last, "a read consumes something and stays in its range");

    const std::wstring written = corekit::json::write_formatted(out);
    if (!allFinite(out))
        return true;
    const wchar_t* again = written.data();
    Value back;
    const auto showWritten = [&] { return dump(written); };
    require(corekit::json::read_value(again, written.data() + written.size(), back),
            "the writer's text reads back", showWritten);
    require(again == written.data() + written.size(), "the writer's text is read whole",
            showWritten);
    const Value expected = fuzz_support::afterRoundTrip(out);
    require(fuzz_support::sameTree(back, expected), "a read tree survives writing and reading",
            [&] { return dump(back) + "\nexpected\n" + dump(expected); });
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* const bytes = reinterpret_cast<const char*>(data);
    std::string lines;  // as ut::readEntireFile keeps them
    for (std::size_t i = 0; i < size; ++i) {
        if (!(bytes[i] == '\r' && i + 1 < size && bytes[i + 1] == '\n'))
            lines += bytes[i];
    }
    Value decoded;
    const bool read = readAndCheck(ut::decodeUtf8(lines), decoded);

    const char* begin = bytes;
    Value direct(L"untouched");
    require(corekit::json::read_value(begin, bytes + size, direct) == read,
            "the UTF-8 entry accepts what the decoded text's reading accepts");
    require(read ? fuzz_support::sameTree(direct, decoded)
                 : direct.type() == corekit::json::string_type,
            "the UTF-8 entry reads the tree of the decoded text",
            [&] { return dump(direct) + "\nexpected\n" + dump(decoded); });

    std::wstring raw(size / sizeof(wchar_t), L'\0');
    if (!raw.empty())
        std::memcpy(&raw[0], data, raw.size() * sizeof(wchar_t));
    Value ignored;
    readAndCheck(raw, ignored);
    return 0;
}

#include "FuzzSupport.h"

#include <cmath>
#include <random>
#include <string>
#include <system_error>

#include <corekit/json/internal/writer.h>
#include <platform/Utf8.h>

namespace fuzz_support {

using corekit::json::Array;
using corekit::json::Object;
using corekit::json::Value;

namespace {

bool isHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The double that the 16-decimal fixed-point text of `number` reads back as.
double realAfterRoundTrip(double number) {
    char text[400];
    std::snprintf(text, sizeof text, "%.16f", number);
    return std::strtod(text, nullptr);
}

std::filesystem::path makeScratchFolder() {
    // A name no one has taken: create_directory says whether it made the folder.
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder =
            base / ("rvk-fuzz-" + std::to_string(random()) + std::to_string(random()));
        if (std::filesystem::create_directory(folder))
            return folder;
    }
    require(false, "a temporary folder can be made");
    return {};
}

common::RootPath makeRepository(const std::filesystem::path& folder) {
    Expected<common::RootPath> root =
        common::RootPath::get(OdString(folder.u8string().c_str(), kCodePageUtf8), true);
    require(root.hasValue(), "the temporary repository can be made");
    return root.value();
}

// Removes its folder when the process ends normally (the replay program returning, libFuzzer
// finishing its runs); a crash leaves it behind with the input that caused it.
struct Scratch {
    Scratch() : folder(makeScratchFolder()), root(makeRepository(folder)) {}
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path folder;
    const common::RootPath root;
};

const Scratch& scratch() {
    static const Scratch made;
    return made;
}

}  // namespace

const std::filesystem::path& scratchFolder() {
    return scratch().folder;
}

const common::RootPath& scratchRoot() {
    return scratch().root;
}

std::string dump(const std::wstring& text) {
    std::string out = "\"";
    char buffer[16];
    for (wchar_t element : text) {
        std::snprintf(buffer, sizeof buffer, "<%X>", static_cast<unsigned>(element));
        out += buffer;
    }
    return out + '"';
}

std::string dump(const Value& value) {
    return ut::encodeUtf8(corekit::json::write_formatted(value));
}

bool sameTree(const Value& a, const Value& b) {
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
        case corekit::json::object_type: {
            const Object& x = a.as_object();
            const Object& y = b.as_object();
            if (x.size() != y.size())
                return false;
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
                if (i->first != j->first || !sameTree(i->second, j->second))
                    return false;
            }
            return true;
        }
        case corekit::json::array_type: {
            const Array& x = a.as_array();
            const Array& y = b.as_array();
            if (x.size() != y.size())
                return false;
            for (std::size_t i = 0; i < x.size(); ++i) {
                if (!sameTree(x[i], y[i]))
                    return false;
            }
            return true;
        }
        case corekit::json::string_type:
            return a.as_string() == b.as_string();
        case corekit::json::bool_type:
            return a.as_bool() == b.as_bool();
        case corekit::json::int_type:
            return a.is_unsigned() == b.is_unsigned() && a.as_uint64() == b.as_uint64();
        case corekit::json::real_type: {
            // Bit for bit, so that -0.0 and 0.0 differ.
            const double x = a.as_real();
            const double y = b.as_real();
            return std::memcmp(&x, &y, sizeof x) == 0;
        }
        case corekit::json::null_type:
            return true;
    }
    return false;
}

// The writer keeps every element but two kinds: one above U+10FFFF becomes U+FFFD, and a surrogate,
// never printable, is written as a \u escape, so that a high one followed by a low one reads back
// as the one code point the pair encodes where wchar_t holds code points (32 bits); a 16-bit
// wchar_t holds the pair as its two units, and they read back as they are.
std::wstring stringAfterRoundTrip(const std::wstring& text) {
    constexpr bool kPairsJoin = sizeof(wchar_t) == 4;
    std::wstring out;
    bool pairable = false;  // out ends in a high surrogate that a low one would join
    for (wchar_t element : text) {
        const auto unit = static_cast<std::uint32_t>(element);
        if (kPairsJoin && pairable && isLowSurrogate(unit)) {
            const auto high = static_cast<std::uint32_t>(out.back());
            out.back() = static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            pairable = false;
            continue;
        }
        out.push_back(unit > 0x10FFFF ? L'\xFFFD' : element);
        pairable = isHighSurrogate(unit);
    }
    return out;
}

Value afterRoundTrip(const Value& value) {
    switch (value.type()) {
        case corekit::json::object_type: {
            Object out;
            for (const auto& member : value.as_object())
                out[stringAfterRoundTrip(member.first)] = afterRoundTrip(member.second);
            return Value(std::move(out));
        }
        case corekit::json::array_type: {
            Array out;
            for (const Value& element : value.as_array())
                out.push_back(afterRoundTrip(element));
            return Value(std::move(out));
        }
        case corekit::json::string_type:
            return Value(stringAfterRoundTrip(value.as_string()));
        case corekit::json::int_type:
            if (!value.is_unsigned() && value.as_int64() >= 0)
                return Value(value.as_uint64());
            return value;
        case corekit::json::real_type:
            return Value(realAfterRoundTrip(value.as_real()));
        default:
            return value;
    }
}

}  // namespace fuzz_support

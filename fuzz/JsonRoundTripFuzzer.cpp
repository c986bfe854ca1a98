// Fuzz target: writing a tree and reading it back.
//
// The bytes drive a builder that makes a tree of every kind: deep and wide containers, keys that
// collide once written, strings with control characters, surrogates, code points above U+FFFF and
// element values no Unicode text holds, ints at the edges of both ranges, and reals of every
// finite magnitude. Its text must read back whole into the tree the writer's documented losses
// predict, and a second trip must change nothing more.
#include <cmath>
#include <string>

#include <corekit/json/internal/reader.h>
#include <corekit/json/internal/writer.h>

#include "FuzzSupport.h"

namespace {

using corekit::json::Array;
using corekit::json::Object;
using corekit::json::Value;
using fuzz_support::dump;
using fuzz_support::FuzzInput;
using fuzz_support::require;

// Deep enough to cross every code path of the nesting, well inside the reader's bound.
constexpr int kMaxDepth = 40;

wchar_t element(FuzzInput& in) {
    const std::uint8_t kind = in.byte();
    switch (kind % 4) {
        case 0:
            return static_cast<wchar_t>(0x20 + in.byte() % 0x5F);  // printable ASCII
        case 1:
            return static_cast<wchar_t>(in.byte() & 0x9F);  // C0 and C1 controls, some ASCII
        case 2:
            return static_cast<wchar_t>(in.integer<std::uint16_t>());  // BMP, surrogates too
        default:
            return static_cast<wchar_t>(in.integer<std::uint32_t>());  // anything at all
    }
}

std::wstring text(FuzzInput& in) {
    std::wstring out(in.byte() % 24, L'\0');
    for (wchar_t& c : out)
        c = element(in);
    return out;
}

double real(FuzzInput& in) {
    const double number = in.integer<double>();
    // Not finite is no JSON: the writer's text for it is documented as unreadable.
    return std::isfinite(number) ? number : 0.5;
}

Value build(FuzzInput& in, int depth) {
    switch (in.byte() % 9) {
        case 0: {
            Object object;
            if (depth < kMaxDepth) {
                for (int n = in.byte() % 6; n > 0; --n) {
                    std::wstring key = text(in);
                    object[key] = build(in, depth + 1);
                }
            }
            return Value(std::move(object));
        }
        case 1: {
            Array array;
            if (depth < kMaxDepth) {
                for (int n = in.byte() % 6; n > 0; --n)
                    array.push_back(build(in, depth + 1));
            }
            return Value(std::move(array));
        }
        case 2:
            return Value(text(in));
        case 3:
            return Value(in.byte() % 2 == 1);
        case 4:
            return Value(in.integer<std::int64_t>());
        case 5:
            return Value(in.integer<std::uint64_t>());
        case 6:
            return Value(real(in));
        case 7:
            // Small magnitudes, where 16 decimals lose digits.
            return Value(real(in) * 1e-300);
        default:
            return Value();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const Value tree = build(in, 0);
    const std::wstring written = corekit::json::write_formatted(tree);

    const wchar_t* begin = written.data();
    const wchar_t* const end = written.data() + written.size();
    Value back;
    const auto showWritten = [&] { return dump(written); };
    require(corekit::json::read_value(begin, end, back), "the writer's text reads back",
            showWritten);
    require(begin == end, "the writer's text is read whole", showWritten);
    const Value expected = fuzz_support::afterRoundTrip(tree);
    require(fuzz_support::sameTree(back, expected), "a tree survives writing and reading", [&] {
        return dump(tree) + "\nread back\n" + dump(back) + "\nexpected\n" + dump(expected);
    });

    // What came back is a fixed point: a second trip loses nothing more.
    const std::wstring rewritten = corekit::json::write_formatted(back);
    begin = rewritten.data();
    Value again;
    require(corekit::json::read_value(begin, rewritten.data() + rewritten.size(), again) &&
                fuzz_support::sameTree(again, back),
            "a read-back tree survives a second trip unchanged",
            [&] { return dump(back) + "\n" + dump(again); });
    return 0;
}

// Helpers shared by the fuzz targets: a reader that carves typed pieces out of the fuzz bytes, a
// loud failure for a broken property, a scratch repository, and the model of what a JSON tree
// looks like after it has been written and read back.
//
// Each target defines LLVMFuzzerTestOneInput and nothing else. Linked with libFuzzer it is a
// fuzzer; linked with ReplayMain.cpp it is a plain program that runs saved inputs through the same
// function, so a crash input found once stays an ordinary regression run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <common/RootPath.h>
#include <corekit/json/value.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz_support {

// Hands out the fuzz bytes front to back. Once they run out every request gives zeros, so a
// builder driven by it always terminates and the same bytes always build the same thing.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const { return m_pos >= m_size; }

    std::uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }

    // Little-endian, from as many bytes as remain (at most sizeof(T)).
    template <typename T>
    T integer() {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
        T out;
        std::memcpy(&out, &bits, sizeof out);
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A broken property: says which one on stderr and aborts, which both libFuzzer and the replay
// program report as a crash of that input.
[[noreturn]] inline void fail(const char* property, const std::string& detail = std::string()) {
    std::fprintf(stderr, "property broken: %s\n%s\n", property, detail.c_str());
    std::abort();
}

inline void require(bool holds, const char* property) {
    if (!holds)
        fail(property);
}

// `explain` is called, for the text that shows the failure, only when the property is broken:
// dumping whole trees for every input would cost more than the checks themselves.
template <typename Explain>
void require(bool holds, const char* property, const Explain& explain) {
    if (!holds)
        fail(property, explain());
}

// A repository in a fresh temporary folder, made on first use and removed when the process
// exits; one per process, so that per-input work stays small.
const std::filesystem::path& scratchFolder();
const common::RootPath& scratchRoot();

// The raw wide elements of `text` as hexadecimal numbers, for failure messages.
std::string dump(const std::wstring& text);
// A tree as the writer writes it, for failure messages.
std::string dump(const corekit::json::Value& value);

// True when `a` and `b` have the same shape: same kinds, same unsigned flags, the same integer
// bits, bit-identical reals, identical strings and keys.
bool sameTree(const corekit::json::Value& a, const corekit::json::Value& b);

// The tree that writing `value` and reading the text back must give, by the writer's documented
// losses: a non-negative signed int comes back unsigned, a real comes back as the double nearest to
// its 16-decimal text, an escaped surrogate pair comes back as the one code point it encodes, an
// element above U+10FFFF as U+FFFD, and keys that become equal merge, the later member winning.
// `value` must hold finite reals only.
corekit::json::Value afterRoundTrip(const corekit::json::Value& value);

// The wide string that writing `text` as a JSON string and reading it back must give.
std::wstring stringAfterRoundTrip(const std::wstring& text);

}  // namespace fuzz_support

// Fuzz target: the matcher of user patterns on large and deep inputs, with no oracle (the
// standard library would hang or overflow its stack on them). The input describes a pattern and a
// subject built by repeating pieces, up to patterns far past the limits and subjects of 100,000
// bytes; every call must end with an answer or std::regex_error, within the fuzzer's timeout.
#include <regex>
#include <string>

#include <common/internal/Patterns.h>

#include "FuzzSupport.h"

namespace {

// `piece` repeated `count` times between `head` and `tail`.
std::string repeated(const std::string& head, const std::string& piece, std::size_t count,
                     const std::string& tail) {
    std::string text = head;
    text.reserve(head.size() + piece.size() * count + tail.size());
    for (std::size_t i = 0; i < count; ++i)
        text += piece;
    return text + tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::FuzzInput input(data, size);
    // Counts: up to 65,535 repetitions of a piece, so nesting and length pass every limit.
    const std::size_t patternCount = input.integer<std::uint16_t>() % 6000;
    const std::size_t subjectCount = input.integer<std::uint16_t>();
    std::string parts[5];  // pattern head, piece, tail; subject piece, tail
    for (std::string& part : parts) {
        for (std::size_t n = input.byte() % 16; n > 0 && !input.empty(); --n)
            part += static_cast<char>(input.byte());
    }
    const std::string pattern = repeated(parts[0], parts[1], patternCount, parts[2]);
    std::string subject = repeated("", parts[3], subjectCount, parts[4]);
    if (subject.size() > 100000)
        subject.resize(100000);
    try {
        const common::UserPattern compiled(pattern.data(), pattern.size());
        (void)compiled.matches(subject.data(), subject.data() + subject.size());
    } catch (const std::regex_error&) {
        // A refusal, or bounded work run out: both are answers.
    }
    return 0;
}

// Fuzz target: Cache::get on a state file holding arbitrary bytes.
//
// One scratch repository per process; each input becomes its state file. readState, with its
// direct road over the file's bytes, must answer exactly as readStateDocument, the general reader
// it stands in for: the same State, error or exception text. Loading must give a Cache or an
// ErrorMessage with a text, never an escaping exception or a crash. A state that loads must
// survive being written and read back: the same head, staged files and renames, up to the
// writer's documented string losses (an escaped surrogate pair comes back as one code point).
#include <filesystem>
#include <fstream>
#include <string>

#include <common/Cache.h>
#include <common/internal/StateFile.h>
#include <corekit/json/internal/writer.h>
#include <platform/OdError.h>
#include <platform/Utf8.h>

#include "FuzzSupport.h"

namespace {

namespace fs = std::filesystem;
using common::State;
using fuzz_support::require;

class SilentIo : public common::IoInterface {
public:
    int check(const OdString&) const override { return 0; }
    void report(Expected<void> outcome) const override {
        // A Cache that was only read must never write.
        fuzz_support::fail("a Cache that was only read reports no write",
                           outcome.hasValue() ? "success" : outcome.error().message.ansi_str());
    }
};

void writeBytes(const fs::path& path, const char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    require(out.good(), "the input can be written to the state file");
}

OdString afterRoundTrip(const OdString& text) {
    return OdString(fuzz_support::stringAfterRoundTrip(text.wstr()));
}

std::string describe(const State& state) {
    std::string out = "head " + fuzz_support::dump(state.head.reference.wstr());
    if (state.head.commit)
        out += " commit " + std::to_string(*state.head.commit);
    for (const auto& file : state.stagedFiles)
        out += "\nstaged " + fuzz_support::dump(file.path.wstr()) + " " +
               std::to_string(static_cast<int>(file.change));
    for (const auto& rename : state.renames)
        out += "\nrename " + fuzz_support::dump(rename.first.wstr()) + " <- " +
               fuzz_support::dump(rename.second.wstr());
    return out;
}

// Writes `state` as the library writes it, reads it back as the library reads it, and compares.
void checkRoundTrip(const State& state) {
    Expected<corekit::json::Value> document = common::stateToJson(state);
    require(document.hasValue(), "a loaded state converts to a document");
    const std::string bytes = ut::encodeUtf8(corekit::json::write_formatted(document.value()));
    const fs::path copy = fuzz_support::scratchFolder() / "copy.state";
    writeBytes(copy, bytes.data(), bytes.size());

    const Expected<State> back =
        common::readState(OdString(copy.u8string().c_str(), kCodePageUtf8));
    require(back.hasValue(), "a written state reads back", [&] { return bytes; });

    State expected = state;
    expected.head.reference = afterRoundTrip(state.head.reference);
    for (auto& file : expected.stagedFiles)
        file.path = afterRoundTrip(file.path);
    expected.renames.clear();
    for (const auto& rename : state.renames)
        expected.renames.emplace(afterRoundTrip(rename.first), afterRoundTrip(rename.second));

    const State& got = back.value();
    require(got.head.reference == expected.head.reference &&
                got.head.commit == expected.head.commit &&
                got.stagedFiles == expected.stagedFiles && got.renames == expected.renames,
            "a state survives writing and reading",
            [&] { return describe(got) + "\nexpected\n" + describe(expected); });
}

// A result of reading the state file, whatever its form, in one comparable shape.
std::string outcomeOf(Expected<State> (*read)(const OdString&), const OdString& path) {
    try {
        const Expected<State> state = read(path);
        return state.hasValue() ? "state " + describe(state.value())
                                : "error " + fuzz_support::dump(state.error().message.wstr());
    } catch (const common::JsonParseError& e) {
        return "JsonParseError " + fuzz_support::dump(e.description().wstr());
    } catch (const OdError& e) {
        return "OdError " + fuzz_support::dump(e.description().wstr());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    writeBytes(fuzz_support::scratchFolder() / ".rvk" / "rvk.state",
               reinterpret_cast<const char*>(data), size);

    const OdString path = fuzz_support::scratchRoot().statePath();
    const std::string direct = outcomeOf(&common::readState, path);
    const std::string general = outcomeOf(&common::readStateDocument, path);
    require(direct == general, "readState answers as the general reader",
            [&] { return direct + "\nexpected\n" + general; });

    const SilentIo io;
    const Expected<common::Cache> cache =
        common::Cache::get(fuzz_support::scratchRoot(), false, io);
    if (!cache.hasValue()) {
        require(!cache.error().message.isEmpty() && cache.error().code == 0,
                "a state that does not load says why");
        return 0;
    }
    checkRoundTrip(cache.value().read());
    return 0;
}

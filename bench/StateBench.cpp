// The state file: loading it through the Cache and writing it back when the Cache ends (file I/O,
// decoding and the atomic replace included), reading it alone, making its text alone, and the JSON
// reader and writer alone on the same document, for states of 1,000 and 100,000 staged files.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#include "BenchSupport.h"

#include <common/Cache.h>
#include <common/internal/StateFile.h>
#include <corekit/json/internal/reader.h>
#include <corekit/json/internal/writer.h>

namespace {

using bench_support::ScratchDir;

class QuietIo : public common::IoInterface {
public:
    int check(const OdString&) const override { return 1; }
    void report(Expected<void> outcome) const override { failed = failed || !outcome.hasValue(); }
    mutable bool failed = false;
};

struct Repository {
    ScratchDir dir{"rvk-bench-state"};
    std::wstring text;  // the state file's document
};

const Repository& repositoryOf(std::size_t staged) {
    static std::map<std::size_t, std::unique_ptr<Repository>> repositories;
    auto& repository = repositories[staged];
    if (!repository) {
        repository = std::make_unique<Repository>();
        std::filesystem::create_directories(repository->dir.path() / ".rvk");
        const auto root = common::RootPath::get(repository->dir.od(), false).value();
        const common::State state = bench_support::makeState(staged);
        if (!common::writeState(state, root.statePath()).hasValue())
            throw std::runtime_error("cannot write the state file");
        repository->text = corekit::json::write_formatted(common::stateToJson(state).value());
    }
    return *repository;
}

// Cache::get reads the state; write() marks it changed, so the Cache writes it back as it ends.
void BM_CacheGetAndWriteBack(benchmark::State& state) {
    const Repository& repository = repositoryOf(static_cast<std::size_t>(state.range(0)));
    const auto root = common::RootPath::get(repository.dir.od(), false).value();
    QuietIo io;
    for (auto _ : state) {
        auto cache = common::Cache::get(root, false, io);
        if (!cache.hasValue()) {
            state.SkipWithError("the state file did not load");
            break;
        }
        benchmark::DoNotOptimize(cache.value().write());
    }
    if (io.failed)
        state.SkipWithError("a write-back failed");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(repository.text.size()));
}
BENCHMARK(BM_CacheGetAndWriteBack)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// readState alone: the file's bytes to a State.
void BM_ReadState(benchmark::State& state) {
    const Repository& repository = repositoryOf(static_cast<std::size_t>(state.range(0)));
    const auto root = common::RootPath::get(repository.dir.od(), false).value();
    for (auto _ : state) {
        Expected<common::State> read = common::readState(root.statePath());
        if (!read.hasValue()) {
            state.SkipWithError("the state file did not load");
            break;
        }
        benchmark::DoNotOptimize(read);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(repository.text.size()));
}
BENCHMARK(BM_ReadState)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// formatStateText alone: a State to the bytes writeState writes, without the file. The State
// lives only here: kept beside the others' allocations, it would change what the heap gives them.
void BM_FormatStateText(benchmark::State& state) {
    const Repository& repository = repositoryOf(static_cast<std::size_t>(state.range(0)));
    const common::State source = bench_support::makeState(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string text;
        if (!common::formatStateText(source, text).hasValue()) {
            state.SkipWithError("the state did not format");
            break;
        }
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(repository.text.size()));
}
BENCHMARK(BM_FormatStateText)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ReadValue(benchmark::State& state) {
    const Repository& repository = repositoryOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const wchar_t* begin = repository.text.data();
        corekit::json::Value document;
        if (!corekit::json::read_value(begin, begin + repository.text.size(), document)) {
            state.SkipWithError("the document did not parse");
            break;
        }
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(repository.text.size()));
}
BENCHMARK(BM_ReadValue)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_WriteFormatted(benchmark::State& state) {
    const Repository& repository = repositoryOf(static_cast<std::size_t>(state.range(0)));
    const wchar_t* begin = repository.text.data();
    corekit::json::Value document;
    corekit::json::read_value(begin, begin + repository.text.size(), document);
    for (auto _ : state) {
        std::wstring text = corekit::json::write_formatted(document);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(repository.text.size()));
}
BENCHMARK(BM_WriteFormatted)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

// The staging explorer with 100,000 candidates: building it from a changes record, staging every
// candidate one by one, and finding one file by a plain name (no pattern characters), which must
// look at every candidate to be sure the name is not ambiguous.
#include <benchmark/benchmark.h>

#include "BenchSupport.h"

#include <common/StagingExplorer.h>

namespace {

using bench_support::ScratchDir;
using common::RepoFileExplorer;
using common::StagedFile;

constexpr std::size_t kCandidates = 100000;

struct Fixture {
    ScratchDir dir{"rvk-bench-staging"};
    common::RootPath root = common::RootPath::get(dir.od(), true).value();
    common::RepoChanges changes = bench_support::makeChanges(kCandidates);
};

const Fixture& fixture() {
    static const Fixture instance;
    return instance;
}

void BM_BuildExplorer(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        RepoFileExplorer explorer(f.changes, f.root);
        benchmark::DoNotOptimize(explorer);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCandidates));
}
BENCHMARK(BM_BuildExplorer)->Unit(benchmark::kMillisecond);

void BM_StageAll(benchmark::State& state) {
    const Fixture& f = fixture();
    const std::vector<StagedFile> candidates =
        RepoFileExplorer(f.changes, f.root).possibleStageFiles();
    for (auto _ : state) {
        state.PauseTiming();
        RepoFileExplorer explorer(f.changes, f.root);
        state.ResumeTiming();
        for (const StagedFile& file : candidates) {
            if (!explorer.stage(file)) {
                state.SkipWithError("a candidate was not staged");
                break;
            }
        }
        state.PauseTiming();
        { RepoFileExplorer gone(std::move(explorer)); }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCandidates));
}
BENCHMARK(BM_StageAll)->Unit(benchmark::kMillisecond);

// The first search on a new explorer, and a later one on the same explorer.
void BM_FindForStagingPlainName(benchmark::State& state) {
    const Fixture& f = fixture();
    const bool fresh = state.range(0) != 0;
    const OdString name = L"plan-054321";
    RepoFileExplorer kept(f.changes, f.root);
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            RepoFileExplorer explorer(f.changes, f.root);
            state.ResumeTiming();
            auto found = explorer.findForStaging(name);
            if (!boost::get<StagedFile>(&found))
                state.SkipWithError("the name was not found exactly once");
            state.PauseTiming();
            { RepoFileExplorer gone(std::move(explorer)); }
            state.ResumeTiming();
        } else {
            auto found = kept.findForStaging(name);
            if (!boost::get<StagedFile>(&found))
                state.SkipWithError("the name was not found exactly once");
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCandidates));
}
BENCHMARK(BM_FindForStagingPlainName)
    ->ArgName("fresh")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);

// Looks `name` up among all candidates; `unique`: it must find exactly one file.
void findOnce(benchmark::State& state, const wchar_t* name, bool unique) {
    const Fixture& f = fixture();
    RepoFileExplorer explorer(f.changes, f.root);
    const OdString typed = name;
    for (auto _ : state) {
        auto found = explorer.findForStaging(typed);
        benchmark::DoNotOptimize(found);
        if (unique && !boost::get<StagedFile>(&found))
            state.SkipWithError("the name was not found exactly once");
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kCandidates));
}

// A name with an extension: ".*plan-054321.dwg", where the dot is a wildcard.
void BM_FindForStagingNameWithExtension(benchmark::State& state) {
    findOnce(state, L"plan-054321.dwg", false);
}
BENCHMARK(BM_FindForStagingNameWithExtension)->Unit(benchmark::kMillisecond);

// A name that is a pattern, "plan-05432[1]": every path meets the pattern matcher.
void BM_FindForStagingPattern(benchmark::State& state) {
    findOnce(state, L"plan-05432[1]", true);
}
BENCHMARK(BM_FindForStagingPattern)->Unit(benchmark::kMillisecond);

}  // namespace

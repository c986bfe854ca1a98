// The working-tree scan on generated trees of 10,000 and 100,000 files in 5,000 folders, with a
// few names the built-in ignore rules refuse. Each iteration is a whole fresh scan, result records
// included, as a host calls it.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "BenchSupport.h"

#include <common/WorkingTreeScan.h>

namespace {

using bench_support::ScratchDir;

struct Tree {
    ScratchDir dir{"rvk-bench-scan"};
    std::size_t listed = 0;
};

// Made once per size for the whole run; removed when the program ends.
const Tree& treeOf(std::size_t files) {
    static std::map<std::size_t, std::unique_ptr<Tree>> trees;
    auto& tree = trees[files];
    if (!tree) {
        tree = std::make_unique<Tree>();
        tree->listed = bench_support::makeTree(tree->dir.path(), files);
    }
    return *tree;
}

void BM_CollectRelPaths(benchmark::State& state) {
    const Tree& tree = treeOf(static_cast<std::size_t>(state.range(0)));
    const auto root = common::RootPath::get(tree.dir.od(), false).value();
    for (auto _ : state) {
        auto files = common::collectRelPaths(root);
        if (!files.hasValue() || files.value().size() != tree.listed) {
            state.SkipWithError("the scan did not list the generated files");
            break;
        }
        benchmark::DoNotOptimize(files);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tree.listed));
}
BENCHMARK(BM_CollectRelPaths)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

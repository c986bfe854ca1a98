// The working-tree scan on generated trees of 10,000 and 100,000 files in 5,000 folders, with a
// few names the built-in ignore rules refuse. Each iteration is a whole fresh scan, result records
// included, as a host calls it. Apart from the scan, the ignore rules alone: 100,000 names through
// RepoIgnore::accept, under the built-in rules and under a file of rules of the kinds users write.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "BenchSupport.h"

#include <common/RepoIgnore.h>
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

// Rules as users write them: endings, whole names, a prefix and a character class.
constexpr char kUserRules[] =
    "^.*\\.bak$\n^.*\\.dwl$\n^.*\\.dwl2$\n^.*\\.tmp$\n^plot\\.log$\n^Thumbs\\.db$\n"
    "^.*\\.sv\\$$\n^~\\$.*\n^[Bb]ackup.*\n";

// range(0): 0 the built-in rules, 1 the rules above.
void BM_IgnoreAccept(benchmark::State& state) {
    constexpr std::size_t kNames = 100000;
    ScratchDir dir("rvk-bench-ignore");
    bench_support::fs::create_directories(dir.path() / ".rvk" / "properties");
    if (state.range(0) != 0)
        bench_support::writeBytes(dir.path() / ".rvk" / "properties" / "ignore", kUserRules);
    const auto root = common::RootPath::get(dir.od(), false).value();
    const common::RepoIgnore ignore(root);
    std::vector<OdString> names;
    std::size_t expected = 0;
    for (std::size_t serial = 0; serial < kNames; ++serial) {
        const std::string name = bench_support::fileName(serial / 5000, serial);
        names.emplace_back(name.c_str(), kCodePageUtf8);
        expected += serial % 97 != 96;
    }
    for (auto _ : state) {
        std::size_t accepted = 0;
        for (const OdString& name : names)
            accepted += ignore.accept(name);
        if (accepted != expected) {
            state.SkipWithError("the rules did not refuse exactly the generated backups");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kNames));
}
BENCHMARK(BM_IgnoreAccept)->ArgName("userRules")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

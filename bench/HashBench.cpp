// Content hashing on files of 1 MiB and 1 GiB: generateSha over a file's bytes in memory, and
// isModified on a working file whose stored copy is not older, so that the test has to read and
// hash the whole file.
#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "BenchSupport.h"

#include <common/ContentHash.h>

namespace {

using bench_support::ScratchDir;

// The bytes of a generated file of `size` bytes, read once into memory.
const std::string& contentOf(std::int64_t size) {
    static std::map<std::int64_t, std::string> contents;
    std::string& content = contents[size];
    if (content.empty()) {
        const ScratchDir dir("rvk-bench-sha");
        bench_support::makeLargeFile(dir.path() / "data.bin", static_cast<std::uint64_t>(size));
        std::ifstream in(dir.path() / "data.bin", std::ios::binary);
        content.resize(static_cast<std::size_t>(size));
        in.read(content.data(), size);
    }
    return content;
}

void BM_GenerateSha(benchmark::State& state) {
    const std::string& data = contentOf(state.range(0));
    for (auto _ : state) {
        OdString digest = generateSha(data.data(), static_cast<int>(data.size()));
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GenerateSha)->Arg(1 << 20)->Arg(1 << 30)->Unit(benchmark::kMillisecond);

struct Working {
    ScratchDir dir{"rvk-bench-hash"};
    OdString url;
};

// A repository holding "work.bin" of `size` bytes and a stored object for it that is newer than
// the file, so isModified gets past the times and reads and hashes the whole file. The URL carries
// a digest of zeros, which no content has, so the answer must be "modified".
const Working& workingOf(std::int64_t size) {
    static std::map<std::int64_t, std::unique_ptr<Working>> files;
    auto& working = files[size];
    if (!working) {
        working = std::make_unique<Working>();
        const auto& path = working->dir.path();
        const std::string digest(64, '0');
        std::filesystem::create_directories(path / ".rvk" / "objects");
        bench_support::makeLargeFile(path / "work.bin", static_cast<std::uint64_t>(size));
        bench_support::setModificationTime(path / "work.bin", 1000000000);
        bench_support::writeBytes(path / ".rvk" / "objects" / digest, "");
        bench_support::setModificationTime(path / ".rvk" / "objects" / digest, 1000000001);
        working->url = OdString(("po" + digest).c_str(), kCodePageUtf8);
    }
    return *working;
}

void BM_IsModified(benchmark::State& state) {
    const Working& working = workingOf(state.range(0));
    const auto root = common::RootPath::get(working.dir.od(), false).value();
    for (auto _ : state) {
        auto modified = common::isModified(L"work.bin", working.url, root);
        if (!modified.hasValue() || !modified.value()) {
            state.SkipWithError("the file was not found modified");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_IsModified)->Arg(1 << 20)->Arg(std::int64_t{1} << 30)->Unit(benchmark::kMillisecond);

}  // namespace

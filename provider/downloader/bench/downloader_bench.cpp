// The downloader's own work apart from the network: merging a new-groups
// answer into a large group list (each answer line is looked up, not searched
// for, so the cost per line should not grow with the list), and writing and
// reading back article cache files of typical and large sizes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/stream.h"
#include "provider/downloader/article_cache.h"
#include "provider/downloader/group_list_merge.h"

namespace {

using quillory::ComPtr;
using quillory::quarnex::CGroupListMerge;

std::string GroupList(std::int64_t groups)
{
    std::string text;
    for (std::int64_t i = 0; i < groups; ++i)
        text += (i % 7 == 0 ? "!* " : "   ") + std::string("comp.bench.group") + std::to_string(i) +
                " A group for the benchmark\r\n";
    return text;
}

// One answer of 1000 lines, half of them groups the list has.
void MergeNewGroups(benchmark::State& state)
{
    const std::string list = GroupList(state.range(0));
    std::vector<std::string> answer;
    for (int i = 0; i < 1000; ++i)
        answer.push_back((i % 2 ? "comp.bench.group" + std::to_string(i * 37 % state.range(0)) : "alt.new" + std::to_string(i)) +
                         " 0000000010 0000000001 y");
    for (auto _ : state) {
        CGroupListMerge merge;
        merge.Load(list);
        for (const std::string& line : answer) merge.Add(line);
        benchmark::DoNotOptimize(merge.Text().size());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(answer.size()));
    state.SetLabel(std::to_string(state.range(0)) + " groups listed");
}
BENCHMARK(MergeNewGroups)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void CacheFileRoundTrip(benchmark::State& state)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("quillory-article-bench-" + std::to_string(getpid()) + ".msg")).string();
    const std::string article(static_cast<std::size_t>(state.range(0)), 'a');
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    ULONG written = 0;
    stream->Write(article.data(), static_cast<ULONG>(article.size()), &written);
    for (auto _ : state) {
        if (!quillory::quarnex::WriteCacheFile(path, stream.Get())) state.SkipWithError("not written");
        ComPtr<IStream> back;
        if (FAILED(quillory::quarnex::ReadCacheFile(path, back))) state.SkipWithError("not read");
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CacheFileRoundTrip)->Arg(4 << 10)->Arg(1 << 20)->Arg(16 << 20);

}  // namespace

BENCHMARK_MAIN();

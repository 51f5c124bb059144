// Known-articles cache: loading and saving a file of a million entries (the
// load should stay under two seconds in a Release build), and header rows
// added per second with and without the fields that the news component parses.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/module.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/msgstore.h"
#include "provider/folder/header_entryid.h"
#include "provider/folder/header_row.h"
#include "provider/folder/mapi_folder.h"
#include "provider/folder/table_cache.h"

namespace {

using quillory::quarnex::CMAPIFolder;
using quillory::quarnex::CTableCache;

constexpr int kGroups = 50;

std::filesystem::path BenchDir()
{
    static const std::filesystem::path dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("quillory-cache-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string GroupName(int g) { return "comp.bench.group" + std::to_string(g); }

// A cache file of n confirmed entries spread over kGroups groups, as Save writes it.
std::string CacheFile(std::int64_t n)
{
    const std::string path = (BenchDir() / ("cache-" + std::to_string(n) + "-del.txt")).string();
    if (std::filesystem::exists(path)) return path;
    CTableCache cache;
    for (std::int64_t i = 0; i < n; ++i) {
        const int g = static_cast<int>(i % kGroups);
        const auto number = static_cast<ULONG>(1000 + i / kGroups);
        cache.Add(number, "<part" + std::to_string(i) + ".a1b2c3d4@news.example.com>", GroupName(g), true);
    }
    cache.Save(path);
    return path;
}

void LoadCache(benchmark::State& state)
{
    const std::string path = CacheFile(state.range(0));
    for (auto _ : state) {
        CTableCache cache;
        cache.Load(path);
        benchmark::DoNotOptimize(cache.GroupKeyCount());
        state.PauseTiming();
        if (cache.GroupKeyCount() != static_cast<std::size_t>(state.range(0))) state.SkipWithError("entries lost");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void SaveCache(benchmark::State& state)
{
    CTableCache cache;
    cache.Load(CacheFile(state.range(0)));
    const std::string out = (BenchDir() / "saved-del.txt").string();
    for (auto _ : state) benchmark::DoNotOptimize(cache.Save(out));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Unconfirmed entries are each looked up in the store's receive folder,
// which holds `inbox` messages stamped with header entry IDs.
void LoadUnconfirmed(benchmark::State& state)
{
    const std::int64_t n = state.range(0);
    const auto home = BenchDir() / ("home-" + std::to_string(n));
    setenv("QUILLORY_HOME", home.c_str(), 1);
    quillory::ComPtr<IMsgStore> store;
    if (FAILED(quillory::OpenMessageStore(home / "store.db", MAPIUID{}, "bench", 0, &store))) {
        state.SkipWithError("no store");
        return;
    }
    ULONG cb = 0;
    quillory::MapiBuffer<ENTRYID> eid;
    quillory::ComPtr<IUnknown> unk;
    ULONG type = 0;
    quillory::ComPtr<IMAPIFolder> inbox;
    if (FAILED(store->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr)) ||
        FAILED(store->OpenEntry(cb, eid.Get(), nullptr, MAPI_MODIFY, &type, &unk)) ||
        FAILED(unk->QueryInterface(IID_IMAPIFolder, inbox.AsVoidOut()))) {
        state.SkipWithError("no receive folder");
        return;
    }
    std::string text;
    for (std::int64_t i = 0; i < n; ++i) {
        const std::string id = "<u" + std::to_string(i) + "@news.example.com>";
        text += "? comp.bench " + std::to_string(i + 1) + " " + id + "\r\n";
        if (i % 10 != 0) continue;  // every tenth article was delivered
        const std::string hex =
            quillory::BinToHex(quillory::quarnex::MakeHeaderEntryId(static_cast<ULONG>(i + 1), id, "comp.bench"));
        quillory::ComPtr<IMessage> m;
        SPropValue v{};
        v.ulPropTag = PR_CORVANE_HEADER_ENTRYID_HEX;
        v.Value.lpszA = const_cast<LPSTR>(hex.c_str());
        if (FAILED(inbox->CreateMessage(nullptr, 0, &m)) || FAILED(m->SetProps(1, &v, nullptr)) ||
            FAILED(m->SaveChanges(0))) {
            state.SkipWithError("message not saved");
            return;
        }
    }
    for (auto _ : state) {
        CTableCache cache;
        cache.SetMessageStore(store.Get());
        cache.LoadText(text);
        state.PauseTiming();
        if (cache.GroupKeyCount() != static_cast<std::size_t>((n + 9) / 10)) state.SkipWithError("wrong entries");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Looks the news component up beside this program's lib/ directory and keeps
// it loaded, as the NNTP session does while headers arrive.
class CNewsComponent {
public:
    CNewsComponent()
    {
        const auto self = std::filesystem::read_symlink("/proc/self/exe");
        const std::string libDir = (self.parent_path().parent_path() / "lib").string();
        setenv("QUILLORY_LIBPATH", libDir.c_str(), 0);
        module_ = LoadLibrary(quillory::quarnex::kInetcommLibrary);
    }
    ~CNewsComponent()
    {
        if (module_) FreeLibrary(module_);
    }
    bool Loaded() const { return module_ != nullptr; }

private:
    HMODULE module_ = nullptr;
};

void AddRow(benchmark::State& state, bool parsed)
{
    CNewsComponent component;
    if (parsed && !component.Loaded()) {
        state.SkipWithError("news component not found");
        return;
    }
    CMAPIFolder* folder = quillory::NewComObject<CMAPIFolder>();
    ULONG number = 1;
    for (auto _ : state) {
        const std::string id = "<" + std::to_string(number) + ".x@news.example.com>";
        if (parsed)
            folder->AddRow("comp.bench", number, id, "Re: a subject of usual length", "Jane Doe <jane@example.org>",
                           "Tue, 1 Jun 2021 12:34:56 +0200");
        else
            folder->AddRow("comp.bench", number, id, "Re: a subject of usual length");
        ++number;
        if (number % 2000 == 0) {
            state.PauseTiming();  // keep the table at a header download's size
            folder->ClearRows();
            state.ResumeTiming();
        }
    }
    folder->Release();
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(LoadCache)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(LoadUnconfirmed)->Arg(1000)->Arg(10'000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(SaveCache)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(AddRow, bare, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(AddRow, from_and_date, true)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(BenchDir(), ec);
    return 0;
}

// The message store's costs as a client sees them, through the MAPI
// interfaces only:
//  - CreateMessages: 100,000 messages of 15 properties made in one folder,
//    each with CreateMessage, SetProps and its own SaveChanges (one
//    transaction each); reports messages_per_s.
//  - FirstRestrictionOnNewTag: the first restriction on PR_SUBJECT, which
//    indexes the folder's subjects once (only PR_INTERNET_MESSAGE_ID is
//    indexed from the start).
//  - EqualityQuery / AndQuery: a contents table of that folder restricted to
//    a subject (and that AND the message class, which the first such query
//    indexes), the matching rows read; reports ms_per_query.
//  - SortedFirstPage: the folder sorted by a time, its first 50 rows.
//  - MoreMessagesIndexed: 20,000 more messages saved into the folder, now
//    indexed on four tags.
//  - HierarchyWalk: 1,000 folders (10, 90, 900 on three levels) read through hierarchy
//    tables and OpenEntry; reports ms_per_walk.
// The store lives in QUILLORY_BENCH_DIR when set, else in a temporary
// directory removed at the end. QUILLORY_BENCH_MESSAGES changes the number of
// messages (for quick runs).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/proputil.h"

namespace {

using quillory::ComPtr;
using quillory::MapiBuffer;
using quillory::RowSetPtr;

const int kMessages = [] {
    const char* n = std::getenv("QUILLORY_BENCH_MESSAGES");
    return n && std::atoi(n) >= 10 ? std::atoi(n) : 100000;
}();
const int kThreads = kMessages / 10;  // distinct subjects, 10 messages each

struct Bench {
    std::filesystem::path dir;
    bool ownDir = false;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> folder;
    bool populated = false;
    double messagesPerSecond = 0;

    Bench()
    {
        if (const char* d = std::getenv("QUILLORY_BENCH_DIR"); d && *d) {
            dir = d;
        } else {
            dir = std::filesystem::temp_directory_path() / ("quillory-store-bench-" + std::to_string(getpid()));
            ownDir = true;
        }
        std::filesystem::create_directories(dir);
        std::filesystem::remove(dir / "bench.db");
        std::filesystem::remove(dir / "bench.db-wal");
        std::filesystem::remove(dir / "bench.db-shm");
        MAPIUID uid{};
        uid.ab[0] = 0xBE;
        if (FAILED(quillory::OpenMessageStore(dir / "bench.db", uid, "Bench", 0, &store))) std::abort();
        ComPtr<IMAPIFolder> root = Open(nullptr);
        if (FAILED(root->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Big"), nullptr, nullptr, 0, &folder)))
            std::abort();
    }

    ~Bench()
    {
        folder = nullptr;
        store = nullptr;
        if (ownDir) std::filesystem::remove_all(dir);
    }

    ComPtr<IMAPIFolder> Open(const SBinary* eid)
    {
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        if (FAILED(store->OpenEntry(eid ? eid->cb : 0, eid ? reinterpret_cast<LPENTRYID>(eid->lpb) : nullptr, nullptr,
                                    MAPI_MODIFY, &type, &unk)))
            std::abort();
        return ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.Get()));
    }

    void AddMessage(int i)
    {
        const std::string subject = "Re: thread " + std::to_string(i % kThreads);
        const std::string topic = "thread " + std::to_string(i % kThreads);
        const std::string id = "<" + std::to_string(i) + "@bench.example>";
        const std::string parent = "<" + std::to_string(i / 2) + "@bench.example>";
        const std::string sender = "Sender " + std::to_string(i % 97);
        const std::string address = "sender" + std::to_string(i % 97) + "@example.org";
        static const std::string body(500, 'b');
        static const std::string messageClass = "IPM.Post";
        static const std::string group = "alt.test.bench";
        BYTE index[27] = {1, static_cast<BYTE>(i), static_cast<BYTE>(i >> 8), static_cast<BYTE>(i >> 16)};
        const FILETIME when{static_cast<DWORD>(i * 10000000ull), 0x01D90000u + static_cast<DWORD>(i >> 12)};
        SPropValue v[15]{};
        auto str = [&](int k, ULONG tag, const std::string& s) {
            v[k].ulPropTag = tag;
            v[k].Value.lpszA = const_cast<LPSTR>(s.c_str());
        };
        str(0, PR_SUBJECT, subject);
        str(1, PR_MESSAGE_CLASS, messageClass);
        str(2, PR_SENDER_NAME, sender);
        str(3, PR_SENDER_EMAIL_ADDRESS, address);
        str(4, PR_INTERNET_MESSAGE_ID, id);
        str(5, PR_IN_REPLY_TO_ID, parent);
        str(6, PR_NEWSGROUP_NAME, group);
        v[7].ulPropTag = PR_INTERNET_ARTICLE_NUMBER;
        v[7].Value.l = i;
        v[8].ulPropTag = PR_CLIENT_SUBMIT_TIME;
        v[8].Value.ft = when;
        v[9].ulPropTag = PR_MESSAGE_DELIVERY_TIME;
        v[9].Value.ft = when;
        str(10, PR_CONVERSATION_TOPIC, topic);
        v[11].ulPropTag = PR_CONVERSATION_INDEX;
        v[11].Value.bin = SBinary{sizeof index, index};
        str(12, PR_BODY, body);
        v[13].ulPropTag = PR_IMPORTANCE;
        v[13].Value.l = 1;
        str(14, PR_DISPLAY_TO, group);
        ComPtr<IMessage> m;
        if (FAILED(folder->CreateMessage(nullptr, 0, &m)) || FAILED(m->SetProps(15, v, nullptr)) ||
            FAILED(m->SaveChanges(0)))
            std::abort();
    }

    void Populate()
    {
        if (populated) return;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kMessages; ++i) AddMessage(i);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        messagesPerSecond = kMessages / took.count();
        populated = true;
    }
};

Bench& State()
{
    static Bench bench;
    return bench;
}

void CreateMessages(benchmark::State& state)
{
    Bench& b = State();
    for (auto _ : state) b.Populate();
    state.counters["messages_per_s"] = b.messagesPerSecond;
    state.counters["messages"] = kMessages;
}
BENCHMARK(CreateMessages)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Wall milliseconds per iteration since start.
benchmark::Counter MsPerIteration(std::chrono::steady_clock::time_point start)
{
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return benchmark::Counter(took.count(), benchmark::Counter::kAvgIterations);
}

// Rows of the folder's contents table restricted by r; all of them read.
ULONG Query(IMAPIFolder* folder, SRestriction* r, SSortOrderSet* sort, LONG rows)
{
    ComPtr<IMAPITable> table;
    if (FAILED(folder->GetContentsTable(0, &table))) std::abort();
    auto cols = quillory::MakeTagArray({PR_ENTRYID, PR_SUBJECT, PR_INTERNET_ARTICLE_NUMBER, PR_MESSAGE_FLAGS});
    if (FAILED(table->SetColumns(cols.Get(), 0))) std::abort();
    if (r && FAILED(table->Restrict(r, 0))) std::abort();
    if (sort && FAILED(table->SortTable(sort, 0))) std::abort();
    RowSetPtr set;
    if (FAILED(table->QueryRows(rows, 0, &set))) std::abort();
    return set->cRows;
}

void FirstRestrictionOnNewTag(benchmark::State& state)
{
    Bench& b = State();
    b.Populate();
    for (auto _ : state) {
        SPropValue v{};
        v.ulPropTag = PR_SUBJECT;
        v.Value.lpszA = const_cast<LPSTR>("Re: thread 5");
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_SUBJECT, &v};
        if (Query(b.folder.Get(), &r, nullptr, 50) != static_cast<ULONG>(kMessages / kThreads)) std::abort();
    }
}
BENCHMARK(FirstRestrictionOnNewTag)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void EqualityQuery(benchmark::State& state)
{
    Bench& b = State();
    b.Populate();
    int n = 0;
    ULONG found = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const std::string subject = "Re: thread " + std::to_string((n++ * 7919) % kThreads);
        SPropValue v{};
        v.ulPropTag = PR_SUBJECT;
        v.Value.lpszA = const_cast<LPSTR>(subject.c_str());
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_SUBJECT, &v};
        found = Query(b.folder.Get(), &r, nullptr, 50);
        if (found != static_cast<ULONG>(kMessages / kThreads)) std::abort();
    }
    state.counters["rows"] = found;
    state.counters["ms_per_query"] = MsPerIteration(start);
}
BENCHMARK(EqualityQuery)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void AndQuery(benchmark::State& state)
{
    Bench& b = State();
    b.Populate();
    int n = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const int k = (n++ * 7919) % kMessages;
        const std::string subject = "Re: thread " + std::to_string(k % kThreads);
        SPropValue v[2]{};
        v[0].ulPropTag = PR_MESSAGE_CLASS;  // the same in every message: the other test decides
        v[0].Value.lpszA = const_cast<LPSTR>("IPM.Post");
        v[1].ulPropTag = PR_SUBJECT;
        v[1].Value.lpszA = const_cast<LPSTR>(subject.c_str());
        SRestriction parts[2]{};
        for (int i = 0; i < 2; ++i) {
            parts[i].rt = RES_PROPERTY;
            parts[i].res.resProperty = SPropertyRestriction{RELOP_EQ, v[i].ulPropTag, &v[i]};
        }
        SRestriction r{};
        r.rt = RES_AND;
        r.res.resAnd = SAndRestriction{2, parts};
        if (const ULONG got = Query(b.folder.Get(), &r, nullptr, 50); got != static_cast<ULONG>(kMessages / kThreads)) {
            std::fprintf(stderr, "AndQuery: %u rows\n", static_cast<unsigned>(got));
            std::abort();
        }
    }
    state.counters["ms_per_query"] = MsPerIteration(start);
}
BENCHMARK(AndQuery)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void SortedFirstPage(benchmark::State& state)
{
    Bench& b = State();
    b.Populate();
    MapiBuffer<SSortOrderSet> sort;
    if (FAILED(MAPIAllocateBuffer(CbNewSSortOrderSet(1), sort.AsVoidOut()))) std::abort();
    *sort.Get() = SSortOrderSet{1, 0, 0, {{PR_CLIENT_SUBMIT_TIME, TABLE_SORT_DESCEND}}};
    for (auto _ : state) {
        if (Query(b.folder.Get(), nullptr, sort.Get(), 50) != 50) std::abort();
    }
}
BENCHMARK(SortedFirstPage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Saves into the same folder once the queries above have indexed three more
// tags (subject, message class, submit time): each save keeps four indexes.
void MoreMessagesIndexed(benchmark::State& state)
{
    Bench& b = State();
    b.Populate();
    const int more = std::max(10, kMessages / 5);
    double rate = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < more; ++i) b.AddMessage(kMessages + i);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        rate = more / took.count();
    }
    state.counters["messages_per_s"] = rate;
    state.counters["messages"] = more;
}
BENCHMARK(MoreMessagesIndexed)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void HierarchyWalk(benchmark::State& state)
{
    Bench& b = State();
    ComPtr<IMAPIFolder> root = b.Open(nullptr);
    ComPtr<IMAPIFolder> top;
    if (FAILED(root->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Tree"), nullptr, nullptr, OPEN_IF_EXISTS, &top)))
        std::abort();
    constexpr int kWidth[] = {10, 9, 10};
    std::function<void(IMAPIFolder*, int)> build = [&](IMAPIFolder* parent, int depth) {
        for (int i = 0; i < kWidth[depth]; ++i) {
            ComPtr<IMAPIFolder> f;
            const std::string name = "folder " + std::to_string(depth) + "." + std::to_string(i);
            if (FAILED(parent->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>(name.c_str()), nullptr, nullptr,
                                            OPEN_IF_EXISTS, &f)))
                std::abort();
            if (depth < 2) build(f.Get(), depth + 1);
        }
    };
    build(top.Get(), 0);
    int seen = 0;
    std::function<void(IMAPIFolder*)> walk = [&](IMAPIFolder* folder) {
        ComPtr<IMAPITable> table;
        if (FAILED(folder->GetHierarchyTable(0, &table))) std::abort();
        auto cols = quillory::MakeTagArray({PR_ENTRYID, PR_DISPLAY_NAME, PR_SUBFOLDERS, PR_CONTENT_COUNT});
        if (FAILED(table->SetColumns(cols.Get(), 0))) std::abort();
        RowSetPtr rows;
        if (FAILED(table->QueryRows(1000, 0, &rows))) std::abort();
        for (ULONG i = 0; i < rows->cRows; ++i) {
            ++seen;
            if (!rows->aRow[i].lpProps[2].Value.b) continue;
            walk(b.Open(&rows->aRow[i].lpProps[0].Value.bin).Get());
        }
    };
    for (auto _ : state) {
        seen = 0;
        walk(top.Get());
        if (seen != 1000) std::abort();  // 10 + 90 + 900
    }
    state.counters["folders"] = seen;
}
BENCHMARK(HierarchyWalk)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

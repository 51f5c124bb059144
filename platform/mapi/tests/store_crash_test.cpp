// A process killed while it saves leaves the store as it was before the save.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <random>

#include "platform/mapi/store_db.h"
#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {
namespace {

std::vector<BYTE> Eid(IMAPIProp* obj) { return GetBinary(obj, PR_ENTRYID); }

// Waits for one byte from the child; false after the time-out.
bool AwaitSignal(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return false;
    char c = 0;
    return read(fd, &c, 1) == 1;
}

void KillAndReap(pid_t child)
{
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

std::string Pattern(std::size_t n, char seed)
{
    std::string s(n, ' ');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + static_cast<std::size_t>(seed)) % 26);
    return s;
}

// A default VFS that stops the process before a chosen write to a main
// database file. In WAL mode the main file is written only by checkpoints,
// which copy the log's pages into it in page order, page 1 (with the new
// page count) first, extending the file only when its last page comes: so
// the stop lands between checkpoint pages. Installed in a child only.
namespace fault_vfs {

sqlite3_vfs* g_real = nullptr;
sqlite3_vfs g_vfs;
const sqlite3_io_methods* g_realMethods = nullptr;
sqlite3_io_methods g_methods;
long g_stopBefore = -1;  // the write to stop at, counted from 0; -1: never
long g_writes = 0;
int g_signalFd = -1;

int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset)
{
    if (g_writes == g_stopBefore) {
        const char c = 1;
        if (::write(g_signalFd, &c, 1) != 1) _exit(3);
        for (;;) pause();  // killed here
    }
    ++g_writes;
    return g_realMethods->xWrite(file, data, amount, offset);
}

int Open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags)
{
    const int rc = g_real->xOpen(g_real, name, file, flags, outFlags);
    if (rc == SQLITE_OK && (flags & SQLITE_OPEN_MAIN_DB) && file->pMethods) {
        if (!g_realMethods) {
            g_realMethods = file->pMethods;
            g_methods = *file->pMethods;
            g_methods.xWrite = Write;
        }
        if (file->pMethods == g_realMethods) file->pMethods = &g_methods;
    }
    return rc;
}

void Install(long stopBefore, int signalFd)
{
    g_real = sqlite3_vfs_find(nullptr);
    g_vfs = *g_real;
    g_vfs.zName = "stop-in-checkpoint";
    g_vfs.pNext = nullptr;
    g_vfs.xOpen = Open;
    g_stopBefore = stopBefore;
    g_signalFd = signalFd;
    sqlite3_vfs_register(&g_vfs, 1);
}

}  // namespace fault_vfs

// The saves of the checkpoint test: message i has a body of SizeOf(i) bytes.
std::size_t SizeOf(std::size_t i) { return 6000 + (i * 7919) % 14000; }
constexpr std::size_t kCheckpointSaves = 300;

// A child saves kCheckpointSaves messages into `file` (into the log only:
// far below the automatic checkpoint) and lets the store go, which folds the
// log into the file. With stopBefore >= 0 it stops before that write of the
// main file and is killed there (true); otherwise it finishes and *writes
// gets the number of writes the checkpoint made.
bool SaveThenCheckpoint(const std::filesystem::path& file, long stopBefore, long* writes = nullptr)
{
    int fds[2];
    if (pipe(fds) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        fault_vfs::Install(stopBefore, fds[1]);
        {
            ComPtr<IMsgStore> store;
            if (FAILED(OpenMessageStore(file, TestUid(1), "", 0, &store))) _exit(1);
            auto inbox = OpenInbox(store.Get());
            for (std::size_t i = 0; i < kCheckpointSaves; ++i) {
                const std::string body = Pattern(SizeOf(i), static_cast<char>(i % 26));
                const std::string subject = std::to_string(i);
                ComPtr<IMessage> m;
                if (FAILED(inbox->CreateMessage(nullptr, 0, &m))) _exit(1);
                SPropValue v[] = {StringProp(PR_SUBJECT, subject.c_str()), StringProp(PR_BODY, body.c_str())};
                if (FAILED(m->SetProps(2, v, nullptr)) || FAILED(m->SaveChanges(0))) _exit(1);
            }
        }
        const char done = 2;
        const long made = fault_vfs::g_writes;
        if (write(fds[1], &done, 1) != 1 || write(fds[1], &made, sizeof made) != sizeof made) _exit(3);
        _exit(0);
    }
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    char what = 0;
    const bool heard = poll(&p, 1, 120000) == 1 && read(fds[0], &what, 1) == 1;
    long made = -1;
    if (heard && what == 2 && read(fds[0], &made, sizeof made) == sizeof made && writes) *writes = made;
    close(fds[0]);
    KillAndReap(child);
    return heard && what == 1;
}

// Empty when the store in `file` holds every message of SaveThenCheckpoint whole.
std::string CheckpointSavesMissing(const std::filesystem::path& file)
{
    auto store = OpenStore(file);
    if (!store) return "the store does not open";
    ComPtr<IMAPITable> table;
    if (FAILED(OpenInbox(store.Get())->GetContentsTable(0, &table))) return "no contents table";
    auto cols = MakeTagArray({PR_ENTRYID, PR_SUBJECT});
    RowSetPtr rows;
    if (FAILED(table->SetColumns(cols.Get(), 0)) || FAILED(table->QueryRows(100000, 0, &rows)))
        return "the contents table cannot be read";
    if (rows->cRows != kCheckpointSaves) return std::to_string(rows->cRows) + " messages";
    std::vector<bool> seen(kCheckpointSaves);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const std::size_t i = std::stoul(rows->aRow[r].lpProps[1].Value.lpszA);
        const SBinary& eid = rows->aRow[r].lpProps[0].Value.bin;
        auto m = OpenEntryAs<IMessage>(store.Get(), std::vector<BYTE>(eid.lpb, eid.lpb + eid.cb), 0);
        if (i >= kCheckpointSaves || seen[i] || !m) return "message " + std::to_string(i) + " twice or unreadable";
        seen[i] = true;
        if (GetString(m.Get(), PR_BODY) != Pattern(SizeOf(i), static_cast<char>(i % 26)))
            return "message " + std::to_string(i) + " differs";
    }
    return {};
}

TEST(StoreCrash, KilledBetweenCheckpointPagesTheStoreOpensWithEverySave)
{
    TempHome home;
    const auto base = StorePath(home, "base.db");
    { OpenStore(base); }
    // How many writes the checkpoint makes, from a run that is not stopped.
    long writes = -1;
    {
        const auto file = StorePath(home, "whole.db");
        std::filesystem::copy_file(base, file);
        EXPECT_FALSE(SaveThenCheckpoint(file, -1, &writes));
        EXPECT_EQ(CheckpointSavesMissing(file), "");
    }
    ASSERT_GT(writes, 500);
    // Before the first write (the log whole beside an untouched file), after
    // page 1 (the header already counts pages the file does not have yet),
    // midway, and before the last write.
    for (const long stop : {0L, 1L, 2L, writes / 2, writes - 1}) {
        const auto file = StorePath(home, ("stop-" + std::to_string(stop) + ".db").c_str());
        std::filesystem::copy_file(base, file);
        ASSERT_TRUE(SaveThenCheckpoint(file, stop)) << stop;
        std::error_code ec;
        ASSERT_GT(std::filesystem::file_size(file.string() + "-wal", ec), 0u) << stop;
        EXPECT_EQ(VerifyMessageStore(file), S_OK) << stop;
        EXPECT_EQ(CheckpointSavesMissing(file), "") << stop;
        // The store goes on: one more save, and every save is there after a reopen.
        {
            auto store = OpenStore(file);
            ASSERT_TRUE(store) << stop;
            AddMessage(OpenInbox(store.Get()).Get(), "one more");
        }
        EXPECT_EQ(GetLong(OpenInbox(OpenStore(file).Get()).Get(), PR_CONTENT_COUNT),
                  static_cast<LONG>(kCheckpointSaves + 1))
            << stop;
    }
}

TEST(StoreCrash, KilledInsideALargeSaveLeavesThePreviousVersionWhole)
{
    TempHome home;
    const auto file = StorePath(home);
    std::vector<BYTE> id;
    const std::string oldBody = Pattern(5000, 'x');
    {
        auto store = OpenStore(file);
        auto m = AddMessage(OpenInbox(store.Get()).Get(), "version 1", {StringProp(PR_BODY, oldBody.c_str())});
        ULONG num = 0;
        ComPtr<IAttach> a;
        ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &a), S_OK);
        SPropValue name = StringProp(PR_ATTACH_FILENAME, "old.txt");
        ASSERT_EQ(a->SetProps(1, &name, nullptr), S_OK);
        ASSERT_EQ(a->SaveChanges(0), S_OK);
        ASSERT_EQ(m->SaveChanges(0), S_OK);
        id = Eid(m.Get());
    }
    // Each stage of the save is a place to die: after the values, after the
    // recipients and attachments, just before the commit.
    for (const char* point : {"save-props", "save-parts", "save-written", "commit"}) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            const std::string wanted = point;
            store::SetFaultHookForTesting([&](const char* at) {
                if (wanted != at) return;
                const char c = 1;
                if (write(pipeFds[1], &c, 1) != 1) _exit(3);
                for (;;) pause();  // killed here, inside the transaction
            });
            ComPtr<IMsgStore> store;
            if (FAILED(OpenMessageStore(file, TestUid(1), "", 0, &store))) _exit(1);
            auto m = OpenEntryAs<IMessage>(store.Get(), id);
            if (!m) _exit(1);
            const std::string big = Pattern(8u << 20, 'n');  // 8 MB of new body
            SPropValue v[] = {StringProp(PR_SUBJECT, "version 2"), StringProp(PR_BODY, big.c_str())};
            if (FAILED(m->SetProps(2, v, nullptr))) _exit(1);
            ULONG num = 0;
            ComPtr<IAttach> a;
            if (FAILED(m->CreateAttach(nullptr, 0, &num, &a))) _exit(1);
            std::vector<BYTE> data(4u << 20, 0xAB);
            SPropValue d = BinaryProp(PR_ATTACH_DATA_BIN, data);
            if (FAILED(a->SetProps(1, &d, nullptr)) || FAILED(a->SaveChanges(0))) _exit(1);
            m->SaveChanges(0);
            _exit(2);  // the hook should have stopped us
        }
        close(pipeFds[1]);
        const bool reached = AwaitSignal(pipeFds[0], 60000);
        close(pipeFds[0]);
        KillAndReap(child);
        ASSERT_TRUE(reached) << point;

        EXPECT_EQ(VerifyMessageStore(file), S_OK) << point;
        auto store = OpenStore(file);
        ASSERT_TRUE(store);
        auto m = OpenEntryAs<IMessage>(store.Get(), id, 0);
        ASSERT_TRUE(m) << point;
        EXPECT_EQ(GetString(m.Get(), PR_SUBJECT), "version 1") << point;
        EXPECT_EQ(GetString(m.Get(), PR_BODY), oldBody) << point;
        ComPtr<IMAPITable> atts;
        ASSERT_EQ(m->GetAttachmentTable(0, &atts), S_OK);
        EXPECT_EQ(RowCount(atts.Get()), 1u) << point;
        EXPECT_EQ(GetLong(OpenInbox(store.Get()).Get(), PR_CONTENT_COUNT), 1) << point;
    }
    // The store goes on working.
    auto store = OpenStore(file);
    auto m = OpenEntryAs<IMessage>(store.Get(), id);
    SPropValue s = StringProp(PR_SUBJECT, "version 3");
    ASSERT_EQ(m->SetProps(1, &s, nullptr), S_OK);
    ASSERT_EQ(m->SaveChanges(0), S_OK);
    EXPECT_EQ(GetString(OpenEntryAs<IMessage>(store.Get(), id, 0).Get(), PR_SUBJECT), "version 3");
}

TEST(StoreCrash, KilledAtRandomMomentsEverySavedMessageIsWhole)
{
    TempHome home;
    const auto file = StorePath(home);
    { OpenStore(file); }
    std::mt19937 rng(77);
    for (int round = 0; round < 4; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            ComPtr<IMsgStore> store;
            if (FAILED(OpenMessageStore(file, TestUid(1), "", 0, &store))) _exit(1);
            auto inbox = OpenInbox(store.Get());
            const char c = 1;
            if (write(pipeFds[1], &c, 1) != 1) _exit(3);
            // Saves of varied sizes until killed; each subject names its body.
            for (std::size_t i = 0;; ++i) {
                const std::size_t size = (i * 7919) % (3u << 20);
                const std::string body = Pattern(size, static_cast<char>(i % 26));
                const std::string subject = std::to_string(size) + ":" + std::to_string(i % 26);
                ComPtr<IMessage> m;
                if (FAILED(inbox->CreateMessage(nullptr, 0, &m))) _exit(1);
                SPropValue v[] = {StringProp(PR_SUBJECT, subject.c_str()), StringProp(PR_BODY, body.c_str())};
                if (FAILED(m->SetProps(2, v, nullptr)) || FAILED(m->SaveChanges(0))) _exit(1);
            }
        }
        close(pipeFds[1]);
        ASSERT_TRUE(AwaitSignal(pipeFds[0], 60000));
        close(pipeFds[0]);
        usleep(200000 + static_cast<useconds_t>(rng() % 600000));
        KillAndReap(child);

        ASSERT_EQ(VerifyMessageStore(file), S_OK) << round;
        auto store = OpenStore(file);
        ComPtr<IMAPITable> table;
        ASSERT_EQ(OpenInbox(store.Get())->GetContentsTable(0, &table), S_OK);
        auto cols = MakeTagArray({PR_ENTRYID, PR_SUBJECT});
        ASSERT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
        RowSetPtr rows;
        ASSERT_EQ(table->QueryRows(100000, 0, &rows), S_OK);
        EXPECT_GT(rows->cRows, 0u) << round;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const std::string subject = rows->aRow[i].lpProps[1].Value.lpszA;
            const auto colon = subject.find(':');
            ASSERT_NE(colon, std::string::npos);
            const std::size_t size = std::stoul(subject.substr(0, colon));
            const auto seed = static_cast<char>(std::stoi(subject.substr(colon + 1)));
            const SBinary& eid = rows->aRow[i].lpProps[0].Value.bin;
            auto m = OpenEntryAs<IMessage>(store.Get(), std::vector<BYTE>(eid.lpb, eid.lpb + eid.cb), 0);
            ASSERT_TRUE(m);
            const std::string body = GetString(m.Get(), PR_BODY);
            EXPECT_EQ(body.size(), size) << subject;
            EXPECT_TRUE(body == Pattern(size, seed) || (size == 0 && body == "<missing>")) << subject;
        }
    }
}

}  // namespace
}  // namespace quillory::testing

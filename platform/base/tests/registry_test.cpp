#include "platform/base/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/tests/test_home.h"

namespace {

using quillory::testing::TempHome;

// A key handle closed at scope end.
class Key {
public:
    Key() = default;
    ~Key()
    {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

LONG SetString(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD v)
{
    return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

std::string GetString(HKEY key, const char* name)
{
    char buf[256] = {};
    DWORD cb = sizeof buf - 1;
    DWORD type = 0;
    if (RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb) != ERROR_SUCCESS)
        return "<missing>";
    return buf;
}

std::vector<std::string> SubKeys(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD cch = sizeof name;
        LONG rc = RegEnumKeyEx(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(rc, ERROR_SUCCESS);
        if (rc != ERROR_SUCCESS) break;
        EXPECT_EQ(cch, std::strlen(name));
        names.emplace_back(name);
    }
    return names;
}

TEST(RegistryKeys, CreateOpenAndEnumerateWithCaseInsensitiveNames)
{
    TempHome home;
    Key k;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Tarnel Ltd\\Corvane", 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, k.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));

    Key again;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\tarnel ltd\\CORVANE", 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, again.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    EXPECT_NE(k.get(), again.get());

    // Same key through both handles; names keep the case they were created with.
    ASSERT_EQ(SetString(k.get(), "DIR", "/data/"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(again.get(), "dir"), "/data/");
    Key parent;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\TARNEL LTD", 0, KEY_READ, parent.out()),
              ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(parent.get()), std::vector<std::string>{"Corvane"});

    // Hives are separate.
    Key other;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Tarnel Ltd", 0, KEY_READ, other.out()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other.get(), nullptr);
}

TEST(RegistryKeys, RejectsMalformedPaths)
{
    TempHome home;
    Key k;
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "a\\\\b", k.out()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "\\a", k.out()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, std::string(256, 'n').c_str(), k.out()),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKey(HKEY_CURRENT_USER, "a\\\\b", k.out()), ERROR_INVALID_PARAMETER);
    // Nothing of a rejected path was created.
    EXPECT_TRUE(SubKeys(HKEY_CURRENT_USER).empty());
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, std::string(255, 'n').c_str(), k.out()), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "x", nullptr), ERROR_INVALID_PARAMETER);
}

TEST(RegistryValues, TypesRoundTripIncludingBinaryWithNulBytes)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\T", k.out()), ERROR_SUCCESS);

    const BYTE blob[] = {0x00, 0x01, 0x00, 0xFF, 0x00};
    ASSERT_EQ(RegSetValueEx(k.get(), "BaseFolderBIN", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(k.get(), "BaseFolderCB", 0xDEADBEEF), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(k.get(), "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(k.get(), "Odd", 0, 0x1234, blob, 2), ERROR_SUCCESS);

    BYTE out[16];
    DWORD type = 0, cb = sizeof out;
    ASSERT_EQ(RegQueryValueEx(k.get(), "basefolderbin", nullptr, &type, out, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    ASSERT_EQ(cb, sizeof blob);
    EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);

    DWORD dw = 0;
    cb = sizeof dw;
    ASSERT_EQ(RegQueryValueEx(k.get(), "BaseFolderCB", nullptr, &type, reinterpret_cast<BYTE*>(&dw), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(dw, 0xDEADBEEFu);

    cb = sizeof out;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Empty", nullptr, &type, out, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 0u);
    cb = sizeof out;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Odd", nullptr, &type, out, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, 0x1234u);
    EXPECT_EQ(cb, 2u);

    EXPECT_EQ(RegQueryValueEx(k.get(), "Missing", nullptr, &type, out, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueEx(k.get(), "BaseFolderCB", nullptr, &type, out, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(k.get(), "x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
}

TEST(RegistryValues, SizesAndMoreData)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "S", k.out()), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k.get(), "Name", "abcdef"), ERROR_SUCCESS);  // 7 bytes with NUL

    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Name", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(cb, 7u);

    char buf[8];
    std::memset(buf, '#', sizeof buf);
    cb = 3;
    type = 0;
    EXPECT_EQ(RegQueryValueEx(k.get(), "Name", nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_MORE_DATA);
    EXPECT_EQ(cb, 7u);
    EXPECT_EQ(type, REG_SZ);
    cb = 7;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(buf[7], '#');  // nothing written past the data

    // The type alone, without size or buffer.
    type = 0;
    EXPECT_EQ(RegQueryValueEx(k.get(), "Name", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
}

TEST(RegistryValues, StringStoredWithoutNulGetsOneOnlyWhenThereIsRoom)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "S", k.out()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(k.get(), "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3),
              ERROR_SUCCESS);

    char buf[8];
    std::memset(buf, '#', sizeof buf);
    DWORD cb = 4;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Bare", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(cb, 3u);
    EXPECT_STREQ(buf, "abc");

    std::memset(buf, '#', sizeof buf);
    cb = 3;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Bare", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(cb, 3u);
    EXPECT_EQ(std::string(buf, 4), "abc#");

    // Binary data is never touched that way.
    ASSERT_EQ(RegSetValueEx(k.get(), "Bin", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3),
              ERROR_SUCCESS);
    std::memset(buf, '#', sizeof buf);
    cb = sizeof buf;
    ASSERT_EQ(RegQueryValueEx(k.get(), "Bin", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf, 4), "abc#");
}

TEST(RegistryValues, NamesAreCaseInsensitiveAndDefaultValueHasTwoSpellings)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "S", k.out()), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(k.get(), "LastMessages", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k.get(), "LASTMESSAGES", "now text"), ERROR_SUCCESS);  // overwrites
    ASSERT_EQ(SetString(k.get(), nullptr, "default"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(k.get(), ""), "default");

    char name[32];
    DWORD cch = sizeof name, type = 0;
    std::vector<std::pair<std::string, DWORD>> seen;
    for (DWORD i = 0; cch = sizeof name,
               RegEnumValue(k.get(), i, name, &cch, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS;
         ++i)
        seen.emplace_back(name, type);
    // One value each; the overwritten one keeps its first spelling.
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(std::string(), REG_SZ));
    EXPECT_EQ(seen[1], std::make_pair(std::string("LastMessages"), REG_SZ));

    EXPECT_EQ(RegDeleteValue(k.get(), "lastmessages"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(k.get(), "LastMessages"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValue(k.get(), ""), ERROR_SUCCESS);
    EXPECT_EQ(GetString(k.get(), nullptr), "<missing>");
}

TEST(RegistryEnumeration, OrderEndAndShortBuffers)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "E", k.out()), ERROR_SUCCESS);
    for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2"}) {
        Key sub;
        ASSERT_EQ(RegCreateKey(k.get(), name, sub.out()), ERROR_SUCCESS);
    }
    EXPECT_EQ(SubKeys(k.get()), (std::vector<std::string>{"Alpha", "ALPHA2", "beta", "gamma"}));

    char name[8];
    DWORD cch = 5;  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(RegEnumKeyEx(k.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    cch = 6;
    FILETIME ft{};
    EXPECT_EQ(RegEnumKeyEx(k.get(), 0, name, &cch, nullptr, nullptr, nullptr, &ft), ERROR_SUCCESS);
    EXPECT_NE(ft.dwHighDateTime, 0u);
    cch = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(k.get(), 4, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    const BYTE data[10] = {};
    ASSERT_EQ(RegSetValueEx(k.get(), "v", 0, REG_BINARY, data, sizeof data), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(k.get(), "longer", 1), ERROR_SUCCESS);
    BYTE buf[4];
    DWORD cb = sizeof buf, type = 0;
    cch = sizeof name;
    // Data too small: the name still comes, with the needed size.
    EXPECT_EQ(RegEnumValue(k.get(), 1, name, &cch, nullptr, &type, buf, &cb), ERROR_MORE_DATA);
    EXPECT_STREQ(name, "v");
    EXPECT_EQ(cb, 10u);
    cch = sizeof name;
    EXPECT_EQ(RegEnumValue(k.get(), 2, name, &cch, nullptr, &type, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKey(k.get(), nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values,
                              &maxName, &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 4u);
    EXPECT_EQ(maxSub, 6u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 6u);
    EXPECT_EQ(maxData, 10u);
}

TEST(RegistryHandles, BadClosedAndDeletedHandles)
{
    TempHome home;
    Key k, k2;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "H\\Doomed", k.out()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKey(HKEY_CURRENT_USER, "H\\Doomed", k2.out()), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);

    HKEY temp = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_CURRENT_USER, "H", &temp), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(temp), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(temp), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(temp, "x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003)), "x", 1),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(nullptr, "x", 1), ERROR_INVALID_HANDLE);

    ASSERT_EQ(SetDword(k.get(), "v", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "H\\Doomed"), ERROR_SUCCESS);
    // A key of the same name made afterwards is a different key.
    Key reborn;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "H\\Doomed", reborn.out()), ERROR_SUCCESS);

    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueEx(k.get(), "v", nullptr, nullptr, nullptr, &cb), ERROR_KEY_DELETED);
    EXPECT_EQ(SetDword(k2.get(), "v", 2), ERROR_KEY_DELETED);
    Key sub;
    EXPECT_EQ(RegCreateKey(k.get(), "child", sub.out()), ERROR_KEY_DELETED);
    char name[8];
    DWORD cch = sizeof name;
    EXPECT_EQ(RegEnumKeyEx(k.get(), 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValue(k.get(), "v"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueEx(reborn.get(), "v", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(SubKeys(reborn.get()).empty());
}

TEST(RegistryDelete, KeyWithChildrenRootsAndTrees)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "P\\Profiles\\One\\Deep", k.out()), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(k.get(), "v", 1), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "P\\Profiles"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, "P\\Nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "P\\Nothing"), ERROR_FILE_NOT_FOUND);

    // An empty sub-key deletes the handle's own key.
    EXPECT_EQ(RegDeleteKey(k.get(), ""), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(k.get(), "v", 1), ERROR_KEY_DELETED);

    Key one;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "P\\Profiles\\One\\A\\B", one.out()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "p\\profiles"), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(one.get(), "v", 1), ERROR_KEY_DELETED);
    Key p;
    ASSERT_EQ(RegOpenKey(HKEY_CURRENT_USER, "P", p.out()), ERROR_SUCCESS);
    EXPECT_TRUE(SubKeys(p.get()).empty());

    // A null sub-key empties the key but keeps it.
    Key q;
    ASSERT_EQ(RegCreateKey(p.get(), "Q", q.out()), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(p.get(), "w", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(p.get(), nullptr), ERROR_SUCCESS);
    DWORD subKeys = 9, values = 9;
    ASSERT_EQ(RegQueryInfoKey(p.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);
}

TEST(RegistryStorage, PersistsOnDiskAndFollowsTheRoot)
{
    TempHome first;
    {
        Key k;
        ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Keep", k.out()), ERROR_SUCCESS);
        ASSERT_EQ(SetString(k.get(), "VISMORA", "VISMORA.DLL"), ERROR_SUCCESS);
    }
    HKEY stale = nullptr;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Keep", &stale), ERROR_SUCCESS);
    {
        TempHome second;  // another root: another, empty registry
        Key k;
        EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Keep", k.out()), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(SetDword(stale, "x", 1), ERROR_INVALID_HANDLE);
    }
    // Back to the first root: the database is read again from disk.
    Key k;
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Software\\Keep", k.out()), ERROR_SUCCESS);
    EXPECT_EQ(GetString(k.get(), "vismora"), "VISMORA.DLL");
    EXPECT_EQ(RegCloseKey(stale), ERROR_SUCCESS);
}

TEST(RegistryStorage, DamagedDatabaseIsReportedNotHidden)
{
    TempHome home;
    std::filesystem::create_directories(home.path() / "registry");
    {
        std::ofstream junk(home.path() / "registry" / "registry.db", std::ios::binary);
        junk << std::string(8192, 'Z');
    }
    Key k;
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software", k.out()), ERROR_BADDB);
    EXPECT_EQ(k.get(), nullptr);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueEx(HKEY_CURRENT_USER, "x", nullptr, nullptr, nullptr, &cb), ERROR_BADDB);
}

// Runs body in a child process; returns its exit status.
template <class Body>
pid_t Spawn(Body body)
{
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

int Wait(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(RegistryProcesses, TwoWritersAtOnceLoseNothing)
{
    TempHome home;
    constexpr int kPerWriter = 300;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Shared", k.out()), ERROR_SUCCESS);

    auto writer = [](char tag) {
        return [tag] {
            for (int i = 0; i < kPerWriter; ++i) {
                HKEY key = nullptr;
                // Each writer also creates its own sub-keys while the other writes.
                std::string sub = std::string("Software\\Shared\\") + tag + std::to_string(i % 7);
                if (RegCreateKey(HKEY_CURRENT_USER, sub.c_str(), &key) != ERROR_SUCCESS) return 1;
                RegCloseKey(key);
                if (RegOpenKey(HKEY_CURRENT_USER, "Software\\Shared", &key) != ERROR_SUCCESS) return 2;
                std::string name = std::string(1, tag) + std::to_string(i);
                DWORD v = static_cast<DWORD>(i);
                LONG rc = RegSetValueEx(key, name.c_str(), 0, REG_DWORD,
                                        reinterpret_cast<const BYTE*>(&v), sizeof v);
                RegCloseKey(key);
                if (rc != ERROR_SUCCESS) return 3;
            }
            return 0;
        };
    };
    pid_t a = Spawn(writer('a'));
    pid_t b = Spawn(writer('b'));
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_EQ(Wait(a), 0);
    EXPECT_EQ(Wait(b), 0);

    DWORD values = 0, subKeys = 0;
    ASSERT_EQ(RegQueryInfoKey(k.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2u * kPerWriter);
    EXPECT_EQ(subKeys, 14u);
    for (char tag : {'a', 'b'})
        for (int i = 0; i < kPerWriter; ++i) {
            DWORD v = 0, cb = sizeof v;
            std::string name = std::string(1, tag) + std::to_string(i);
            ASSERT_EQ(RegQueryValueEx(k.get(), name.c_str(), nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(&v), &cb),
                      ERROR_SUCCESS)
                << name;
            EXPECT_EQ(v, static_cast<DWORD>(i));
        }
}

TEST(RegistryProcesses, KeyDeletedByAnotherProcessIsSeenThroughOpenHandles)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Gone", k.out()), ERROR_SUCCESS);
    pid_t child = Spawn([] { return static_cast<int>(RegDeleteTree(HKEY_CURRENT_USER, "Software\\Gone")); });
    ASSERT_EQ(Wait(child), 0);
    EXPECT_EQ(SetDword(k.get(), "v", 1), ERROR_KEY_DELETED);
}

TEST(RegistryProcesses, KilledWriterLeavesAnIntactDatabaseWithEveryCommittedWrite)
{
    TempHome home;
    Key k;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Crash", k.out()), ERROR_SUCCESS);
    pid_t child = Spawn([] {
        HKEY key = nullptr;
        if (RegOpenKey(HKEY_CURRENT_USER, "Software\\Crash", &key) != ERROR_SUCCESS) return 1;
        for (DWORD i = 0; i < 1000000; ++i) {  // bounded, should the parent fail to kill it
            std::string name = "v" + std::to_string(i);
            if (RegSetValueEx(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), sizeof i) !=
                ERROR_SUCCESS)
                return 2;
        }
        return 3;
    });
    ASSERT_GT(child, 0);
    DWORD values = 0;
    for (int tries = 0; values < 50 && tries < 1000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (RegQueryInfoKey(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                            nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
    }
    kill(child, SIGKILL);
    EXPECT_EQ(Wait(child), 128 + SIGKILL);

    // Every write is whole: the values present are exactly v0 .. v(n-1).
    ASSERT_EQ(RegQueryInfoKey(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_GE(values, 50u);
    for (DWORD i = 0; i < values; ++i) {
        DWORD v = ~0u, cb = sizeof v;
        std::string name = "v" + std::to_string(i);
        ASSERT_EQ(RegQueryValueEx(k.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb),
                  ERROR_SUCCESS)
            << name;
        EXPECT_EQ(v, i);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home.path() / "registry" / "registry.db").c_str(), &db), SQLITE_OK);
    std::string verdict;
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** cols, char**) {
            *static_cast<std::string*>(out) += cols[0] ? cols[0] : "";
            return 0;
        },
        &verdict, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(verdict, "ok");
}

TEST(RegistryThreads, ConcurrentCallsInOneProcess)
{
    TempHome home;
    constexpr int kThreads = 4, kEach = 50;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < kEach; ++i) {
                HKEY key = nullptr;
                if (RegCreateKey(HKEY_CURRENT_USER, "Software\\Threads", &key) != ERROR_SUCCESS ||
                    SetDword(key, ("t" + std::to_string(t) + "_" + std::to_string(i)).c_str(), 1) !=
                        ERROR_SUCCESS ||
                    RegCloseKey(key) != ERROR_SUCCESS)
                    ++failures[t];
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    Key k;
    ASSERT_EQ(RegOpenKey(HKEY_CURRENT_USER, "Software\\Threads", k.out()), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKey(k.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kEach));
}

}  // namespace

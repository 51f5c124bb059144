#include "common/regstore.h"

#include "platform/base/tests/test_home.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

namespace quillory {
namespace {

class RegStore : public ::testing::Test {
protected:
    testing::TempHome home;
    const std::string main{kMainKey};
    const std::string profile = ProfileKeyPath("Outlook");
};

TEST_F(RegStore, ProfileKeyIsBelowTheMainKey)
{
    EXPECT_EQ(profile, "Software\\Tarnel Ltd\\Corvane\\Profiles\\Outlook");
}

TEST_F(RegStore, StringFallsBackToLocalMachineThenDefault)
{
    std::string value;
    EXPECT_FALSE(ReadRegString(main, kValVismora, value, kVismoraBufferSize, kDefaultVismora));
    EXPECT_EQ(value, "VISMORA.DLL");

    ASSERT_EQ(WriteRegString(main, kValVismora, "/opt/lm/libvismora.so", HKEY_LOCAL_MACHINE),
              ERROR_SUCCESS);
    EXPECT_TRUE(ReadRegString(main, kValVismora, value, kVismoraBufferSize, kDefaultVismora));
    EXPECT_EQ(value, "/opt/lm/libvismora.so");

    ASSERT_EQ(WriteRegString(main, kValVismora, ""), ERROR_SUCCESS);  // empty but present wins
    EXPECT_TRUE(ReadRegString(main, kValVismora, value, kVismoraBufferSize, kDefaultVismora));
    EXPECT_EQ(value, "");

    // A current-user value of the wrong type does not hide the machine's.
    ASSERT_EQ(WriteRegDword(main, kValVismora, 7), ERROR_SUCCESS);
    EXPECT_TRUE(ReadRegString(main, kValVismora, value, kVismoraBufferSize, kDefaultVismora));
    EXPECT_EQ(value, "/opt/lm/libvismora.so");
}

TEST_F(RegStore, StringIsCutToTheBufferAndAlwaysTerminated)
{
    ASSERT_EQ(WriteRegString(main, kValDir, "/home/user/news/"), ERROR_SUCCESS);
    std::array<char, 12> guarded;
    guarded.fill('#');
    const std::span<char> buffer(guarded.data(), 8);

    EXPECT_TRUE(ReadRegString(main, kValDir, buffer, ""));
    EXPECT_STREQ(guarded.data(), "/home/u");  // 7 bytes and the NUL
    EXPECT_EQ(guarded[8], '#');

    guarded.fill('#');
    EXPECT_FALSE(ReadRegString(main, "NoSuchValue", buffer, "a-long-default"));
    EXPECT_STREQ(guarded.data(), "a-long-");
    EXPECT_EQ(guarded[8], '#');

    guarded.fill('#');
    EXPECT_TRUE(ReadRegString(main, kValDir, std::span<char>(guarded.data(), 1), ""));
    EXPECT_EQ(guarded[0], '\0');
    EXPECT_EQ(guarded[1], '#');
    EXPECT_TRUE(ReadRegString(main, kValDir, std::span<char>(), ""));  // nothing written

    std::string value;
    EXPECT_TRUE(ReadRegString(main, kValDir, value, 8, ""));
    EXPECT_EQ(value, "/home/u");
}

TEST_F(RegStore, DwordFromCurrentUserOnlyAndOfItsType)
{
    DWORD value = 0;
    EXPECT_FALSE(ReadRegDword(main, kValNewNewsgroupsTime, value, kDefaultNewNewsgroupsMinutes));
    EXPECT_EQ(value, 10080u);

    ASSERT_EQ(WriteRegDword(main, kValNewNewsgroupsTime, 60, HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_FALSE(ReadRegDword(main, kValNewNewsgroupsTime, value, kDefaultNewNewsgroupsMinutes));
    EXPECT_EQ(value, 10080u);

    ASSERT_EQ(WriteRegString(main, kValNewNewsgroupsTime, "60"), ERROR_SUCCESS);
    EXPECT_FALSE(ReadRegDword(main, kValNewNewsgroupsTime, value, kDefaultNewNewsgroupsMinutes));
    EXPECT_EQ(value, 10080u);

    ASSERT_EQ(WriteRegDword(main, kValNewNewsgroupsTime, 0xFFFFFFFEu), ERROR_SUCCESS);
    EXPECT_TRUE(ReadRegDword(main, kValNewNewsgroupsTime, value, kDefaultNewNewsgroupsMinutes));
    EXPECT_EQ(value, 0xFFFFFFFEu);
}

TEST_F(RegStore, BinaryZeroFillsEverythingNotRead)
{
    std::array<BYTE, kBinaryValueSize> buffer;
    DWORD length = 99;
    buffer.fill(0xAA);
    EXPECT_FALSE(ReadRegBinary(profile, kValBaseFolderBIN, buffer, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), static_cast<long>(buffer.size()));

    const std::vector<BYTE> id = {1, 2, 3, 4, 5};
    ASSERT_EQ(WriteRegBinary(profile, kValBaseFolderBIN, id), ERROR_SUCCESS);
    buffer.fill(0xAA);
    EXPECT_TRUE(ReadRegBinary(profile, kValBaseFolderBIN, buffer, &length));
    EXPECT_EQ(length, 5u);
    EXPECT_TRUE(std::equal(id.begin(), id.end(), buffer.begin()));
    EXPECT_EQ(std::count(buffer.begin() + 5, buffer.end(), 0), static_cast<long>(buffer.size() - 5));

    // Too long for the buffer: a cut entry ID is no entry ID.
    ASSERT_EQ(WriteRegBinary(profile, kValBaseFolderBIN, std::vector<BYTE>(1001, 7)), ERROR_SUCCESS);
    buffer.fill(0xAA);
    EXPECT_FALSE(ReadRegBinary(profile, kValBaseFolderBIN, buffer, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), static_cast<long>(buffer.size()));
}

TEST_F(RegStore, ProfileSettingsAndHeaderLimit)
{
    ProfileSettings s = ReadProfileSettings("Outlook");
    EXPECT_EQ(s.postUnsubscribed, 0u);
    EXPECT_EQ(s.createSubfolders, 1u);
    EXPECT_EQ(s.HeaderLimit(), 300u);

    ASSERT_EQ(WriteRegDword(profile, kValLastMessagesCount, 0), ERROR_SUCCESS);
    ASSERT_EQ(WriteRegDword(profile, kValPostUnsubscribed, 1), ERROR_SUCCESS);
    ASSERT_EQ(WriteRegDword(profile, kValCreateSubfolders, 0), ERROR_SUCCESS);
    s = ReadProfileSettings("Outlook");
    EXPECT_EQ(s.lastMessagesCount, 0u);
    EXPECT_EQ(s.HeaderLimit(), 300u);
    EXPECT_EQ(s.postUnsubscribed, 1u);
    EXPECT_EQ(s.createSubfolders, 0u);
    EXPECT_EQ(ReadProfileSettings("Other").postUnsubscribed, 0u);  // per profile

    EXPECT_EQ(HeaderLimit(1, 50), 50u);
    EXPECT_EQ(HeaderLimit(7, 0xFFFFFFFFu), 300u);  // -1 counts as "0 or less"
    EXPECT_EQ(HeaderLimit(1, 0x7FFFFFFFu), 0x7FFFFFFFu);
    EXPECT_EQ(HeaderLimit(0, 50), 0u);
    EXPECT_EQ(HeaderLimit(0, 0), 0u);
}

TEST_F(RegStore, BaseFolderNeedsAllFourValues)
{
    const std::vector<BYTE> folder = {0, 0, 0, 0, 0x11, 0x22, 0x33};
    const std::vector<BYTE> store(120, 0x5C);
    RegBaseFolder base;
    EXPECT_FALSE(ReadBaseFolder("Outlook", base));

    ASSERT_EQ(WriteBaseFolder("Outlook", "Newsgroups", folder, store), ERROR_SUCCESS);
    ASSERT_TRUE(ReadBaseFolder("Outlook", base));
    EXPECT_TRUE(std::ranges::equal(base.FolderEntryId(), folder));
    EXPECT_TRUE(std::ranges::equal(base.StoreEntryId(), store));
    EXPECT_FALSE(ReadBaseFolder("Other", base));
    std::string name;
    EXPECT_TRUE(ReadRegString(profile, kValBaseFolder, name, kBaseFolderNameBufferSize, ""));
    EXPECT_EQ(name, "Newsgroups");

    // Any one missing: no base folder and both lengths 0.
    for (const char* missing : {kValBaseFolderBIN, kValBaseFolderStoreCB, kValBaseFolderStoreBIN}) {
        ASSERT_EQ(WriteBaseFolder("P2", "x", folder, store), ERROR_SUCCESS);
        HKEY key = nullptr;
        const std::string p2 = ProfileKeyPath("P2");
        ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, p2.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValue(key, missing), ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_FALSE(ReadBaseFolder("P2", base)) << missing;
        EXPECT_EQ(base.folderCb, 0u);
        EXPECT_EQ(base.storeCb, 0u);
    }
}

TEST_F(RegStore, BaseFolderLengthsOutOfRangeGiveNoBaseFolder)
{
    const std::vector<BYTE> id(16, 1);
    RegBaseFolder base;
    ASSERT_EQ(WriteBaseFolder("Outlook", "x", id, id), ERROR_SUCCESS);

    ASSERT_EQ(WriteRegDword(profile, kValBaseFolderCB, 0), ERROR_SUCCESS);
    EXPECT_FALSE(ReadBaseFolder("Outlook", base));

    ASSERT_EQ(WriteRegDword(profile, kValBaseFolderCB, 1001), ERROR_SUCCESS);
    EXPECT_FALSE(ReadBaseFolder("Outlook", base));
    EXPECT_EQ(base.FolderEntryId().size(), 0u);

    ASSERT_EQ(WriteRegDword(profile, kValBaseFolderCB, 1000), ERROR_SUCCESS);
    ASSERT_EQ(WriteRegDword(profile, kValBaseFolderStoreCB, 0xFFFFFFFFu), ERROR_SUCCESS);
    EXPECT_FALSE(ReadBaseFolder("Outlook", base));

    // A length up to the buffer is taken as stored; the rest of the buffer is zeros.
    ASSERT_EQ(WriteRegDword(profile, kValBaseFolderStoreCB, 16), ERROR_SUCCESS);
    ASSERT_TRUE(ReadBaseFolder("Outlook", base));
    EXPECT_EQ(base.FolderEntryId().size(), 1000u);
    EXPECT_EQ(base.FolderEntryId()[16], 0);

    EXPECT_EQ(WriteBaseFolder("Outlook", "x", std::vector<BYTE>(1001, 1), id), ERROR_INVALID_PARAMETER);
}

TEST_F(RegStore, DataFilesAreNamedDirectlyAfterDir)
{
    EXPECT_EQ(DataFilePath("groups-0001a2b3.txt"), "groups-0001a2b3.txt");
    ASSERT_EQ(WriteRegString(main, kValDir, "/srv/news/", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(DataFilePath("groups-0001a2b3.txt"), "/srv/news/groups-0001a2b3.txt");
    ASSERT_EQ(WriteRegString(main, kValDir, std::string(600, 'd') + "/"), ERROR_SUCCESS);
    EXPECT_EQ(ReadDataDirectory().size(), kDirBufferSize - 1);
}

}  // namespace
}  // namespace quillory

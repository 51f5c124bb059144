#include "provider/folder/mapi_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/grouplist.h"
#include "platform/base/time.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/tests/store_test_util.h"
#include "provider/entry/module_state.h"
#include "provider/folder/tests/folder_test_util.h"

namespace quillory::quarnex {
namespace {

using quillory::testing::TempHome;
using testing::CFakeLogon;
using testing::EntryRow;
using testing::NewFolder;
using testing::TableRow;

std::vector<BYTE> Bytes(const SPropValue& v) { return {v.Value.bin.lpb, v.Value.bin.lpb + v.Value.bin.cb}; }

ULONG Status(CMAPIFolder* folder, const std::vector<BYTE>& id)
{
    const auto row = TableRow(folder, id);
    const SPropValue* v = row.Find(PR_MSG_STATUS);
    return v ? v->Value.ul : 0xDEADBEEF;
}

TEST(HeaderFolder, PropertiesWithoutATagListFollowTheListOrder)
{
    auto folder = NewFolder();
    ASSERT_TRUE(folder->HasTable());
    folder->AddRow("g", 1, "<a>");
    folder->AddRow("g", 2, "<b>");
    ULONG count = 0;
    MapiBuffer<SPropValue> values;
    ASSERT_EQ(folder->GetProps(nullptr, 0, &count, &values), S_OK);
    const ULONG order[] = {PR_ACCESS,         PR_ACCESS_LEVEL,    PR_CONTENT_COUNT,    PR_ASSOC_CONTENT_COUNT,
                           PR_FOLDER_TYPE,    PR_OBJECT_TYPE,     PR_SUBFOLDERS,       PR_CREATION_VERSION,
                           PR_CURRENT_VERSION, PR_CREATION_TIME,  PR_DISPLAY_NAME,     PR_DISPLAY_TYPE,
                           PR_ENTRYID};
    ASSERT_EQ(count, 13u);
    for (ULONG i = 0; i < count; ++i) EXPECT_EQ(values.Get()[i].ulPropTag, order[i]) << i;
    const SPropValue* v = values.Get();
    EXPECT_EQ(v[0].Value.ul, 2u);
    EXPECT_EQ(v[2].Value.ul, 2u);  // two rows
    EXPECT_EQ(v[4].Value.ul, static_cast<ULONG>(FOLDER_GENERIC));
    EXPECT_EQ(v[5].Value.ul, static_cast<ULONG>(MAPI_FOLDER));
    EXPECT_EQ(v[6].Value.b, 0);
    EXPECT_EQ(v[7].Value.li.QuadPart, 0x0000000100000001LL);
    EXPECT_EQ(v[9].Value.ft.dwLowDateTime, folder->ChangeTime().dwLowDateTime);
    EXPECT_STREQ(v[10].Value.lpszA, "Corvane Remote Transport - Messages In The server");
    EXPECT_EQ(v[11].Value.ul, 0x01000000u);
    EXPECT_EQ(Bytes(v[12]), (std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));

    MapiBuffer<SPropTagArray> list;
    ASSERT_EQ(folder->GetPropList(0, &list), S_OK);
    ASSERT_EQ(list->cValues, 13u);
    for (ULONG i = 0; i < 13; ++i) EXPECT_EQ(list->aulPropTag[i], order[i]);
}

TEST(HeaderFolder, RequestedTagsTakeTheListedTypeAndUnknownOnesComeBackAsErrors)
{
    auto folder = NewFolder();
    auto tags = MakeTagArray({CHANGE_PROP_TYPE(PR_ACCESS, PT_STRING8), CHANGE_PROP_TYPE(PR_DISPLAY_NAME, PT_UNSPECIFIED),
                              PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER, PR_NULL, PR_SUBJECT,
                              CHANGE_PROP_TYPE(PR_MDB_PROVIDER, PT_UNSPECIFIED)});
    ULONG count = 0;
    MapiBuffer<SPropValue> values;
    ASSERT_EQ(folder->GetProps(tags.Get(), 0, &count, &values), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 7u);
    const SPropValue* v = values.Get();
    EXPECT_EQ(v[0].ulPropTag, PR_ACCESS);
    EXPECT_EQ(v[1].ulPropTag, PR_DISPLAY_NAME);
    EXPECT_EQ(v[2].Value.ul, 0x29E9u);
    EXPECT_EQ(Bytes(v[3]), (std::vector<BYTE>{0x1F, 0xAA, 0x9D, 0x38, 0xD4, 0x34, 0x2F, 0x48, 0x84, 0xA8, 0x43, 0x22,
                                              0x04, 0x88, 0x9A, 0x22}));
    EXPECT_EQ(v[4].ulPropTag, PR_NULL);
    EXPECT_EQ(v[5].ulPropTag, CHANGE_PROP_TYPE(PR_SUBJECT, PT_ERROR));
    EXPECT_EQ(v[5].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(v[6].ulPropTag, PR_MDB_PROVIDER);
}

TEST(HeaderFolder, IsAReadOnlyFolderThatOnlyListsItsContents)
{
    auto folder = NewFolder();
    ComPtr<IMAPIFolder> itf;
    ASSERT_EQ(folder->QueryInterface(IID_IMAPIFolder, itf.AsVoidOut()), S_OK);
    ComPtr<IUnknown> unk;
    EXPECT_EQ(folder->QueryInterface(IID_IMessage, unk.AsVoidOut()), E_NOINTERFACE);
    MAPIERROR* err = reinterpret_cast<MAPIERROR*>(1);
    EXPECT_EQ(itf->GetLastError(E_FAIL, MAPI_UNICODE, &err), MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(itf->GetLastError(E_FAIL, 0, &err), S_OK);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(itf->SaveChanges(0), S_OK);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(itf->GetContentsTable(MAPI_ASSOCIATED, &table), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(itf->GetHierarchyTable(0, &table), MAPI_E_NO_SUPPORT);
    ComPtr<IMessage> message;
    EXPECT_EQ(itf->CreateMessage(nullptr, 0, &message), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(itf->DeleteMessages(nullptr, 0, nullptr, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(itf->SetProps(0, nullptr, nullptr), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(itf->EmptyFolder(0, nullptr, 0), MAPI_E_NO_SUPPORT);
}

TEST(HeaderFolder, HoldsTheModuleLockWhileAlive)
{
    const long before = ModuleLockCount();
    {
        auto folder = NewFolder();
        EXPECT_EQ(ModuleLockCount(), before + 1);
    }
    EXPECT_EQ(ModuleLockCount(), before);
}

TEST(HeaderFolder, ClearingTheMaskedDownloadBitRemovesTheRowAndItsCacheEntry)
{
    auto folder = NewFolder();
    ASSERT_EQ(folder->AddRow("g", 5, "<five>"), S_OK);
    ASSERT_EQ(folder->AddRow("g", 6, "<six>"), S_OK);
    auto five = MakeHeaderEntryId(5, "<five>", "g");
    auto six = MakeHeaderEntryId(6, "<six>", "g");
    auto* eid5 = reinterpret_cast<LPENTRYID>(five.data());
    const auto cb = static_cast<ULONG>(five.size());

    ULONG old = 0xFFFF;
    ASSERT_EQ(folder->SetMessageStatus(cb, eid5, MSGSTATUS_REMOTE_DOWNLOAD, MSGSTATUS_REMOTE_DOWNLOAD, &old), S_OK);
    EXPECT_EQ(old, 0u);
    EXPECT_EQ(Status(folder.Get(), five), MSGSTATUS_REMOTE_DOWNLOAD);
    // Other bits of the row survive a masked change.
    ASSERT_EQ(folder->SetMessageStatus(cb, eid5, MSGSTATUS_REMOTE_DELETE | MSGSTATUS_TAGGED, MSGSTATUS_REMOTE_DELETE,
                                       &old),
              S_OK);
    EXPECT_EQ(old, MSGSTATUS_REMOTE_DOWNLOAD);
    EXPECT_EQ(Status(folder.Get(), five), MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE);

    ASSERT_TRUE(folder->IsKnown(5, "g"));
    ASSERT_EQ(folder->SetMessageStatus(cb, eid5, 0, MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE, &old), S_OK);
    EXPECT_FALSE(TableRow(folder.Get(), five));
    EXPECT_FALSE(folder->IsKnown(5, "g"));
    EXPECT_TRUE(folder->IsKnown(6, "g"));
    EXPECT_EQ(folder->RowCount(), 1u);
    // An entry ID that names no row fails.
    EXPECT_TRUE(FAILED(folder->SetMessageStatus(cb, eid5, 0, MSGSTATUS_REMOTE_DOWNLOAD, &old)));
    EXPECT_EQ(Status(folder.Get(), six), 0u);
}

TEST(HeaderFolder, QueriesSelectMarkedRowsWithTheirColumns)
{
    auto folder = NewFolder();
    EXPECT_EQ(folder->QueryNextMarked(), nullptr);
    EXPECT_EQ(folder->QueryAllRows(), nullptr);
    for (ULONG n = 1; n <= 4; ++n) folder->AddRow("g", n, "<" + std::to_string(n) + ">");
    auto mark = [&](ULONG n, ULONG status) {
        auto id = MakeHeaderEntryId(n, "<" + std::to_string(n) + ">", "g");
        ULONG old = 0;
        ASSERT_EQ(folder->SetMessageStatus(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()),
                                           status, status, &old),
                  S_OK);
    };
    mark(3, MSGSTATUS_REMOTE_DOWNLOAD);
    mark(2, MSGSTATUS_REMOTE_DELETE);
    mark(4, MSGSTATUS_DELMARKED);

    LPSRowSet marked = folder->QueryNextMarked();
    ASSERT_NE(marked, nullptr);
    ASSERT_EQ(marked->cRows, 1u);
    const SRow& r = marked->aRow[0];
    ASSERT_EQ(r.cValues, 4u);
    EXPECT_EQ(r.lpProps[0].ulPropTag, PR_ENTRYID);
    EXPECT_EQ(Bytes(r.lpProps[0]), MakeHeaderEntryId(3, "<3>", "g"));
    EXPECT_EQ(r.lpProps[1].ulPropTag, PR_DISPLAY_TO);
    EXPECT_EQ(r.lpProps[2].Value.ul, MSGSTATUS_REMOTE_DOWNLOAD);
    EXPECT_EQ(r.lpProps[3].ulPropTag, PR_INSTANCE_KEY);
    FreeProws(marked);

    LPSRowSet status = folder->QueryStatusRows();  // 0x1000 and above
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->cRows, 2u);
    EXPECT_EQ(status->aRow[0].cValues, 3u);
    FreeProws(status);

    LPSRowSet all = folder->QueryAllRows();
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->cRows, 4u);
    FreeProws(all);
}

TEST(HeaderFolder, DeleteRowRecordsInTheCacheAndSavesWhenTheTableEmpties)
{
    TempHome home;
    CFakeLogon logon;
    logon.path = (home.path() / "groups-1-del.txt").string();
    auto folder = NewFolder();
    ASSERT_EQ(folder->Attach(nullptr, &logon), S_OK);
    folder->AddRow("g", 1, "<one>");
    folder->AddRow("g", 2, "<two>");
    folder->Cache().RemoveByGroup(1, "g");  // as if the user had unmarked it

    EntryRow one(MakeHeaderEntryId(1, "<one>", "g"));
    ASSERT_EQ(folder->DeleteRow(one.row, true, true), S_OK);
    ASSERT_NE(folder->Cache().FindByGroup(1, "g"), nullptr);
    EXPECT_TRUE(folder->Cache().FindByGroup(1, "g")->confirmed);
    EXPECT_FALSE(std::filesystem::exists(logon.path));  // one row left

    EntryRow two(MakeHeaderEntryId(2, "<two>", "g"));
    ASSERT_EQ(folder->DeleteRow(two.row, true, false), S_OK);
    EXPECT_FALSE(folder->Cache().FindByGroup(2, "g")->confirmed);  // known already: left as it was
    ASSERT_TRUE(std::filesystem::exists(logon.path));
    std::string text;
    ASSERT_TRUE(ReadWholeFile(logon.path, text));
    EXPECT_EQ(text, folder->Cache().SaveText());
    EXPECT_NE(text.find("g 1 <one>\r\n"), std::string::npos);
    EXPECT_NE(text.find("? g 2 <two>\r\n"), std::string::npos);
    // A row that is gone already: the deletion's own result comes back.
    EXPECT_TRUE(FAILED(folder->DeleteRow(two.row, false, false)));
}

TEST(HeaderFolder, MarkReadAndClearRowsStampTheChangeTime)
{
    auto folder = NewFolder();
    folder->AddRow("g", 1, "<one>");
    const auto id = MakeHeaderEntryId(1, "<one>", "g");
    EntryRow one(id);
    const FILETIME before = folder->ChangeTime();
    ASSERT_EQ(folder->MarkRead(one.row), S_OK);
    EXPECT_EQ(TableRow(folder.Get(), id).Find(PR_MESSAGE_FLAGS)->Value.ul, MSGFLAG_READ);
    EXPECT_GE(FileTimeToUInt64(folder->ChangeTime()), FileTimeToUInt64(before));
    EXPECT_NE(FileTimeToUInt64(folder->ChangeTime()), 0u);
    ASSERT_EQ(folder->MarkRead(one.row), S_OK);  // already read
    ASSERT_EQ(folder->ClearRows(), S_OK);
    EXPECT_EQ(folder->RowCount(), 0u);
    EXPECT_TRUE(folder->IsKnown(1, "g"));  // the cache keeps what was offered
}

TEST(HeaderFolder, AttachBringsBackUndeliveredHeadersThatTheStoreConfirms)
{
    TempHome home;
    auto store = quillory::testing::OpenStore(quillory::testing::StorePath(home));
    ASSERT_TRUE(store);
    auto inbox = quillory::testing::OpenInbox(store.Get());
    const std::string hex = BinToHex(MakeHeaderEntryId(8, "<eight>", "comp.x"));
    quillory::testing::AddMessage(inbox.Get(), "x",
                                  {quillory::testing::StringProp(PR_CORVANE_HEADER_ENTRYID_HEX, hex.c_str())});
    CFakeLogon logon;
    logon.store = store.Get();
    logon.path = (home.path() / "groups-2-del.txt").string();
    std::ofstream(logon.path, std::ios::binary) << "? comp.x 8 <eight>\r\n? comp.x 9 <nine>\r\ncomp.x 10 <ten>\r\n";
    {
        auto folder = NewFolder();
        ASSERT_EQ(folder->Attach(nullptr, &logon), S_OK);
        EXPECT_EQ(folder->RowCount(), 1u);
        const auto row = TableRow(folder.Get(), MakeHeaderEntryId(8, "<eight>", "comp.x"));
        ASSERT_TRUE(row);
        EXPECT_STREQ(row.Find(PR_DISPLAY_TO)->Value.lpszA, "comp.x");
        EXPECT_STREQ(row.Find(PR_SUBJECT)->Value.lpszA, "");
        folder->Confirm(8, "comp.x");
    }
    // Destruction saved the cache.
    std::string text;
    ASSERT_TRUE(ReadWholeFile(logon.path, text));
    EXPECT_NE(text.find("comp.x 8 <eight>\r\n"), std::string::npos);
    EXPECT_EQ(text.find("? comp.x 8"), std::string::npos);
    EXPECT_EQ(text.find("<nine>"), std::string::npos);
    EXPECT_NE(text.find("comp.x 10 <ten>"), std::string::npos);
}

}  // namespace
}  // namespace quillory::quarnex

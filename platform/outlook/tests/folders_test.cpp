// Folders over the store: live wrappers by entry ID, lookup by name and
// position, creation, and finding them again from their hexadecimal IDs.
#include "platform/mapi/mapiutil.h"
#include "platform/outlook/tests/outlook_test_util.h"
#include "platform/outlook/view.h"

namespace quillory::testing {
namespace {

using Folders = OutlookModelTest;

TEST_F(Folders, AFolderIsOneLiveObjectFoundByNamePositionAndEntryId)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    EXPECT_EQ(NameOf(inbox.Get()), "Inbox");
    ComPtr<MAPIFolder> news = AddFolder(inbox.Get(), "Newsgroups");
    ASSERT_TRUE(news);

    ComPtr<_Folders> folders;
    ASSERT_EQ(inbox->get_Folders(&folders), S_OK);
    ComPtr<MAPIFolder> byName, byPosition;
    ASSERT_EQ(folders->Item(CComVariant::Text("NEWSGROUPS"), &byName), S_OK);
    ASSERT_EQ(folders->Item(CComVariant::Long(1), &byPosition), S_OK);
    EXPECT_EQ(byName.Get(), news.Get());  // the same object while it lives
    EXPECT_EQ(byPosition.Get(), news.Get());
    EXPECT_EQ(folders->Item(CComVariant::Text("Nothing"), &byName), MAPI_E_NOT_FOUND);
    EXPECT_EQ(folders->Item(CComVariant::Long(2), &byName), DISP_E_BADINDEX);
    ComPtr<MAPIFolder> twice;
    EXPECT_EQ(folders->Add(CComBSTR("newsgroups").Get(), CComVariant::Missing(), &twice), MAPI_E_COLLISION);
    EXPECT_EQ(folders->Add(CComBSTR("Calendar").Get(), CComVariant::Long(9), &twice), E_INVALIDARG);

    CComBSTR folderHex, storeHex, path;
    ASSERT_EQ(news->get_EntryID(&folderHex), S_OK);
    ASSERT_EQ(news->get_StoreID(&storeHex), S_OK);
    ASSERT_EQ(news->get_FolderPath(&path), S_OK);
    EXPECT_EQ(path.Str(), "\\\\Top of Information Store\\Inbox\\Newsgroups");
    EXPECT_EQ(folderHex.Str().find_first_of("abcdef"), std::string::npos);  // upper-case hex

    // The IDs find the folder again, also by name through dispatch and once the wrapper is gone.
    const std::string folderId = folderHex.Str();
    news = byName = byPosition = nullptr;
    ComPtr<MAPIFolder> again;
    ASSERT_EQ(ns_->GetFolderFromID(folderHex.Get(), CComVariant::Text(storeHex.View()), &again), S_OK);
    EXPECT_EQ(NameOf(again.Get()), "Newsgroups");
    CComVariant viaDispatch;
    ASSERT_EQ(DispGet(again.Get(), "EntryID", viaDispatch), S_OK);
    EXPECT_EQ(VariantText(viaDispatch), folderId);
    ComPtr<IDispatch> parent;
    ASSERT_EQ(DispGetObject(again.Get(), "Parent", parent), S_OK);
    EXPECT_EQ(parent.Get(), static_cast<IDispatch*>(inbox.Get()));
}

TEST_F(Folders, DamagedOrForeignIdsFailWithoutCrashingAndADeletedFolderIsGone)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    ComPtr<MAPIFolder> doomed = AddFolder(inbox.Get(), "Doomed");
    CComBSTR hex, store;
    ASSERT_EQ(doomed->get_EntryID(&hex), S_OK);
    ASSERT_EQ(doomed->get_StoreID(&store), S_OK);
    ComPtr<MAPIFolder> found;
    for (const char* bad : {"", "ZZ", "0", "0102", "00000000000000000000000000000000000000000000000000000000000000"})
        EXPECT_TRUE(FAILED(ns_->GetFolderFromID(CComBSTR(bad).Get(), CComVariant::Missing(), &found))) << bad;
    // A store entry ID of another store: not in this profile.
    std::string otherStore = store.Str();
    otherStore[otherStore.size() - 1] = otherStore.back() == '0' ? '1' : '0';
    EXPECT_TRUE(FAILED(ns_->GetFolderFromID(hex.Get(), CComVariant::Text(otherStore), &found)));

    ASSERT_EQ(doomed->Delete(), S_OK);
    Pump();
    CComBSTR name;
    EXPECT_EQ(doomed->get_Name(&name), MAPI_E_NOT_FOUND);  // the wrapper knows its folder left
    doomed = nullptr;
    EXPECT_TRUE(FAILED(ns_->GetFolderFromID(hex.Get(), CComVariant::Text(store.View()), &found)));
    EXPECT_EQ(ns_->GetDefaultFolder(9, &found), E_INVALIDARG);  // no calendars here
}

TEST_F(Folders, AViewSavedOnOneFolderIsCopiedByNameOntoAnother)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    ComPtr<MAPIFolder> a = AddFolder(inbox.Get(), "A");
    ComPtr<MAPIFolder> b = AddFolder(inbox.Get(), "B");
    ComPtr<IDispatch> viewA, viewB;
    ASSERT_EQ(DispGetObject(a.Get(), "CurrentView", viewA), S_OK);
    CComVariant xml;
    ASSERT_EQ(DispGet(viewA.Get(), "XML", xml), S_OK);
    EXPECT_EQ(VariantText(xml), outlook::kDefaultViewXml);
    const std::string custom = "<view name=\"Threads\" threaded=\"1\"><column field=\"subject\"/></view>";
    ASSERT_EQ(DispPut(viewA.Get(), "XML", CComVariant::Text(custom)), S_OK);
    ASSERT_EQ(DispCall(viewA.Get(), "Save", {}), S_OK);

    // The copy the add-in makes: source XML onto the destination's view, Save, Apply.
    ComPtr<IDispatch> again;
    ASSERT_EQ(DispGetObject(a.Get(), "CurrentView", again), S_OK);
    ASSERT_EQ(DispGet(again.Get(), "XML", xml), S_OK);
    ASSERT_EQ(DispGetObject(b.Get(), "CurrentView", viewB), S_OK);
    ASSERT_EQ(DispPut(viewB.Get(), "XML", xml), S_OK);
    ASSERT_EQ(DispCall(viewB.Get(), "Save", {}), S_OK);
    ASSERT_EQ(DispCall(viewB.Get(), "Apply", {}), S_OK);
    ComPtr<View> fresh;
    ASSERT_EQ(b->get_CurrentView(&fresh), S_OK);
    CComBSTR text;
    ASSERT_EQ(fresh->get_XML(&text), S_OK);
    EXPECT_EQ(text.Str(), custom);
}

}  // namespace
}  // namespace quillory::testing

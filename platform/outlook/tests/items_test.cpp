// Items: new posts saved and posted in a folder, and replies that continue
// the conversation.
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/tests/outlook_test_util.h"

namespace quillory::testing {
namespace {

using Items = OutlookModelTest;

ComPtr<_PostItem> NewPost(MAPIFolder* folder)
{
    ComPtr<_Items> items;
    ComPtr<IDispatch> item;
    ComPtr<_PostItem> post;
    EXPECT_EQ(folder->get_Items(&items), S_OK);
    EXPECT_EQ(items->Add(CComVariant::Long(olPostItem), &item), S_OK);
    EXPECT_EQ(item.As(IID__PostItem, post), S_OK);
    return post;
}

std::vector<BYTE> Binary(OutlookItem* item, ULONG tag)
{
    ComPtr<IUnknown> unknown;
    ComPtr<IMAPIProp> mapi;
    EXPECT_EQ(item->get_MAPIOBJECT(&unknown), S_OK);
    EXPECT_EQ(unknown.As(IID_IMAPIProp, mapi), S_OK);
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(mapi.Get(), tag, &v))) return {};
    if (PROP_TYPE(tag) == PT_SYSTIME) {
        const auto* p = reinterpret_cast<const BYTE*>(&v->Value.ft);
        return {p, p + sizeof(FILETIME)};
    }
    if (PROP_TYPE(tag) == PT_STRING8) return {v->Value.lpszA, v->Value.lpszA + std::strlen(v->Value.lpszA)};
    return {v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb};
}

void SetText(OutlookItem* item, ULONG tag, std::string text)
{
    ComPtr<IUnknown> unknown;
    ComPtr<IMAPIProp> mapi;
    ASSERT_EQ(item->get_MAPIOBJECT(&unknown), S_OK);
    ASSERT_EQ(unknown.As(IID_IMAPIProp, mapi), S_OK);
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = text.data();
    ASSERT_EQ(HrSetOneProp(mapi.Get(), &v), S_OK);
}

TEST_F(Items, APostIsStampedWithOneMomentForSubmitAndDeliveryAndSaved)
{
    ComPtr<MAPIFolder> group = AddFolder(Inbox().Get(), "comp.lang.c");
    ComPtr<_PostItem> post = NewPost(group.Get());
    VARIANT_BOOL saved = VARIANT_TRUE;
    ASSERT_EQ(post->get_Saved(&saved), S_OK);
    EXPECT_EQ(saved, VARIANT_FALSE);
    ASSERT_EQ(DispPut(post.Get(), "Subject", CComVariant::Text("Re: Pointers")), S_OK);
    ASSERT_EQ(DispPut(post.Get(), "Body", CComVariant::Text("Hello, world\r\n")), S_OK);
    CComBSTR id;
    ASSERT_EQ(post->get_EntryID(&id), S_OK);
    EXPECT_TRUE(id.Str().empty());

    ASSERT_EQ(post->Post(), S_OK);
    ASSERT_EQ(post->get_EntryID(&id), S_OK);
    EXPECT_FALSE(id.Str().empty());
    const auto submit = Binary(post.Get(), PR_CLIENT_SUBMIT_TIME);
    EXPECT_EQ(submit.size(), sizeof(FILETIME));
    EXPECT_EQ(submit, Binary(post.Get(), PR_MESSAGE_DELIVERY_TIME));
    CComBSTR text;
    ASSERT_EQ(post->get_MessageClass(&text), S_OK);
    EXPECT_EQ(text.Str(), "IPM.Post");
    ASSERT_EQ(post->get_ConversationTopic(&text), S_OK);
    EXPECT_EQ(text.Str(), "Pointers");
    EXPECT_EQ(Binary(post.Get(), PR_CONVERSATION_INDEX).size(), kConvIndexHeaderSize);

    // Found again through its folder, as the same object.
    ComPtr<_Items> items;
    ComPtr<IDispatch> first;
    ASSERT_EQ(group->get_Items(&items), S_OK);
    ASSERT_EQ(items->Item(CComVariant::Long(1), &first), S_OK);
    EXPECT_EQ(first.Get(), static_cast<IDispatch*>(post.Get()));
    LONG count = 0;
    ASSERT_EQ(items->get_Count(&count), S_OK);
    EXPECT_EQ(count, 1);
}

TEST_F(Items, AReplyContinuesTheConversationAndNamesTheMessageItAnswers)
{
    ComPtr<MAPIFolder> group = AddFolder(Inbox().Get(), "comp.lang.c");
    ComPtr<_PostItem> parent = NewPost(group.Get());
    ASSERT_EQ(parent->put_Subject(CComBSTR("Pointers").Get()), S_OK);
    ASSERT_EQ(parent->Post(), S_OK);
    SetText(parent.Get(), PR_INTERNET_MESSAGE_ID, "<p1@example.org>");
    const auto parentIndex = Binary(parent.Get(), PR_CONVERSATION_INDEX);

    ComPtr<_PostItem> reply;
    ASSERT_EQ(parent->PostReply(&reply), S_OK);
    CComBSTR text;
    ASSERT_EQ(reply->get_Subject(&text), S_OK);
    EXPECT_TRUE(text.Str().empty());  // the add-in's fix-up gives it "Re: <topic>"
    ASSERT_EQ(reply->get_ConversationTopic(&text), S_OK);
    EXPECT_EQ(text.Str(), "Pointers");
    const auto childIndex = Binary(reply.Get(), PR_CONVERSATION_INDEX);
    ASSERT_EQ(childIndex.size(), parentIndex.size() + kConvIndexChildSize);
    EXPECT_TRUE(std::equal(parentIndex.begin(), parentIndex.end(), childIndex.begin()));
    const auto inReplyTo = Binary(reply.Get(), PR_IN_REPLY_TO_ID);
    EXPECT_EQ(std::string(inReplyTo.begin(), inReplyTo.end()), "<p1@example.org>");
    ComPtr<MAPIFolder> where;
    ASSERT_EQ(reply->get_Parent(&where), S_OK);
    EXPECT_EQ(where.Get(), group.Get());
    // Saving keeps what the reply was given.
    ASSERT_EQ(reply->put_Subject(CComBSTR("Re: Pointers").Get()), S_OK);
    ASSERT_EQ(reply->Save(), S_OK);
    EXPECT_EQ(Binary(reply.Get(), PR_CONVERSATION_INDEX), childIndex);
}

TEST_F(Items, AWriteSinkMayRefuseTheSaveAndADeletedItemIsGone)
{
    ComPtr<MAPIFolder> group = AddFolder(Inbox().Get(), "alt.test");
    ComPtr<_PostItem> post = NewPost(group.Get());
    {
        Advised refuse(post.Get(), DIID_ItemEvents, [](DISPID id, DISPPARAMS* p) {
            if (id == DISPID_ItemWrite) *p->rgvarg[0].pboolVal = VARIANT_TRUE;
        });
        EXPECT_EQ(post->Save(), S_FALSE);
        CComBSTR id;
        ASSERT_EQ(post->get_EntryID(&id), S_OK);
        EXPECT_TRUE(id.Str().empty());
    }
    ASSERT_EQ(post->Save(), S_OK);
    ASSERT_EQ(post->Delete(), S_OK);
    CComBSTR subject;
    EXPECT_EQ(post->get_Subject(&subject), MAPI_E_NOT_FOUND);
    ComPtr<_Items> items;
    LONG count = -1;
    ASSERT_EQ(group->get_Items(&items), S_OK);
    ASSERT_EQ(items->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace quillory::testing

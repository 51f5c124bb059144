#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/propobj.h"
#include "platform/mapi/proputil.h"

namespace quillory {
namespace {

constexpr ULONG kLastCheck = 0x67910040;  // PT_SYSTIME
constexpr ULONG kAllowHtml = 0x6791000B;  // PT_BOOLEAN, same property ID

// A property object with one computed, read-only property (PR_OBJECT_TYPE).
class TestObject : public CMAPIPropBase<IMAPIProp> {
public:
    HRESULT SaveChanges(ULONG) override
    {
        SetModified(false);
        return S_OK;
    }
    using CMAPIPropCore::Modified;
    using CMAPIPropCore::SetWritable;

protected:
    HRESULT GetComputedProp(ULONG tag, void*, LPSPropValue out) override
    {
        if (PROP_ID(tag) != PROP_ID(PR_OBJECT_TYPE)) return MAPI_E_NOT_FOUND;
        out->ulPropTag = PR_OBJECT_TYPE;
        out->Value.l = MAPI_PROFSECT;
        return S_OK;
    }
    void ListComputedProps(std::vector<ULONG>& tags) const override { tags.push_back(PR_OBJECT_TYPE); }
    bool IsComputedProp(ULONG tag) const override { return PROP_ID(tag) == PROP_ID(PR_OBJECT_TYPE); }
};

ComPtr<TestObject> NewObject() { return ComPtr<TestObject>::Attach(NewComObject<TestObject>()); }

SPropValue Str(ULONG tag, const char* s)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char*>(s);
    return v;
}
SPropValue Long(ULONG tag, LONG l)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = l;
    return v;
}

void SetAll(TestObject* obj, std::initializer_list<SPropValue> values)
{
    std::vector<SPropValue> v(values);
    MapiBuffer<SPropProblemArray> problems;
    ASSERT_EQ(obj->SetProps(static_cast<ULONG>(v.size()), v.data(), &problems), S_OK);
    ASSERT_FALSE(problems);
}

TEST(PropObj, GetPropsAnswersMissingTagsWithErrorEntries)
{
    auto obj = NewObject();
    SetAll(obj.Get(), {Str(PR_DISPLAY_NAME, "news.example.org"), Long(PROP_TAG(PT_LONG, 0x6780), 119)});
    auto tags = MakeTagArray({PR_SUBJECT, PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_DISPLAY_NAME)), PR_OBJECT_TYPE,
                              PROP_TAG(PT_STRING8, 0x6780)});
    ULONG count = 0;
    MapiBuffer<SPropValue> values;
    ASSERT_EQ(obj->GetProps(tags.Get(), 0, &count, &values), MAPI_W_ERRORS_RETURNED);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(values.Get()[0].ulPropTag, CHANGE_PROP_TYPE(PR_SUBJECT, PT_ERROR));
    EXPECT_EQ(values.Get()[0].Value.err, MAPI_E_NOT_FOUND);
    // PT_UNSPECIFIED gets the stored type.
    EXPECT_EQ(values.Get()[1].ulPropTag, PR_DISPLAY_NAME);
    EXPECT_STREQ(values.Get()[1].Value.lpszA, "news.example.org");
    EXPECT_EQ(values.Get()[2].Value.l, static_cast<LONG>(MAPI_PROFSECT));
    // A stored ID asked for with another type is not there.
    EXPECT_EQ(values.Get()[3].ulPropTag, PROP_TAG(PT_ERROR, 0x6780));

    // Everything: the two stored values and the computed one, and the values
    // outlive the object.
    ASSERT_EQ(obj->GetProps(nullptr, 0, &count, &values), S_OK);
    obj = nullptr;
    ASSERT_EQ(count, 3u);
    EXPECT_NE(PpropFindProp(values.Get(), count, PR_OBJECT_TYPE), nullptr);
    EXPECT_STREQ(PpropFindProp(values.Get(), count, PR_DISPLAY_NAME)->Value.lpszA, "news.example.org");
}

TEST(PropObj, ValuesSharingAnIdStayApartByFullTag)
{
    auto obj = NewObject();
    SPropValue time{};
    time.ulPropTag = kLastCheck;
    time.Value.ft = FILETIME{0x11111111, 0x01DA0000};
    SPropValue html{};
    html.ulPropTag = kAllowHtml;
    html.Value.b = 1;
    SetAll(obj.Get(), {time, html});

    MapiBuffer<SPropValue> v;
    ASSERT_EQ(HrGetOneProp(obj.Get(), kLastCheck, &v), S_OK);
    EXPECT_EQ(v->Value.ft.dwHighDateTime, 0x01DA0000u);
    ASSERT_EQ(HrGetOneProp(obj.Get(), kAllowHtml, &v), S_OK);
    EXPECT_EQ(v->Value.b, 1);
    html.Value.b = 0;
    ASSERT_EQ(HrSetOneProp(obj.Get(), &html), S_OK);
    ASSERT_EQ(HrGetOneProp(obj.Get(), kLastCheck, &v), S_OK);  // untouched by the boolean
    EXPECT_EQ(v->Value.ft.dwLowDateTime, 0x11111111u);

    auto one = MakeTagArray({kAllowHtml});
    ASSERT_EQ(obj->DeleteProps(one.Get(), nullptr), S_OK);
    EXPECT_FALSE(FPropExists(obj.Get(), kAllowHtml));
    EXPECT_TRUE(FPropExists(obj.Get(), kLastCheck));
    EXPECT_TRUE(FPropExists(obj.Get(), PROP_TAG(PT_UNSPECIFIED, 0x6791)));
    EXPECT_EQ(HrGetOneProp(obj.Get(), kAllowHtml, &v), MAPI_E_NOT_FOUND);
    EXPECT_FALSE(v);

    // PT_UNSPECIFIED deletes every type of the ID.
    SetAll(obj.Get(), {html});
    auto byId = MakeTagArray({PROP_TAG(PT_UNSPECIFIED, 0x6791)});
    ASSERT_EQ(obj->DeleteProps(byId.Get(), nullptr), S_OK);
    EXPECT_FALSE(FPropExists(obj.Get(), PROP_TAG(PT_UNSPECIFIED, 0x6791)));
}

TEST(PropObj, SetPropsReportsEachBadValueAndKeepsTheGoodOnes)
{
    auto obj = NewObject();
    SPropValue values[] = {
        Long(PROP_TAG(PT_ERROR, 0x6700), MAPI_E_NOT_FOUND),
        Str(PR_SUBJECT, "kept"),
        Long(PROP_TAG(PT_NULL, 0x6701), 0),
        Long(PROP_TAG(PT_OBJECT, 0x6702), 0),
        Long(PROP_TAG(PT_UNSPECIFIED, 0x6703), 0),
        Long(PR_OBJECT_TYPE, MAPI_MESSAGE),
        Str(PR_BODY, nullptr),
        Long(PROP_TAG(PT_UNICODE, 0x6704), 0),
        Long(PROP_TAG(PT_LONG, 0x6705), 5),
    };
    MapiBuffer<SPropProblemArray> problems;
    ASSERT_EQ(obj->SetProps(9, values, &problems), S_OK);
    ASSERT_TRUE(problems);
    ASSERT_EQ(problems->cProblem, 7u);
    const ULONG indices[] = {0, 2, 3, 4, 5, 6, 7};
    const SCODE codes[] = {MAPI_E_INVALID_TYPE, MAPI_E_INVALID_TYPE, MAPI_E_INVALID_TYPE, MAPI_E_INVALID_TYPE,
                           MAPI_E_COMPUTED,     MAPI_E_BAD_VALUE,    MAPI_E_INVALID_TYPE};
    for (ULONG i = 0; i < 7; ++i) {
        EXPECT_EQ(problems->aProblem[i].ulIndex, indices[i]);
        EXPECT_EQ(problems->aProblem[i].ulPropTag, values[indices[i]].ulPropTag);
        EXPECT_EQ(problems->aProblem[i].scode, codes[i]) << i;
    }
    EXPECT_TRUE(obj->Modified());
    EXPECT_TRUE(FPropExists(obj.Get(), PR_SUBJECT));
    EXPECT_TRUE(FPropExists(obj.Get(), PROP_TAG(PT_LONG, 0x6705)));
    // The computed value is still the object's own.
    MapiBuffer<SPropValue> v;
    ASSERT_EQ(HrGetOneProp(obj.Get(), PR_OBJECT_TYPE, &v), S_OK);
    EXPECT_EQ(v->Value.l, static_cast<LONG>(MAPI_PROFSECT));
    EXPECT_EQ(HrSetOneProp(obj.Get(), &values[5]), MAPI_E_COMPUTED);

    auto del = MakeTagArray({PR_SUBJECT, PR_OBJECT_TYPE, PR_DISPLAY_NAME});
    ASSERT_EQ(obj->DeleteProps(del.Get(), &problems), S_OK);
    ASSERT_TRUE(problems);
    ASSERT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].ulIndex, 1u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COMPUTED);
}

TEST(PropObj, ReadOnlyObjectRefusesChangesAndExplainsWhy)
{
    auto obj = NewObject();
    SetAll(obj.Get(), {Str(PR_SUBJECT, "before")});
    obj->SetWritable(false);
    SPropValue v = Str(PR_SUBJECT, "after");
    EXPECT_EQ(obj->SetProps(1, &v, nullptr), MAPI_E_NO_ACCESS);
    auto del = MakeTagArray({PR_SUBJECT});
    EXPECT_EQ(obj->DeleteProps(del.Get(), nullptr), MAPI_E_NO_ACCESS);

    MapiBuffer<MAPIERROR> err;
    ASSERT_EQ(obj->GetLastError(MAPI_E_NO_ACCESS, 0, &err), S_OK);
    ASSERT_TRUE(err);
    EXPECT_NE(std::strlen(err->lpszError), 0u);
    EXPECT_NE(std::strlen(err->lpszComponent), 0u);
    EXPECT_EQ(obj->GetLastError(MAPI_E_NO_ACCESS, MAPI_UNICODE, &err), MAPI_E_BAD_CHARWIDTH);

    MapiBuffer<SPropValue> got;
    ASSERT_EQ(HrGetOneProp(obj.Get(), PR_SUBJECT, &got), S_OK);
    EXPECT_STREQ(got->Value.lpszA, "before");

    ComPtr<IUnknown> unk;
    EXPECT_EQ(obj->OpenProperty(PR_BODY, &IID_IStream, 0, 0, &unk), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(obj->QueryInterface(IID_IMessage, unk.AsVoidOut()), E_NOINTERFACE);
    EXPECT_EQ(obj->QueryInterface(IID_IMAPIProp, unk.AsVoidOut()), S_OK);
}

TEST(PropObj, CopyToHonoursExclusionsAndNoReplace)
{
    auto src = NewObject();
    auto dst = NewObject();
    SetAll(src.Get(), {Str(PR_SUBJECT, "from source"), Str(PR_DISPLAY_NAME, "source name"),
                       Long(PROP_TAG(PT_LONG, 0x6780), 1), Long(PROP_TAG(PT_LONG, 0x6781), 2)});
    SetAll(dst.Get(), {Str(PR_DISPLAY_NAME, "destination name")});

    auto exclude = MakeTagArray({PROP_TAG(PT_UNSPECIFIED, 0x6780)});
    MapiBuffer<SPropProblemArray> problems;
    ASSERT_EQ(src->CopyTo(0, nullptr, exclude.Get(), 0, nullptr, &IID_IMAPIProp, dst.Get(), MAPI_NOREPLACE,
                          &problems),
              S_OK);
    EXPECT_FALSE(problems);  // the computed PR_OBJECT_TYPE is not offered to the destination
    MapiBuffer<SPropValue> v;
    ASSERT_EQ(HrGetOneProp(dst.Get(), PR_DISPLAY_NAME, &v), S_OK);
    EXPECT_STREQ(v->Value.lpszA, "destination name");
    ASSERT_EQ(HrGetOneProp(dst.Get(), PR_SUBJECT, &v), S_OK);
    EXPECT_STREQ(v->Value.lpszA, "from source");
    EXPECT_FALSE(FPropExists(dst.Get(), PROP_TAG(PT_LONG, 0x6780)));
    EXPECT_TRUE(FPropExists(dst.Get(), PROP_TAG(PT_LONG, 0x6781)));

    // Without MAPI_NOREPLACE the destination's value is replaced; with
    // MAPI_MOVE the source gives it up.
    ASSERT_EQ(src->CopyTo(0, nullptr, exclude.Get(), 0, nullptr, nullptr, dst.Get(), MAPI_MOVE, nullptr), S_OK);
    ASSERT_EQ(HrGetOneProp(dst.Get(), PR_DISPLAY_NAME, &v), S_OK);
    EXPECT_STREQ(v->Value.lpszA, "source name");
    EXPECT_FALSE(FPropExists(src.Get(), PR_SUBJECT));
    EXPECT_TRUE(FPropExists(src.Get(), PROP_TAG(PT_LONG, 0x6780)));  // excluded, so not moved

    // Excluding the property interface copies nothing.
    auto other = NewObject();
    ASSERT_EQ(src->CopyTo(1, &IID_IMAPIProp, nullptr, 0, nullptr, nullptr, other.Get(), 0, nullptr), S_OK);
    EXPECT_FALSE(FPropExists(other.Get(), PROP_TAG(PT_LONG, 0x6780)));

    // A destination that refuses changes fails the copy.
    other->SetWritable(false);
    EXPECT_EQ(src->CopyTo(0, nullptr, nullptr, 0, nullptr, nullptr, other.Get(), 0, nullptr), MAPI_E_NO_ACCESS);
    EXPECT_EQ(src->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, dst.Get(), 0, nullptr),
              MAPI_E_INTERFACE_NOT_SUPPORTED);
    EXPECT_EQ(src->CopyTo(0, nullptr, nullptr, 0, nullptr, nullptr, dst.Get(), 0x100, nullptr), MAPI_E_UNKNOWN_FLAGS);
}

TEST(PropObj, CopyPropsReportsWhatTheSourceLacksAtItsIndex)
{
    auto src = NewObject();
    auto dst = NewObject();
    SetAll(src.Get(), {Str(PR_SUBJECT, "s"), Long(PROP_TAG(PT_LONG, 0x6780), 1)});
    auto include = MakeTagArray({PR_BODY, PROP_TAG(PT_LONG, 0x6780), PR_OBJECT_TYPE});
    MapiBuffer<SPropProblemArray> problems;
    ASSERT_EQ(src->CopyProps(include.Get(), 0, nullptr, nullptr, dst.Get(), 0, &problems), S_OK);
    ASSERT_TRUE(problems);
    ASSERT_EQ(problems->cProblem, 2u);
    EXPECT_EQ(problems->aProblem[0].ulIndex, 0u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_NOT_FOUND);
    // The destination refuses the computed tag; the index is the include list's.
    EXPECT_EQ(problems->aProblem[1].ulIndex, 2u);
    EXPECT_EQ(problems->aProblem[1].scode, MAPI_E_COMPUTED);
    EXPECT_TRUE(FPropExists(dst.Get(), PROP_TAG(PT_LONG, 0x6780)));
    EXPECT_FALSE(FPropExists(dst.Get(), PR_SUBJECT));
}

TEST(PropObj, ConcurrentWritersAndReadersKeepTheBagConsistent)
{
    auto obj = NewObject();
    auto writer = [&](ULONG id) {
        for (int i = 0; i < 300; ++i) {
            const std::string text = "value " + std::to_string(i);
            SPropValue v = Str(PROP_TAG(PT_STRING8, id), text.c_str());
            EXPECT_EQ(HrSetOneProp(obj.Get(), &v), S_OK);
        }
    };
    auto reader = [&] {
        for (int i = 0; i < 300; ++i) {
            ULONG count = 0;
            MapiBuffer<SPropValue> all;
            EXPECT_TRUE(SUCCEEDED(obj->GetProps(nullptr, 0, &count, &all)));
            for (ULONG k = 0; k < count; ++k) {
                if (PROP_TYPE(all.Get()[k].ulPropTag) == PT_STRING8) {
                    EXPECT_EQ(std::strncmp(all.Get()[k].Value.lpszA, "value ", 6), 0);
                }
            }
        }
    };
    std::thread a(writer, 0x6800), b(writer, 0x6801), c(reader);
    a.join();
    b.join();
    c.join();
    MapiBuffer<SPropValue> v;
    ASSERT_EQ(HrGetOneProp(obj.Get(), PROP_TAG(PT_STRING8, 0x6801), &v), S_OK);
    EXPECT_STREQ(v->Value.lpszA, "value 299");
}

}  // namespace
}  // namespace quillory

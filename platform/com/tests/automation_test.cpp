#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/base/time.h"
#include "platform/com/dispatch_member.h"
#include "platform/com/guid.h"
#include "platform/com/refcounted.h"

namespace quillory {
namespace {

TEST(Bstr, KeepsItsByteCountIncludingEmbeddedNuls)
{
    CComBSTR b(std::string_view("a\0b", 3));
    EXPECT_EQ(b.Length(), 3u);
    EXPECT_EQ(b.View(), std::string_view("a\0b", 3));
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    BSTR s = SysAllocString("h\xC3\xA9llo");  // UTF-8 counts bytes
    EXPECT_EQ(SysStringLen(s), 6u);
    ASSERT_TRUE(SysReAllocString(&s, "x"));
    EXPECT_STREQ(s, "x");
    SysFreeString(s);
    CComBSTR copy = b;
    EXPECT_EQ(copy.View(), b.View());
}

struct Conversion {
    CComVariant from;
    VARTYPE to;
    HRESULT hr;
    std::string asText;  // the result shown as text, when hr succeeded
};

TEST(Variant, ChangeTypeConvertsRoundsAndRefusesAsAutomationDoes)
{
    const Conversion rows[] = {
        {CComVariant::Text(" 42 "), VT_I4, S_OK, "42"},
        {CComVariant::Text("4.5"), VT_I4, S_OK, "4"},  // half to even
        {CComVariant::Text("5.5"), VT_I4, S_OK, "6"},
        {CComVariant::Double(3e10), VT_I4, DISP_E_OVERFLOW, ""},
        {CComVariant::Long(70000), VT_I2, DISP_E_OVERFLOW, ""},
        {CComVariant::Long(-1), VT_UI4, DISP_E_OVERFLOW, ""},
        {CComVariant::Text("abc"), VT_I4, DISP_E_TYPEMISMATCH, ""},
        {CComVariant::Text(""), VT_I4, DISP_E_TYPEMISMATCH, ""},
        {CComVariant::Text("99999999999999999999"), VT_I4, DISP_E_OVERFLOW, ""},
        {CComVariant::Bool(true), VT_BSTR, S_OK, "-1"},
        {CComVariant::Bool(true), VT_I4, S_OK, "-1"},
        {CComVariant::Text("True"), VT_BOOL, S_OK, "-1"},
        {CComVariant::Text("0"), VT_BOOL, S_OK, "0"},
        {CComVariant(), VT_BSTR, S_OK, ""},
        {CComVariant::Double(0.1), VT_BSTR, S_OK, "0.1"},
        {CComVariant::Text("2024-02-29 13:45:07"), VT_DATE, S_OK, "2024-02-29 13:45:07"},
        {CComVariant::Text("2023-02-29"), VT_DATE, DISP_E_TYPEMISMATCH, ""},
        {CComVariant::Error(DISP_E_PARAMNOTFOUND), VT_I4, DISP_E_TYPEMISMATCH, ""},
        {CComVariant::Long(5), VT_DISPATCH, DISP_E_TYPEMISMATCH, ""},
    };
    for (const auto& row : rows) {
        CComVariant out;
        const HRESULT hr = VariantChangeType(&out, &row.from, 0, row.to);
        EXPECT_EQ(hr, row.hr) << VariantText(row.from) << " -> " << row.to;
        if (FAILED(hr) || FAILED(row.hr)) {
            EXPECT_EQ(out.vt, VT_EMPTY);  // a failed conversion leaves the target alone
            continue;
        }
        EXPECT_EQ(out.vt, row.to);
        CComVariant text;
        ASSERT_EQ(VariantChangeType(&text, &out, 0, VT_BSTR), S_OK);
        EXPECT_EQ(VariantText(text), row.asText);
    }
}

TEST(Variant, ByReferenceValuesAreReadAndCopiedThroughTheReference)
{
    LONG n = 7;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &n;
    CComVariant copy;
    ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
    EXPECT_EQ(copy.vt, VT_I4);
    EXPECT_EQ(copy.lVal, 7);
    CComVariant text;
    ASSERT_EQ(VariantChangeType(&text, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(VariantText(text), "7");
    EXPECT_EQ(VariantClear(&ref), S_OK);  // owns nothing
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x0FFE;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(VariantTime, DatesCountFromTheEpochWithTheFractionForwardEvenBeforeIt)
{
    SYSTEMTIME st{1899, 12, 0, 30, 0, 0, 0, 0};
    DATE d = 1;
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &d));
    EXPECT_EQ(d, 0.0);
    st = SYSTEMTIME{1899, 12, 0, 29, 6, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToVariantTime(&st, &d));
    EXPECT_DOUBLE_EQ(d, -1.25);
    SYSTEMTIME back{};
    ASSERT_TRUE(VariantTimeToSystemTime(-1.25, &back));
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wHour, 6);
    // Every millisecond of a day survives the trip through FILETIME.
    for (ULONGLONG ms : {0ull, 1ull, 999ull, 43'200'000ull, 86'399'999ull}) {
        const ULONGLONG ticks = 133'000'000'000'000'000ull / 864'000'000'000ull * 864'000'000'000ull + ms * 10'000;
        const auto date = DateFromFileTime(FileTimeFromUInt64(ticks));
        ASSERT_TRUE(date);
        const auto ft = FileTimeFromDate(*date);
        ASSERT_TRUE(ft);
        EXPECT_EQ(FileTimeToUInt64(*ft), ticks) << ms;
    }
    EXPECT_FALSE(VariantTimeToSystemTime(1e9, &back));
    EXPECT_FALSE(VariantTimeToSystemTime(std::nan(""), &back));
}

// ---- dispatch tables ----

constexpr IID IID_ITestThing = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

class ITestThing : public IDispatch {
public:
    static constexpr const IID& kIid = IID_ITestThing;
    virtual HRESULT get_Name(BSTR* out) = 0;
    virtual HRESULT put_Name(BSTR value) = 0;
    virtual HRESULT Add(LONG a, VARIANT b, LONG* out) = 0;
    virtual HRESULT get_Self(ITestThing** out) = 0;
    virtual HRESULT Adopt(ITestThing* other, VARIANT_BOOL* same) = 0;
    virtual HRESULT Explode(LONG kind) = 0;
};

class CTestThing final : public CDispatchImpl<ITestThing>, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_ITestThing, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Name(BSTR* out) override
    {
        *out = SysAllocString(name_.c_str());
        return S_OK;
    }
    HRESULT put_Name(BSTR value) override
    {
        name_.assign(value ? value : "", SysStringLen(value));
        return S_OK;
    }
    HRESULT Add(LONG a, VARIANT b, LONG* out) override
    {
        if (IsMissing(b)) return *out = a, S_OK;
        CComVariant n;
        if (HRESULT hr = VariantChangeType(&n, &b, 0, VT_I4); FAILED(hr)) return hr;
        *out = a + n.lVal;
        return S_OK;
    }
    HRESULT get_Self(ITestThing** out) override
    {
        AddRef();
        *out = this;
        return S_OK;
    }
    HRESULT Adopt(ITestThing* other, VARIANT_BOOL* same) override
    {
        *same = other == this ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT Explode(LONG kind) override
    {
        if (kind == 1) throw std::runtime_error("boom");
        if (kind == 2) throw std::bad_alloc();
        return E_ACCESSDENIED;
    }

protected:
    DispTable Members() const override
    {
        static const DispMember members[] = {
            DispProp<&ITestThing::get_Name, &ITestThing::put_Name>("Name", 1),
            DispMethod<&ITestThing::Add>("Add", 2),
            DispProp<&ITestThing::get_Self>("Self", 3),
            DispMethod<&ITestThing::Adopt>("Adopt", 4),
            DispMethod<&ITestThing::Explode>("Explode", 5),
        };
        return members;
    }
    std::string_view InterfaceName() const override { return "ITestThing"; }

private:
    std::string name_ = "first";
};

TEST(Dispatch, MembersAnswerByNameWithoutRegardToCase)
{
    ComPtr<ITestThing> thing = ComPtr<ITestThing>::Attach(NewComObject<CTestThing>());
    CComVariant v;
    ASSERT_EQ(DispGet(thing.Get(), "NAME", v), S_OK);
    EXPECT_EQ(VariantText(v), "first");
    ASSERT_EQ(DispPut(thing.Get(), "name", CComVariant::Text("second")), S_OK);
    ASSERT_EQ(DispGet(thing.Get(), "Name", v), S_OK);
    EXPECT_EQ(VariantText(v), "second");
    DISPID id = 0;
    EXPECT_EQ(DispIdOf(thing.Get(), "Nome", &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(DispPut(thing.Get(), "Self", CComVariant::Long(1)), DISP_E_MEMBERNOTFOUND);  // read-only

    ComPtr<IDispatch> self;
    ASSERT_EQ(DispGetObject(thing.Get(), "Self", self), S_OK);
    EXPECT_EQ(self.Get(), static_cast<IDispatch*>(thing.Get()));
    EXPECT_EQ(DispGetObject(thing.Get(), "Name", self), DISP_E_TYPEMISMATCH);

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(thing->GetTypeInfo(0, 0, &info), S_OK);
    LPOLESTR names[] = {const_cast<LPOLESTR>("adopt")};
    MEMBERID mid = 0;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &mid), S_OK);
    EXPECT_EQ(mid, 4);
}

TEST(Dispatch, ArgumentsAreCheckedConvertedAndOptional)
{
    ComPtr<ITestThing> thing = ComPtr<ITestThing>::Attach(NewComObject<CTestThing>());
    CComVariant r;
    ASSERT_EQ(DispCall(thing.Get(), "Add", {CComVariant::Text("40"), CComVariant::Long(2)}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 42);
    ASSERT_EQ(DispCall(thing.Get(), "Add", {CComVariant::Long(5)}, &r), S_OK);  // the optional one left out
    EXPECT_EQ(r.lVal, 5);
    ASSERT_EQ(DispCall(thing.Get(), "Add", {CComVariant::Long(5), CComVariant::Missing()}, &r), S_OK);
    EXPECT_EQ(r.lVal, 5);
    EXPECT_EQ(DispCall(thing.Get(), "Add", {}, &r), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(DispCall(thing.Get(), "Add", {CComVariant::Long(1), CComVariant::Long(2), CComVariant::Long(3)}, &r),
              DISP_E_BADPARAMCOUNT);

    // The failing argument is named by its index in rgvarg (reverse order).
    DISPID id = 0;
    ASSERT_EQ(DispIdOf(thing.Get(), "Add", &id), S_OK);
    const CComVariant text = CComVariant::Text("x");
    VARIANT args[2];
    args[1] = text;  // the first argument, borrowed
    VariantInit(&args[0]);
    args[0].vt = VT_I4;
    args[0].lVal = 1;
    DISPPARAMS params{args, nullptr, 2, 0};
    UINT argErr = 99;
    EXPECT_EQ(thing->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);

    // Named arguments other than a put's value are refused.
    DISPID named = 7;
    params = DISPPARAMS{args, &named, 1, 1};
    EXPECT_EQ(thing->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              DISP_E_NONAMEDARGS);

    // Objects pass in by interface; Nothing is a null pointer.
    ASSERT_EQ(DispCall(thing.Get(), "Adopt", {CComVariant::Dispatch(thing.Get())}, &r), S_OK);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);
    ASSERT_EQ(DispCall(thing.Get(), "Adopt", {CComVariant()}, &r), S_OK);
    EXPECT_EQ(r.boolVal, VARIANT_FALSE);
    EXPECT_EQ(DispCall(thing.Get(), "Adopt", {CComVariant::Long(3)}, &r), DISP_E_TYPEMISMATCH);
}

TEST(Dispatch, InvokeNeverLetsAnExceptionOut)
{
    ComPtr<ITestThing> thing = ComPtr<ITestThing>::Attach(NewComObject<CTestThing>());
    DISPID id = 0;
    ASSERT_EQ(DispIdOf(thing.Get(), "Explode", &id), S_OK);
    VARIANT arg = CComVariant::Long(1);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    EXCEPINFO excep{};
    EXPECT_EQ(thing->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &excep, nullptr), DISP_E_EXCEPTION);
    EXPECT_STREQ(excep.bstrDescription, "boom");
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    EXPECT_EQ(DispCall(thing.Get(), "Explode", {CComVariant::Long(2)}), E_OUTOFMEMORY);
    EXPECT_EQ(DispCall(thing.Get(), "Explode", {CComVariant::Long(3)}), E_ACCESSDENIED);
}

TEST(TypeLib, TextFormParsesAndNamesTheLineAtFault)
{
    const char* good = R"(# a library
library {BB506285-5892-483E-85AB-03ABB06D6CD4} 1.0 TestLib "Test 1.0 Type Library"
interface {EAC5E94B-A8D8-443C-B65C-99172421381A} ITest dual "ITest Interface"
member 7 Go method
coclass {4A9C87D8-D7B2-4102-85E1-73A0B3420C31} Test "Test Class" ITest
)";
    ComPtr<ITypeLib> lib;
    std::string error;
    ASSERT_EQ(ParseTypeLibText(good, &lib, &error), S_OK) << error;
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(*ParseGuid("{EAC5E94B-A8D8-443C-B65C-99172421381A}"), &info), S_OK);
    LPOLESTR names[] = {const_cast<LPOLESTR>("GO")};
    MEMBERID id = 0;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 7);
    for (const char* bad : {"interface {EAC5E94B-A8D8-443C-B65C-99172421381A} ITest dual \"x\"",
                            "library {BB506285} 1.0 L \"x\"", "library {BB506285-5892-483E-85AB-03ABB06D6CD4} 1 L \"x\"",
                            "library {BB506285-5892-483E-85AB-03ABB06D6CD4} 1.0 L \"open"}) {
        EXPECT_TRUE(FAILED(ParseTypeLibText(bad, &lib, &error))) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace quillory

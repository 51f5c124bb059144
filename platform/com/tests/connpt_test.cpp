#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "platform/com/comobject.h"
#include "platform/com/connpt.h"
#include "platform/com/refcounted.h"

namespace quillory {
namespace {

constexpr IID IID_ITestEvents = {0x5E5E5E5E, 0x0001, 0x0002, {0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A}};

class CSource final : public IConnectionPointContainer, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IConnectionPointContainer, this}});
    }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override
    {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** out) override
    {
        return FindConnectionPointIn({&point}, riid, out);
    }
    CConnectionPoint point{this, IID_ITestEvents};
};

class CSink final : public IDispatch, public CRefCounted {
public:
    explicit CSink(std::function<void(DISPPARAMS*)> on, const IID& iid = IID_ITestEvents) : on_(std::move(on)), iid_(iid) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&iid_, this}, {&IID_IDispatch, this}});
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        ++calls;
        on_(p);
        return S_OK;
    }
    int calls = 0;

private:
    std::function<void(DISPPARAMS*)> on_;
    IID iid_;
};

template <class T>
ComPtr<T> Own(T* p)
{
    return ComPtr<T>::Attach(p);
}

TEST(ConnectionPoint, CookiesAreNeverZeroNorTheNotAdvisedSentinel)
{
    auto source = Own(NewComObject<CSource>());
    auto sink = Own(NewComObject<CSink>([](DISPPARAMS*) {}));
    std::vector<DWORD> cookies;
    for (DWORD start : {kNotAdvised - 1, 0xFFFFFFFFu}) {
        source->point.SetNextCookie(start);
        for (int i = 0; i < 3; ++i) {
            DWORD c = 0;
            ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, sink.Get(), &c), S_OK);
            EXPECT_NE(c, 0u);
            EXPECT_NE(c, kNotAdvised);
            cookies.push_back(c);
        }
    }
    // After the wrap, a cookie still in use is not handed out again.
    source->point.SetNextCookie(cookies.back());
    DWORD again = 0;
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, sink.Get(), &again), S_OK);
    EXPECT_EQ(std::count(cookies.begin(), cookies.end(), again), 0);
    EXPECT_EQ(source->point.SinkCount(), 7u);
}

TEST(ConnectionPoint, ASinkMayUnadviseItselfOrAnotherInsideItsOwnEvent)
{
    auto source = Own(NewComObject<CSource>());
    DWORD first = kNotAdvised, second = kNotAdvised, third = kNotAdvised;
    // The first sink lets go of itself and of the third, which then hears nothing.
    auto a = Own(NewComObject<CSink>([&](DISPPARAMS*) {
        UnadviseSink(source.Get(), IID_ITestEvents, &first);
        UnadviseSink(source.Get(), IID_ITestEvents, &third);
    }));
    auto b = Own(NewComObject<CSink>([](DISPPARAMS*) {}));
    auto c = Own(NewComObject<CSink>([](DISPPARAMS*) {}));
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, a.Get(), &first), S_OK);
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, b.Get(), &second), S_OK);
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, c.Get(), &third), S_OK);
    source->point.Fire(1);
    EXPECT_EQ(first, kNotAdvised);
    EXPECT_EQ(a->calls, 1);
    EXPECT_EQ(b->calls, 1);
    EXPECT_EQ(c->calls, 0);
    source->point.Fire(1);
    EXPECT_EQ(a->calls, 1);
    EXPECT_EQ(b->calls, 2);
    EXPECT_EQ(a->RefCount(), 1u);  // the point let go of it
    EXPECT_EQ(UnadviseSink(source.Get(), IID_ITestEvents, &first), S_FALSE);
}

TEST(ConnectionPoint, AThrowingSinkDoesNotStopTheOthersAndCancelIsShared)
{
    auto source = Own(NewComObject<CSource>());
    auto thrower = Own(NewComObject<CSink>([](DISPPARAMS*) { throw std::runtime_error("sink fault"); }));
    auto canceller = Own(NewComObject<CSink>([](DISPPARAMS* p) { *p->rgvarg[0].pboolVal = VARIANT_TRUE; }));
    VARIANT_BOOL seen = VARIANT_FALSE;
    auto reader = Own(NewComObject<CSink>([&](DISPPARAMS* p) { seen = *p->rgvarg[0].pboolVal; }));
    DWORD c1 = 0, c2 = 0, c3 = 0;
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, thrower.Get(), &c1), S_OK);
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, canceller.Get(), &c2), S_OK);
    ASSERT_EQ(AdviseSink(source.Get(), IID_ITestEvents, reader.Get(), &c3), S_OK);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_BOOL;
    arg.pboolVal = &cancel;
    EXPECT_NO_THROW(source->point.Fire(3, {arg}));
    EXPECT_EQ(cancel, VARIANT_TRUE);
    EXPECT_EQ(seen, VARIANT_TRUE);
}

TEST(ConnectionPoint, RefusesSinksOfAnotherInterfaceAndUnknownCookies)
{
    auto source = Own(NewComObject<CSource>());
    const IID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    auto wrong = Own(NewComObject<CSink>([](DISPPARAMS*) {}, other));
    DWORD cookie = 0;
    EXPECT_EQ(AdviseSink(source.Get(), IID_ITestEvents, wrong.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, kNotAdvised);
    EXPECT_EQ(AdviseSink(source.Get(), other, wrong.Get(), &cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(source->point.Unadvise(12345), CONNECT_E_NOCONNECTION);
    // A held connection point keeps its source alive.
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(source->FindConnectionPoint(IID_ITestEvents, &point), S_OK);
    EXPECT_EQ(source->RefCount(), 2u);
}

// ---- aggregation ----

constexpr IID IID_IInnerThing = {0xA1A1A1A1, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr IID IID_IOuterThing = {0xB2B2B2B2, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};

class IInnerThing : public IUnknown {
public:
    virtual int Value() = 0;
};
class IOuterThing : public IUnknown {
public:
    virtual int Other() = 0;
};

CComModule g_module;

class CInner final : public IInnerThing, public CAggregatable {
public:
    CInner(IUnknown* outer, CComModule& module) : CAggregatable(outer), lock_(module) {}
    static HRESULT CreateInstance(CComModule& module, IUnknown* outer, REFIID riid, void** ppv)
    {
        return CreateAggregatable<CInner>(outer, riid, ppv, module);
    }
    QUILLORY_IUNKNOWN_AGGREGATABLE
    int Value() override { return 7; }

protected:
    HRESULT InnerQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IInnerThing) return E_NOINTERFACE;
        AddRef();
        *ppv = static_cast<IInnerThing*>(this);
        return S_OK;
    }

private:
    CModuleLock lock_;
};

class COuter final : public IOuterThing, public CRefCounted {
public:
    COuter()
    {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(CreateClassFactory<CInner>(g_module, IID_IClassFactory, factory.AsVoidOut()), S_OK);
        void* unused = nullptr;
        EXPECT_EQ(factory->CreateInstance(this, IID_IInnerThing, &unused), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(factory->CreateInstance(this, IID_IUnknown, inner_.AsVoidOut()), S_OK);
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IInnerThing) return inner_->QueryInterface(riid, ppv);
        return QueryInterfaceTable(riid, ppv, {{&IID_IOuterThing, this}});
    }
    int Other() override { return 9; }

private:
    ComPtr<IUnknown> inner_;
};

TEST(Aggregation, TheInnerObjectAnswersThroughTheOuterOneAndLocksTheModule)
{
    EXPECT_EQ(g_module.GetLockCount(), 0);
    {
        auto outer = Own(NewComObject<COuter>());
        EXPECT_EQ(g_module.GetLockCount(), 1);  // the inner object; the factory is gone
        ComPtr<IInnerThing> inner;
        ASSERT_EQ(outer->QueryInterface(IID_IInnerThing, inner.AsVoidOut()), S_OK);
        EXPECT_EQ(inner->Value(), 7);
        EXPECT_EQ(outer->RefCount(), 2u);  // the inner interface counts on the outer object
        // Identity: the inner interface leads back to the outer object.
        ComPtr<IOuterThing> back;
        ASSERT_EQ(inner->QueryInterface(IID_IOuterThing, back.AsVoidOut()), S_OK);
        EXPECT_EQ(back.Get(), outer.Get());
        ComPtr<IUnknown> a, b;
        inner->QueryInterface(IID_IUnknown, a.AsVoidOut());
        outer->QueryInterface(IID_IUnknown, b.AsVoidOut());
        EXPECT_EQ(a.Get(), b.Get());
    }
    EXPECT_EQ(g_module.GetLockCount(), 0);

    // Alone, the object is its own controlling unknown.
    ComPtr<IInnerThing> alone;
    ASSERT_EQ(CInner::CreateInstance(g_module, nullptr, IID_IInnerThing, alone.AsVoidOut()), S_OK);
    ComPtr<IUnknown> id1, id2;
    alone->QueryInterface(IID_IUnknown, id1.AsVoidOut());
    id1->QueryInterface(IID_IUnknown, id2.AsVoidOut());
    EXPECT_EQ(id1.Get(), id2.Get());
    EXPECT_EQ(g_module.GetLockCount(), 1);
    alone = nullptr;
    id1 = nullptr;
    id2 = nullptr;
    EXPECT_EQ(g_module.GetLockCount(), 0);
}

}  // namespace
}  // namespace quillory

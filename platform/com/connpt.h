// Connection points: how an object with events lets sinks listen.
//
// A source object embeds one CConnectionPoint per event interface (its
// AddRef and Release are the owner's, so a held connection point keeps its
// source alive without a cycle) and answers IConnectionPointContainer
// through FindConnectionPointIn. Advise asks the sink for the event
// interface and hands out a cookie that is never 0 nor 0xFEFEFEFE (values
// callers keep to mean "not advised"). Fire delivers an event to a snapshot
// of the sinks, so a sink may unadvise itself or others inside its own event;
// a sink unadvised meanwhile is skipped. Nothing a sink throws or returns
// reaches the source.
#pragma once

#include <initializer_list>
#include <mutex>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"

constexpr IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A,
                                               {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IEnumConnectionPoints = {0xB196B285, 0xBAB4, 0x101A,
                                           {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
constexpr IID IID_IEnumConnections = {0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = static_cast<HRESULT>(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = static_cast<HRESULT>(0x80040202);

class IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

class IEnumConnections : public IUnknown {
public:
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;
};

class IConnectionPoint : public IUnknown {
public:
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};

class IEnumConnectionPoints : public IUnknown {
public:
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;
};

class IConnectionPointContainer : public IUnknown {
public:
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};

namespace quillory {

// The cookie value callers use for "not advised".
constexpr DWORD kNotAdvised = 0xFEFEFEFE;

class CConnectionPoint final : public IConnectionPoint {
public:
    // owner: the source object (its controlling unknown), which must also
    // answer IConnectionPointContainer.
    CConnectionPoint(IUnknown* owner, REFIID eventIid) : owner_(owner), iid_(eventIid) {}
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;
    ~CConnectionPoint();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return owner_->AddRef(); }
    ULONG Release() override { return owner_->Release(); }
    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    const IID& EventIid() const { return iid_; }
    bool HasSinks() const;
    std::size_t SinkCount() const;
    // Invokes the event on every sink advised now. Arguments are given first
    // to last; a by-reference argument (a Cancel flag) may be changed by the
    // sinks and is seen by the later ones.
    void Fire(DISPID id, std::initializer_list<VARIANT> args = {});
    // Lets go of every sink (the source is closing).
    void UnadviseAll();
    // Where the cookie counter goes on, so that tests can reach its wrap.
    void SetNextCookie(DWORD next)
    {
        std::lock_guard lock(mutex_);
        next_ = next;
    }

private:
    struct Sink {
        DWORD cookie;
        ComPtr<IDispatch> sink;
    };
    bool Advised(DWORD cookie) const;

    IUnknown* owner_;
    IID iid_;
    mutable std::mutex mutex_;
    std::vector<Sink> sinks_;
    DWORD next_ = 1;
};

// IConnectionPointContainer::FindConnectionPoint over a source's points.
HRESULT FindConnectionPointIn(std::initializer_list<CConnectionPoint*> points, REFIID riid, IConnectionPoint** out);

// Advises a dispatch sink on the source's connection point for eventIid;
// the cookie is kNotAdvised on failure.
HRESULT AdviseSink(IUnknown* source, REFIID eventIid, IUnknown* sink, DWORD* cookie);
// Unadvises and sets the cookie back to kNotAdvised; nothing when it is already.
HRESULT UnadviseSink(IUnknown* source, REFIID eventIid, DWORD* cookie);

}  // namespace quillory

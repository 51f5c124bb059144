#include "platform/com/connpt.h"

#include <algorithm>
#include <exception>

#include "platform/base/trace.h"
#include "platform/com/guid.h"

namespace quillory {

CConnectionPoint::~CConnectionPoint() { UnadviseAll(); }

HRESULT CConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        AddRef();
        *ppv = static_cast<IConnectionPoint*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT CConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (!pIID) return E_POINTER;
    *pIID = iid_;
    return S_OK;
}

HRESULT CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC) return E_POINTER;
    return owner_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
}

HRESULT CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    ComPtr<IDispatch> sink;
    if (FAILED(pUnkSink->QueryInterface(iid_, sink.AsVoidOut())) || !sink) return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(mutex_);
    // Cookies of live connections are never handed out twice, even after the counter wraps.
    for (DWORD tries = 0; tries < 0xFFFFFFFF; ++tries) {
        const DWORD cookie = next_++;
        if (cookie == 0 || cookie == kNotAdvised || Advised(cookie)) continue;
        sinks_.push_back(Sink{cookie, std::move(sink)});
        *pdwCookie = cookie;
        return S_OK;
    }
    return CONNECT_E_ADVISELIMIT;
}

HRESULT CConnectionPoint::Unadvise(DWORD dwCookie)
{
    ComPtr<IDispatch> released;  // let go of the sink outside the lock
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == dwCookie; });
        if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
        released = std::move(it->sink);
        sinks_.erase(it);
    }
    return S_OK;
}

HRESULT CConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;  // nobody here lists the sinks of another object
}

bool CConnectionPoint::Advised(DWORD cookie) const
{
    return std::any_of(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == cookie; });
}

bool CConnectionPoint::HasSinks() const
{
    std::lock_guard lock(mutex_);
    return !sinks_.empty();
}

std::size_t CConnectionPoint::SinkCount() const
{
    std::lock_guard lock(mutex_);
    return sinks_.size();
}

void CConnectionPoint::Fire(DISPID id, std::initializer_list<VARIANT> args)
{
    std::vector<Sink> snapshot;
    {
        std::lock_guard lock(mutex_);
        snapshot = sinks_;
    }
    if (snapshot.empty()) return;
    // The source stays alive while its sinks run, whatever they release.
    ComPtr<IUnknown> keep(owner_);
    std::vector<VARIANT> reversed(args.begin(), args.end());
    std::reverse(reversed.begin(), reversed.end());
    for (const Sink& s : snapshot) {
        {
            std::lock_guard lock(mutex_);
            if (!Advised(s.cookie)) continue;
        }
        // The sink gets copies of the by-value arguments, so one that changes
        // them cannot disturb the next one.
        std::vector<VARIANT> copy = reversed;
        DISPPARAMS params{copy.data(), nullptr, static_cast<UINT>(copy.size()), 0};
        EXCEPINFO excep{};
        UINT argErr = 0;
        try {
            const HRESULT hr = s.sink->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                              &excep, &argErr);
            if (FAILED(hr)) Trace("Fire -- %s %ld: sink answered 0x%08X\n", GuidToString(iid_).c_str(), static_cast<long>(id),
                                  static_cast<unsigned>(hr));
        } catch (...) {
            Trace("Fire -- %s %ld: a sink threw\n", GuidToString(iid_).c_str(), static_cast<long>(id));
        }
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
}

void CConnectionPoint::UnadviseAll()
{
    std::vector<Sink> released;
    {
        std::lock_guard lock(mutex_);
        released.swap(sinks_);
    }
}

HRESULT FindConnectionPointIn(std::initializer_list<CConnectionPoint*> points, REFIID riid, IConnectionPoint** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    for (CConnectionPoint* p : points) {
        if (p && p->EventIid() == riid) {
            p->AddRef();
            *out = p;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT AdviseSink(IUnknown* source, REFIID eventIid, IUnknown* sink, DWORD* cookie)
{
    if (!cookie) return E_POINTER;
    *cookie = kNotAdvised;
    if (!source || !sink) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.AsVoidOut());
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(eventIid, &point);
    DWORD advised = 0;
    if (SUCCEEDED(hr)) hr = point->Advise(sink, &advised);
    if (SUCCEEDED(hr)) *cookie = advised;
    return hr;
}

HRESULT UnadviseSink(IUnknown* source, REFIID eventIid, DWORD* cookie)
{
    if (!cookie) return E_POINTER;
    if (*cookie == kNotAdvised) return S_FALSE;
    const DWORD advised = *cookie;
    *cookie = kNotAdvised;
    if (!source) return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.AsVoidOut());
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(eventIid, &point);
    if (SUCCEEDED(hr)) hr = point->Unadvise(advised);
    return hr;
}

}  // namespace quillory

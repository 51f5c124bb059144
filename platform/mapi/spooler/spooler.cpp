// The spooler's transports: loading, logon, the pass's frame and logoff.
// Outbound messages: spooler_outbound.cpp; inbound: spooler_inbound.cpp.
#include "platform/mapi/spooler/spooler.h"

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapisvc_inf.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/session_impl.h"

namespace quillory {

namespace {

constexpr const char* kProviderInitName = "XPProviderInit";

}  // namespace

std::string HexResult(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// A loaded transport library and the provider object its XPProviderInit gave.
struct CSpooler::Library {
    std::string file;  // lower-case library file name
    HMODULE module = nullptr;
    ComPtr<IXPProvider> provider;

    ~Library()
    {
        if (provider) {
            ULONG flags = 0;
            provider->Shutdown(&flags);
            provider.Reset();
        }
        if (module && !FreeLibrary(module)) Trace("CSpooler: unloading %s failed\n", file.c_str());
    }
};

CSpooler::CSpooler(LPMAPISESSION session, SpoolerOptions options) : session_(session), options_(options) {}

CSpooler::~CSpooler() { Stop(); }

void CSpooler::SetProgressObserver(std::function<void(const SpoolerProgress&)> observer)
{
    observer_ = std::move(observer);
}

void CSpooler::Report(SpoolerProgress::Phase phase, const std::string& transport, const std::string& subject,
                      ULONG count, HRESULT result)
{
    if (observer_) observer_(SpoolerProgress{phase, transport, subject, count, result});
}

HRESULT CSpooler::LoadProvider(const std::string& dllName, ComPtr<IXPProvider>& out, std::string* error)
{
    const std::string file = ProviderLibraryName(dllName);
    std::string key = file;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& lib : libraries_) {
        if (lib->file == key) {
            out = lib->provider;
            return S_OK;
        }
    }
    auto lib = std::make_unique<Library>();
    lib->file = key;
    lib->module = LoadLibraryFor(file.c_str(), reinterpret_cast<const void*>(&OpenDefaultStore));
    if (!lib->module) {
        *error = "The transport library " + file + " could not be loaded: " + LastModuleError();
        return MAPI_E_NOT_FOUND;
    }
    auto init = reinterpret_cast<LPXPPROVIDERINIT>(GetProcAddress(lib->module, kProviderInitName));
    if (!init) {
        *error = "The transport library " + file + " has no entry '" + kProviderInitName + "'";
        return MAPI_E_NOT_FOUND;
    }
    ULONG version = 0;
    LPXPPROVIDER provider = nullptr;
    const HRESULT hr = init(lib->module, nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, 0,
                            CURRENT_SPI_VERSION, &version, &provider);
    if (FAILED(hr) || !provider) {
        *error = "The transport library " + file + " did not start (" + HexResult(FAILED(hr) ? hr : E_FAIL) + ")";
        if (provider) provider->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    lib->provider = ComPtr<IXPProvider>::Attach(provider);
    out = lib->provider;
    libraries_.push_back(std::move(lib));
    return S_OK;
}

HRESULT CSpooler::Start(std::string* error)
{
    if (started_) return S_OK;
    auto* impl = dynamic_cast<CMAPISession*>(session_.Get());
    if (!impl) return MAPI_E_INVALID_PARAMETER;
    const ProfileContext& ctx = impl->Context();
    HRESULT hr = ctx.db->Read([&]() -> HRESULT {
        if (!ctx.db->FindProfile(ctx.profile)) return MAPI_E_END_OF_SESSION;
        for (const auto& p : ctx.db->Providers(ctx.profile)) {
            if (p.resourceType != MAPI_TRANSPORT_PROVIDER) continue;
            SectionValues section;
            section.Read(*ctx.db, ctx.profile, p.uid);
            SpoolerTransport t;
            t.provider = p.uid;
            t.service = p.service;
            t.dllName = section.String(PR_PROVIDER_DLL_NAME);
            t.display = section.String(PR_DISPLAY_NAME);
            if (t.display.empty()) t.display = section.String(PR_PROVIDER_DISPLAY);
            if (t.display.empty()) t.display = p.section;
            if (t.dllName.empty()) {
                // A section made before the service list named the library: ask the list.
                InfProvider listed;
                ServiceList list;
                if (SUCCEEDED(ServiceList::Load(list)) && SUCCEEDED(list.FindProvider(p.section, listed)))
                    t.dllName = listed.dllName;
            }
            transports_.push_back(std::move(t));
        }
        return S_OK;
    }, error);
    if (FAILED(hr)) return hr;
    started_ = true;
    for (auto& t : transports_) LogOn(t);
    return S_OK;
}

void CSpooler::LogOn(SpoolerTransport& t)
{
    const HRESULT made =
        CMAPISupport::ForTransport(session_.Get(), StatusRowIdentity{t.provider, t.display, t.dllName}, t.support);
    auto fail = [&](HRESULT hr, std::string why) {
        t.logonResult = hr;
        t.logonError = std::move(why);
        t.logon.Reset();
        Trace("CSpooler: %s: %s\n", t.display.c_str(), t.logonError.c_str());
        if (!t.support) return;
        const std::string text = t.logonError;
        const SPropValue row[] = {
            LongValue(PR_STATUS_CODE, STATUS_FAILURE),
            StringValue(PR_STATUS_STRING, text),
        };
        t.support->SetStatusRow(row);
    };
    if (FAILED(made)) return fail(made, "The transport's status row could not be made");
    if (t.dllName.empty()) return fail(MAPI_E_NOT_FOUND, "The profile names no library for the transport");
    ComPtr<IXPProvider> provider;
    std::string why;
    if (const HRESULT hr = LoadProvider(t.dllName, provider, &why); FAILED(hr)) return fail(hr, why);

    auto* impl = dynamic_cast<CMAPISession*>(session_.Get());
    std::string profileName = impl ? impl->Context().profileName : std::string();
    ULONG flags = options_.logonFlags;
    LPMAPIERROR details = nullptr;
    LPXPLOGON logon = nullptr;
    HRESULT hr = provider->TransportLogon(t.support.Get(), 0, profileName.data(), &flags, &details, &logon);
    std::string detailText = details && details->lpszError ? details->lpszError : "";
    MAPIFreeBuffer(details);
    if (FAILED(hr) || !logon) {
        if (logon) logon->Release();
        return fail(FAILED(hr) ? hr : E_FAIL,
                    "The transport refused the logon (" + HexResult(FAILED(hr) ? hr : E_FAIL) + ")" +
                        (detailText.empty() ? "" : ": " + detailText));
    }
    t.logon = ComPtr<IXPLogon>::Attach(logon);

    ULONG typeFlags = 0, cTypes = 0, cUids = 0;
    LPSTR* types = nullptr;
    LPMAPIUID* uids = nullptr;
    if (hr = t.logon->AddressTypes(&typeFlags, &cTypes, &types, &cUids, &uids); FAILED(hr)) {
        t.logon->TransportLogoff(0);
        return fail(hr, "The transport named no address types (" + HexResult(hr) + ")");
    }
    for (ULONG i = 0; types && i < cTypes; ++i)
        if (types[i]) t.addressTypes.emplace_back(types[i]);
    ULONG optionFlags = 0, cOptions = 0;
    LPOPTIONDATA options = nullptr;
    if (FAILED(t.logon->RegisterOptions(&optionFlags, &cOptions, &options)))
        Trace("CSpooler: %s registered no options\n", t.display.c_str());
    t.logonResult = S_OK;
}

HRESULT CSpooler::RunPass(SpoolerPassResult* out) { return Pass(out, true); }

HRESULT CSpooler::RunInboundPass(SpoolerPassResult* out) { return Pass(out, false); }

HRESULT CSpooler::Pass(SpoolerPassResult* out, bool outbound)
{
    SpoolerPassResult result;
    if (!started_) {
        if (const HRESULT hr = Start(); FAILED(hr)) return hr;
    }
    Report(SpoolerProgress::Phase::Begin, {}, {}, 0, S_OK);
    for (auto& t : transports_) {
        if (!t.logon) continue;
        ULONG flags = outbound ? NOTIFY_BEGIN_INBOUND | NOTIFY_BEGIN_OUTBOUND : NOTIFY_BEGIN_INBOUND;
        t.logon->TransportNotify(&flags, nullptr);
    }
    if (outbound) Outbound(result);
    for (auto& t : transports_)
        if (t.logon) Inbound(t, result);
    // Every queued message was offered in this pass already; what the
    // transports asked for through SpoolerNotify is only traced.
    for (auto& t : transports_) {
        if (!t.support) continue;
        for (ULONG flags : t.support->TakeSpoolerNotifications())
            Trace("CSpooler: %s notified 0x%08X\n", t.display.c_str(), static_cast<unsigned>(flags));
    }
    Report(SpoolerProgress::Phase::End, {}, {}, result.sent + result.received, S_OK);
    if (out) *out = std::move(result);
    return S_OK;
}

void CSpooler::Stop()
{
    if (!started_) return;
    started_ = false;
    for (auto& t : transports_) {
        if (!t.logon) continue;
        ULONG flags = NOTIFY_END_INBOUND | NOTIFY_END_OUTBOUND;
        t.logon->TransportNotify(&flags, nullptr);
        if (const HRESULT hr = t.logon->TransportLogoff(0); FAILED(hr))
            Trace("CSpooler: %s logoff 0x%08X\n", t.display.c_str(), static_cast<unsigned>(hr));
        t.logon.Reset();
    }
    transports_.clear();
    // Providers go before their libraries, in the reverse order of loading.
    while (!libraries_.empty()) libraries_.pop_back();
}

HRESULT CSpooler::OpenStatus(std::size_t index, ComPtr<IMAPIStatus>& out)
{
    if (index >= transports_.size() || !transports_[index].logon) return MAPI_E_NOT_FOUND;
    ULONG type = 0;
    return transports_[index].logon->OpenStatusEntry(nullptr, 0, &type, &out);
}

}  // namespace quillory

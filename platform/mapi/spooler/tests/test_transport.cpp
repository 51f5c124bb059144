// A scripted transport for the spooler tests, built as libqtestxp32.so and
// named "qtestxp.dll" in their service lists. Each logon reads its script
// from its provider section (values the service list puts there):
//   0x6710001E  address type (default "TEST")
//   0x6711001E  SubmitMessage outcomes, used in turn, comma-separated:
//               ok | nomark (S_OK without marking recipients) | wait:N |
//               net:N | notme | fail (recipients failed, StatusRecips, S_OK);
//               once used up every message is "ok"
//   0x67120003  StartMessage calls to make per download (-1: never stops)
//   0x6713000B  save each message StartMessage gets, as "Received N"
// Every call is appended to <QUILLORY_HOME>/xp-calls.log as
// "<provider display> <call> <argument>".
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapispi.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/service_admin_core.h"

namespace {

using quillory::ComPtr;

constexpr ULONG kAddressTypeTag = 0x6710001E;
constexpr ULONG kSubmitScriptTag = 0x6711001E;
constexpr ULONG kInboundCountTag = 0x67120003;
constexpr ULONG kSaveInboundTag = 0x6713000B;
// The call that ends inbound finds nothing to receive, as a remote
// transport's last call does, and sets no message reference.
constexpr ULONG kEmptyLastCallTag = 0x6714000B;

void Log(const std::string& who, const std::string& call, const std::string& arg)
{
    const char* home = std::getenv("QUILLORY_HOME");
    if (!home) return;
    if (FILE* f = std::fopen((std::string(home) + "/xp-calls.log").c_str(), "a")) {
        std::fprintf(f, "%s %s %s\n", who.c_str(), call.c_str(), arg.c_str());
        std::fclose(f);
    }
}

std::string Hex(ULONG v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
    return text;
}

std::string StringOf(IMAPIProp* obj, ULONG tag, const std::string& def = {})
{
    LPSPropValue v = nullptr;
    std::string s = def;
    if (SUCCEEDED(HrGetOneProp(obj, tag, &v)) && PROP_TYPE(v->ulPropTag) == PT_STRING8) s = v->Value.lpszA;
    MAPIFreeBuffer(v);
    return s;
}

LONG LongOf(IMAPIProp* obj, ULONG tag, LONG def)
{
    LPSPropValue v = nullptr;
    LONG n = def;
    if (SUCCEEDED(HrGetOneProp(obj, tag, &v))) n = v->Value.l;
    MAPIFreeBuffer(v);
    return n;
}

class CTestLogon final : public IXPLogon, public quillory::CRefCounted {
public:
    CTestLogon(IMAPISupport* support, ULONG logonFlags) : support_(support)
    {
        ComPtr<IProfSect> section;
        if (SUCCEEDED(support_->OpenProfileSection(nullptr, 0, &section))) {
            display_ = StringOf(section.Get(), PR_PROVIDER_DISPLAY, "xp");
            addressType_ = StringOf(section.Get(), kAddressTypeTag, "TEST");
            std::stringstream script(StringOf(section.Get(), kSubmitScriptTag));
            for (std::string step; std::getline(script, step, ',');) script_.push_back(step);
            inbound_ = LongOf(section.Get(), kInboundCountTag, 0);
            saveInbound_ = LongOf(section.Get(), kSaveInboundTag, 0) != 0;
            emptyLastCall_ = LongOf(section.Get(), kEmptyLastCallTag, 0) != 0;
        }
        typePointer_ = addressType_.data();
        status_ = STATUS_AVAILABLE | (logonFlags & LOGON_NO_INBOUND ? 0 : STATUS_INBOUND_ENABLED) |
                  (logonFlags & LOGON_NO_OUTBOUND ? 0 : STATUS_OUTBOUND_ENABLED);
        const std::string text = "ready";
        SPropValue row[3]{};
        row[0].ulPropTag = PR_STATUS_CODE;
        row[0].Value.ul = status_;
        row[1].ulPropTag = PR_STATUS_STRING;
        row[1].Value.lpszA = const_cast<LPSTR>(text.c_str());
        row[2].ulPropTag = PR_DISPLAY_NAME;
        row[2].Value.lpszA = display_.data();
        support_->ModifyStatusRow(3, row, 0);
        Log(display_, "TransportLogon", Hex(logonFlags));
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return quillory::QueryInterfaceTable(riid, ppv, {{&IID_IXPLogon, static_cast<IXPLogon*>(this)}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT AddressTypes(ULONG* lpulFlags, ULONG* lpcAdrType, LPSTR** lpppszAdrTypeArray, ULONG* lpcMAPIUID,
                         LPMAPIUID** lpppUIDArray) override
    {
        *lpulFlags = 0;
        *lpcAdrType = 1;
        *lpppszAdrTypeArray = &typePointer_;
        *lpcMAPIUID = 0;
        *lpppUIDArray = nullptr;
        return S_OK;
    }
    HRESULT RegisterOptions(ULONG* lpulFlags, ULONG* lpcOptions, LPOPTIONDATA* lppOptions) override
    {
        *lpulFlags = 0;
        *lpcOptions = 0;
        *lppOptions = nullptr;
        return S_OK;
    }
    HRESULT TransportNotify(ULONG* lpulFlags, LPVOID*) override
    {
        Log(display_, "TransportNotify", Hex(*lpulFlags));
        return S_OK;
    }
    HRESULT Idle(ULONG) override { return S_OK; }
    HRESULT TransportLogoff(ULONG) override
    {
        Log(display_, "TransportLogoff", "");
        support_->ModifyStatusRow(0, nullptr, 0);
        return S_OK;
    }
    HRESULT SubmitMessage(ULONG, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef, ULONG_PTR* lpulReturnParm) override
    {
        const std::string step = next_ < script_.size() ? script_[next_++] : "ok";
        Log(display_, "SubmitMessage", StringOf(lpMessage, PR_SUBJECT) + " " + step);
        *lpulMsgRef = ++submitted_;
        const auto colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        if (verb == "wait" || verb == "net") {
            *lpulReturnParm = colon == std::string::npos ? 0 : std::strtoul(step.c_str() + colon + 1, nullptr, 10);
            return verb == "wait" ? MAPI_E_WAIT : MAPI_E_NETWORK_ERROR;
        }
        if (verb == "notme") return MAPI_E_NOT_ME;
        if (verb == "nomark") return S_OK;
        return MarkRecipients(lpMessage, verb != "fail");
    }
    HRESULT EndMessage(ULONG_PTR ulMsgRef, ULONG* lpulFlags) override
    {
        Log(display_, "EndMessage", std::to_string(ulMsgRef));
        *lpulFlags = 0;
        return S_OK;
    }
    HRESULT Poll(ULONG* lpulIncoming) override
    {
        *lpulIncoming = 0;
        return S_OK;
    }
    HRESULT StartMessage(ULONG, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef) override
    {
        ++received_;
        Log(display_, "StartMessage", std::to_string(received_));
        *lpulMsgRef = emptyLastCall_ && pending_ == 1 ? 0 : received_;
        if (saveInbound_) {
            const std::string subject = "Received " + std::to_string(received_);
            SPropValue v{};
            v.ulPropTag = PR_SUBJECT;
            v.Value.lpszA = const_cast<LPSTR>(subject.c_str());
            lpMessage->SetProps(1, &v, nullptr);
            lpMessage->SaveChanges(0);
        }
        if (pending_ > 0 && --pending_ == 0) SetStatus(status_ & ~(STATUS_INBOUND_ACTIVE | STATUS_INBOUND_FLUSH));
        return S_OK;
    }
    HRESULT OpenStatusEntry(LPCIID, ULONG, ULONG* lpulObjType, LPMAPISTATUS* lppEntry) override
    {
        *lppEntry = nullptr;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT ValidateState(ULONG_PTR, ULONG) override { return S_OK; }
    HRESULT FlushQueues(ULONG_PTR, ULONG, LPENTRYID, ULONG ulFlags) override
    {
        Log(display_, "FlushQueues", Hex(ulFlags));
        if ((ulFlags & FLUSH_DOWNLOAD) && inbound_ != 0) {
            pending_ = inbound_;
            SetStatus(status_ | STATUS_INBOUND_ACTIVE | STATUS_INBOUND_FLUSH);
        }
        return S_OK;
    }

private:
    ~CTestLogon() override { support_->Release(); }

    void SetStatus(ULONG code)
    {
        status_ = code;
        SPropValue v{};
        v.ulPropTag = PR_STATUS_CODE;
        v.Value.ul = code;
        support_->ModifyStatusRow(1, &v, STATUSROW_UPDATE);
    }

    // Marks every recipient of this address type as taken, delivered or failed.
    HRESULT MarkRecipients(IMessage* message, bool delivered)
    {
        ComPtr<IMAPITable> table;
        quillory::RowSetPtr rows;
        if (FAILED(message->GetRecipientTable(0, &table)) || FAILED(table->QueryRows(1000, 0, &rows)) || !rows)
            return MAPI_E_NOT_ME;
        quillory::MapiBuffer<ADRLIST> list;
        if (FAILED(MAPIAllocateBuffer(CbNewADRLIST(rows->cRows), list.AsVoidOut()))) return E_OUTOFMEMORY;
        list->cEntries = 0;
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const std::string text = "The test server refused the message";
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SRow& r = rows->aRow[i];
            const SPropValue* type = PpropFindProp(r.lpProps, r.cValues, PR_ADDRTYPE);
            if (!type || addressType_ != type->Value.lpszA) continue;
            std::vector<SPropValue> values;
            for (ULONG tag : {PR_ROWID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_RECIPIENT_TYPE})
                if (const SPropValue* v = PpropFindProp(r.lpProps, r.cValues, tag)) values.push_back(*v);
            SPropValue v{};
            v.ulPropTag = PR_RESPONSIBILITY;
            v.Value.b = TRUE;
            values.push_back(v);
            v.ulPropTag = delivered ? PR_DELIVER_TIME : PR_REPORT_TIME;
            v.Value.ft = now;
            values.push_back(v);
            if (!delivered) {
                v.ulPropTag = PR_REPORT_TEXT;
                v.Value.lpszA = const_cast<LPSTR>(text.c_str());
                values.push_back(v);
            }
            LPSPropValue copy = nullptr;
            if (FAILED(ScDupPropset(static_cast<int>(values.size()), values.data(), MAPIAllocateBuffer, &copy)))
                return E_OUTOFMEMORY;
            list->aEntries[list->cEntries++] = ADRENTRY{0, static_cast<ULONG>(values.size()), copy};
        }
        HRESULT hr = message->ModifyRecipients(MODRECIP_MODIFY, list.Get());
        if (SUCCEEDED(hr) && !delivered) hr = support_->StatusRecips(message, list.Get());
        if (SUCCEEDED(hr)) hr = message->SaveChanges(KEEP_OPEN_READWRITE);
        for (ULONG i = 0; i < list->cEntries; ++i) MAPIFreeBuffer(list->aEntries[i].rgPropVals);
        return SUCCEEDED(hr) ? S_OK : MAPI_E_NOT_ME;
    }

    IMAPISupport* support_;
    std::string display_ = "xp";
    std::string addressType_ = "TEST";
    LPSTR typePointer_ = nullptr;
    std::vector<std::string> script_;
    std::size_t next_ = 0;
    LONG inbound_ = 0;
    LONG pending_ = 0;
    bool saveInbound_ = false;
    bool emptyLastCall_ = false;
    ULONG status_ = 0;
    ULONG submitted_ = 0;
    ULONG received_ = 0;
};

class CTestProvider final : public IXPProvider, public quillory::CRefCounted {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return quillory::QueryInterfaceTable(riid, ppv, {{&IID_IXPProvider, static_cast<IXPProvider*>(this)}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT Shutdown(ULONG*) override
    {
        Log("provider", "Shutdown", "");
        return S_OK;
    }
    HRESULT TransportLogon(LPMAPISUP lpMAPISup, ULONG_PTR, LPSTR lpszProfileName, ULONG* lpulFlags, LPMAPIERROR*,
                           LPXPLOGON* lppXPLogon) override
    {
        lpMAPISup->AddRef();
        *lppXPLogon = quillory::NewComObject<CTestLogon>(lpMAPISup, *lpulFlags);
        *lpulFlags = 0;
        return S_OK;
    }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT XPProviderInit(
    HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
    LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer, ULONG* lpulProviderVer, LPXPPROVIDER* lppXPProvider)
{
    static_assert(std::is_same_v<decltype(XPProviderInit), XPPROVIDERINIT>);
    Log("provider", "XPProviderInit", Hex(ulMAPIVer));
    if (ulMAPIVer < CURRENT_SPI_VERSION) return MAPI_E_VERSION;
    if (!lpAllocateBuffer || !lpAllocateMore || !lpFreeBuffer) return E_INVALIDARG;
    *lpulProviderVer = CURRENT_SPI_VERSION;
    *lppXPProvider = quillory::NewComObject<CTestProvider>();
    return S_OK;
}

// Configuration with values stores them in the service's section; the call
// is logged with whether a support object came with it.
extern "C" __attribute__((visibility("default"))) HRESULT ServiceEntry(
    HINSTANCE, LPMALLOC, LPMAPISUP lpMAPISup, ULONG, ULONG ulFlags, ULONG ulContext, ULONG cValues,
    LPSPropValue lpProps, LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR*)
{
    static_assert(std::is_same_v<decltype(ServiceEntry), MSGSERVICEENTRY>);
    LPALLOCATEBUFFER alloc = nullptr;
    LPALLOCATEMORE more = nullptr;
    LPFREEBUFFER free = nullptr;
    const bool support = lpMAPISup && SUCCEEDED(lpMAPISup->GetMemAllocRoutines(&alloc, &more, &free)) && alloc;
    Log("service", "ServiceEntry", std::to_string(ulContext) + " " + std::to_string(cValues) + (support ? " support" : ""));
    if (ulContext != MSG_SERVICE_CONFIGURE || cValues == 0) return S_OK;
    if (!lpProviderAdmin) return E_FAIL;
    ComPtr<IProfSect> section;
    if (const HRESULT hr = lpProviderAdmin->OpenProfileSection(nullptr, nullptr, MAPI_MODIFY, &section); FAILED(hr))
        return hr;
    return section->SetProps(cValues, lpProps, nullptr);
}

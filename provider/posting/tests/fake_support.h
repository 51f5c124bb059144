// A support object that records StatusRecips and refuses everything else.
#pragma once

#include <string>
#include <vector>

#include "platform/com/refcounted.h"
#include "platform/mapi/mapispi.h"

namespace quillory::quarnex::testing {

class CRecordingSupport final : public IMAPISupport, public CRefCounted {
public:
    struct Report {
        std::string newsgroup;
        std::string text;  // "<error>" when the report text is an error value
        bool delivered = false;
    };
    std::vector<std::vector<Report>> statusRecips;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMAPISup) {
            *ppv = static_cast<IMAPISupport*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT StatusRecips(LPMESSAGE, LPADRLIST list) override
    {
        std::vector<Report> reports;
        for (ULONG i = 0; i < list->cEntries; ++i) {
            Report r;
            const ADRENTRY& e = list->aEntries[i];
            for (ULONG j = 0; j < e.cValues; ++j) {
                const SPropValue& v = e.rgPropVals[j];
                if (v.ulPropTag == PR_EMAIL_ADDRESS) r.newsgroup = v.Value.lpszA;
                if (PROP_ID(v.ulPropTag) == PROP_ID(PR_REPORT_TEXT))
                    r.text = v.ulPropTag == PR_REPORT_TEXT ? v.Value.lpszA : "<error>";
                if (v.ulPropTag == PR_DELIVER_TIME) r.delivered = true;
            }
            reports.push_back(r);
        }
        statusRecips.push_back(reports);
        return S_OK;
    }

#define QUILLORY_NO_SUPPORT(...) \
    {                            \
        return MAPI_E_NO_SUPPORT; \
    }
    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR*) override QUILLORY_NO_SUPPORT()
    HRESULT GetMemAllocRoutines(LPALLOCATEBUFFER*, LPALLOCATEMORE*, LPFREEBUFFER*) override QUILLORY_NO_SUPPORT()
    HRESULT Subscribe(LPNOTIFKEY, ULONG, ULONG, LPMAPIADVISESINK, ULONG*) override QUILLORY_NO_SUPPORT()
    HRESULT Unsubscribe(ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT Notify(LPNOTIFKEY, ULONG, LPNOTIFICATION, ULONG*) override QUILLORY_NO_SUPPORT()
    HRESULT ModifyStatusRow(ULONG, LPSPropValue, ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT OpenProfileSection(LPMAPIUID, ULONG, LPPROFSECT*) override QUILLORY_NO_SUPPORT()
    HRESULT RegisterPreprocessor(LPMAPIUID, LPSTR, LPSTR, LPSTR, LPSTR, ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT NewUID(LPMAPIUID) override QUILLORY_NO_SUPPORT()
    HRESULT MakeInvalid(ULONG, LPVOID, ULONG, ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT SpoolerYield(ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT SpoolerNotify(ULONG, LPVOID) override QUILLORY_NO_SUPPORT()
    HRESULT CreateOneOff(LPSTR, LPSTR, LPSTR, ULONG, ULONG*, LPENTRYID*) override QUILLORY_NO_SUPPORT()
    HRESULT SetProviderUID(LPMAPIUID, ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override QUILLORY_NO_SUPPORT()
    HRESULT OpenTemplateID(ULONG, LPENTRYID, ULONG, LPMAPIPROP, LPCIID, LPMAPIPROP*, LPMAPIPROP) override
        QUILLORY_NO_SUPPORT()
    HRESULT OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) override QUILLORY_NO_SUPPORT()
    HRESULT GetOneOffTable(ULONG, LPMAPITABLE*) override QUILLORY_NO_SUPPORT()
    HRESULT Address(ULONG_PTR*, LPVOID, LPADRLIST*) override QUILLORY_NO_SUPPORT()
    HRESULT Details(ULONG_PTR*, LPVOID, LPVOID, ULONG, LPENTRYID, LPVOID, LPVOID, LPSTR, ULONG) override
        QUILLORY_NO_SUPPORT()
    HRESULT NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*) override
        QUILLORY_NO_SUPPORT()
    HRESULT DoConfigPropsheet(ULONG_PTR, ULONG, LPSTR, LPVOID, LPVOID, ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT CopyMessages(LPCIID, LPVOID, LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override
        QUILLORY_NO_SUPPORT()
    HRESULT CopyFolder(LPCIID, LPVOID, ULONG, LPENTRYID, LPCIID, LPVOID, LPSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT DoCopyTo(LPCIID, LPVOID, ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                     LPSPropProblemArray*) override QUILLORY_NO_SUPPORT()
    HRESULT DoCopyProps(LPCIID, LPVOID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray*) override QUILLORY_NO_SUPPORT()
    HRESULT DoProgressDialog(ULONG_PTR, ULONG, LPMAPIPROGRESS*) override QUILLORY_NO_SUPPORT()
    HRESULT ReadReceipt(ULONG, LPMESSAGE, LPMESSAGE*) override QUILLORY_NO_SUPPORT()
    HRESULT PrepareSubmit(LPMESSAGE, ULONG*) override QUILLORY_NO_SUPPORT()
    HRESULT ExpandRecips(LPMESSAGE, ULONG*) override QUILLORY_NO_SUPPORT()
    HRESULT UpdatePAB(ULONG, LPMESSAGE) override QUILLORY_NO_SUPPORT()
    HRESULT DoSentMail(ULONG, LPMESSAGE) override QUILLORY_NO_SUPPORT()
    HRESULT OpenAddressBook(LPCIID, ULONG, LPADRBOOK*) override QUILLORY_NO_SUPPORT()
    HRESULT Preprocess(ULONG, ULONG, LPENTRYID) override QUILLORY_NO_SUPPORT()
    HRESULT CompleteMsg(ULONG, ULONG, LPENTRYID) override QUILLORY_NO_SUPPORT()
    HRESULT StoreLogoffTransports(ULONG*) override QUILLORY_NO_SUPPORT()
    HRESULT WrapStoreEntryID(ULONG, LPENTRYID, ULONG*, LPENTRYID*) override QUILLORY_NO_SUPPORT()
    HRESULT ModifyProfile(ULONG) override QUILLORY_NO_SUPPORT()
    HRESULT IStorageFromStream(LPUNKNOWN, LPCIID, ULONG, LPVOID*) override QUILLORY_NO_SUPPORT()
    HRESULT GetSvcConfigSupportObj(ULONG, LPMAPISUP*) override QUILLORY_NO_SUPPORT()
#undef QUILLORY_NO_SUPPORT

private:
    ~CRecordingSupport() override = default;
};

}  // namespace quillory::quarnex::testing

// Non-delivery reports: a report message in the store's receive folder for
// reports, naming the recipients that could not be reached and why.
#include <string>
#include <vector>

#include "platform/base/time.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/spooler/support.h"

namespace quillory {

namespace {

constexpr const char* kReportClass = "REPORT.IPM.Note.NDR";
constexpr const char* kSubjectPrefix = "Undeliverable: ";
constexpr const char* kReporter = "System Administrator";
constexpr const char* kDefaultReportText = "The message could not be delivered.";

std::string StringOf(const SPropValue* v)
{
    return v && PROP_TYPE(v->ulPropTag) == PT_STRING8 && v->Value.lpszA ? std::string(v->Value.lpszA) : std::string();
}

std::string OriginalSubject(IMessage* original)
{
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(original, PR_SUBJECT, &v))) return {};
    std::string s = StringOf(v);
    MAPIFreeBuffer(v);
    return s;
}

SPropValue TimeValue(ULONG tag, const FILETIME& ft)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ft = ft;
    return v;
}

// One report recipient: the failed recipient's addressing and report values,
// with the reason codes filled in when the transport gave none.
struct ReportRecipient {
    std::vector<SPropValue> values;
    std::string display;
    std::string text;
};

ReportRecipient MakeRecipient(const SRow& row, const FILETIME& now)
{
    ReportRecipient r;
    for (ULONG tag : {PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_ENTRYID, PR_RECIPIENT_TYPE, PR_SEARCH_KEY})
        if (const SPropValue* v = PpropFindProp(row.lpProps, row.cValues, tag)) r.values.push_back(*v);
    if (!PpropFindProp(r.values.data(), static_cast<ULONG>(r.values.size()), PR_RECIPIENT_TYPE))
        r.values.push_back(LongValue(PR_RECIPIENT_TYPE, MAPI_TO));
    const SPropValue* reason = PpropFindProp(row.lpProps, row.cValues, PR_NDR_REASON_CODE);
    const SPropValue* diag = PpropFindProp(row.lpProps, row.cValues, PR_NDR_DIAG_CODE);
    r.values.push_back(reason ? *reason : LongValue(PR_NDR_REASON_CODE, MAPI_REASON_TRANSFER_FAILED));
    r.values.push_back(diag ? *diag : LongValue(PR_NDR_DIAG_CODE, MAPI_DIAG_NO_DIAGNOSTIC));
    r.text = StringOf(PpropFindProp(row.lpProps, row.cValues, PR_REPORT_TEXT));
    if (r.text.empty()) r.text = kDefaultReportText;
    r.values.push_back(TimeValue(PR_REPORT_TIME, now));
    r.display = StringOf(PpropFindProp(row.lpProps, row.cValues, PR_DISPLAY_NAME));
    if (r.display.empty()) r.display = StringOf(PpropFindProp(row.lpProps, row.cValues, PR_EMAIL_ADDRESS));
    return r;
}

}  // namespace

std::string SessionErrorText(LPMAPISESSION session, HRESULT hr)
{
    LPMAPIERROR err = nullptr;
    std::string text;
    if (session && SUCCEEDED(session->GetLastError(hr, 0, &err)) && err && err->lpszError) text = err->lpszError;
    MAPIFreeBuffer(err);
    return text.empty() ? text : ": " + text;
}

HRESULT OpenDefaultStore(LPMAPISESSION session, ComPtr<IMsgStore>& out)
{
    ComPtr<IMAPITable> stores;
    if (const HRESULT hr = session->GetMsgStoresTable(0, &stores); FAILED(hr)) return hr;
    auto columns = MakeTagArray({PR_ENTRYID, PR_DEFAULT_STORE});
    RowSetPtr rows;
    if (HRESULT hr = stores->SetColumns(columns.Get(), 0); FAILED(hr) || FAILED(hr = stores->QueryRows(1000, 0, &rows)))
        return hr;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SRow& row = rows->aRow[i];
        if (PROP_TYPE(row.lpProps[1].ulPropTag) != PT_BOOLEAN || !row.lpProps[1].Value.b) continue;
        if (PROP_TYPE(row.lpProps[0].ulPropTag) != PT_BINARY) break;
        return session->OpenMsgStore(0, row.lpProps[0].Value.bin.cb,
                                     reinterpret_cast<LPENTRYID>(row.lpProps[0].Value.bin.lpb), nullptr,
                                     MDB_WRITE | MDB_NO_DIALOG, &out);
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT WriteNonDeliveryReport(IMsgStore* store, IMessage* original, std::span<const SRow> recipients,
                               std::string* error)
{
    auto fail = [&](HRESULT hr, const char* text) {
        if (error) *error = text;
        return hr;
    };
    if (!store || !original) return MAPI_E_INVALID_PARAMETER;
    ULONG cb = 0;
    MapiBuffer<ENTRYID> folderId;
    if (FAILED(store->GetReceiveFolder(const_cast<LPSTR>(kReportClass), 0, &cb, &folderId, nullptr)))
        return fail(MAPI_E_NOT_FOUND, "The store has no folder that receives reports");
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    if (const HRESULT hr = store->OpenEntry(cb, folderId.Get(), &IID_IMAPIFolder, MAPI_MODIFY, &type, &unk); FAILED(hr))
        return fail(hr, "The folder for reports could not be opened");
    ComPtr<IMAPIFolder> folder;
    if (const HRESULT hr = unk.As(IID_IMAPIFolder, folder); FAILED(hr)) return fail(hr, "The report folder is no folder");
    ComPtr<IMessage> report;
    if (const HRESULT hr = folder->CreateMessage(nullptr, 0, &report); FAILED(hr))
        return fail(hr, "The report could not be created");

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::string subject = OriginalSubject(original);
    std::vector<ReportRecipient> reportRecipients;
    for (const SRow& row : recipients) reportRecipients.push_back(MakeRecipient(row, now));

    std::string body = "Your message did not reach some or all of the intended recipients.\r\n\r\n";
    body += "      Subject:\t" + subject + "\r\n\r\n";
    body += "The following recipient(s) could not be reached:\r\n";
    for (const auto& r : reportRecipients) body += "\r\n      " + r.display + "\r\n            " + r.text + "\r\n";

    const std::string fullSubject = kSubjectPrefix + subject;
    const std::string reportClass = kReportClass, reporter = kReporter;  // the values point into these
    std::vector<SPropValue> props = {
        StringValue(PR_MESSAGE_CLASS, reportClass),
        StringValue(PR_SUBJECT, fullSubject),
        StringValue(PR_ORIGINAL_SUBJECT, subject),
        StringValue(PR_BODY, body),
        StringValue(PR_SENDER_NAME, reporter),
        TimeValue(PR_CLIENT_SUBMIT_TIME, now),
        TimeValue(PR_MESSAGE_DELIVERY_TIME, now),
        TimeValue(PR_REPORT_TIME, now),
    };
    LPSPropValue submitted = nullptr;
    if (SUCCEEDED(HrGetOneProp(original, PR_CLIENT_SUBMIT_TIME, &submitted)))
        props.push_back(TimeValue(PR_ORIGINAL_SUBMIT_TIME, submitted->Value.ft));
    MAPIFreeBuffer(submitted);
    if (const HRESULT hr = report->SetProps(static_cast<ULONG>(props.size()), props.data(), nullptr); FAILED(hr))
        return fail(hr, "The report's properties could not be set");

    if (!reportRecipients.empty()) {
        MapiBuffer<ADRLIST> list;
        if (const SCODE sc = MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(reportRecipients.size())), list.AsVoidOut());
            FAILED(sc))
            return fail(sc, "Out of memory");
        // Each entry gets its own buffer, as the address list convention wants.
        list->cEntries = 0;
        std::vector<MapiBuffer<SPropValue>> keep;
        for (auto& r : reportRecipients) {
            r.values.push_back(StringValue(PR_REPORT_TEXT, r.text));
            LPSPropValue copy = nullptr;
            if (const SCODE sc = ScDupPropset(static_cast<int>(r.values.size()), r.values.data(), MAPIAllocateBuffer, &copy);
                FAILED(sc))
                return fail(sc, "Out of memory");
            keep.emplace_back(copy);
            list->aEntries[list->cEntries++] = ADRENTRY{0, static_cast<ULONG>(r.values.size()), copy};
        }
        if (const HRESULT hr = report->ModifyRecipients(MODRECIP_ADD, list.Get()); FAILED(hr))
            return fail(hr, "The report's recipients could not be set");
    }
    if (const HRESULT hr = report->SaveChanges(0); FAILED(hr)) return fail(hr, "The report could not be saved");
    return S_OK;
}

}  // namespace quillory

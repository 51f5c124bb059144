// The outbound half of a pass: the default store's outgoing queue offered to
// the transports by the recipients' address types.
#include <strings.h>

#include <chrono>
#include <thread>

#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/spooler/spooler.h"

namespace quillory {

namespace {

// The entry ID of the sent-items folder the add-in stamps on a post.
constexpr ULONG PR_POST_SENTMAIL_ENTRYID = 0x65220102;
constexpr const char* kNoTransportText = "No transport provider was available for delivery to this recipient.";

std::string StringProp(IMAPIProp* obj, ULONG tag)
{
    LPSPropValue v = nullptr;
    std::string s;
    if (SUCCEEDED(HrGetOneProp(obj, tag, &v)) && PROP_TYPE(v->ulPropTag) == PT_STRING8 && v->Value.lpszA)
        s = v->Value.lpszA;
    MAPIFreeBuffer(v);
    return s;
}

bool IsWaitResult(HRESULT hr) { return hr == MAPI_E_WAIT || hr == MAPI_E_NETWORK_ERROR; }

// The recipients no transport has taken yet (PR_RESPONSIBILITY FALSE), with
// every column, for offering and for reports.
// Recipients of an address type in `assumed` count as taken: a transport
// took the message without marking them.
HRESULT UnhandledRecipients(IMessage* message, const std::vector<std::string>& assumed, RowSetPtr& rows,
                            std::vector<SRow>& unhandled)
{
    unhandled.clear();
    ComPtr<IMAPITable> table;
    if (const HRESULT hr = message->GetRecipientTable(0, &table); FAILED(hr)) return hr;
    if (const HRESULT hr = table->QueryRows(0x7FFFFFFF, 0, &rows); FAILED(hr)) return hr;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SRow& row = rows->aRow[i];
        const SPropValue* taken = PpropFindProp(row.lpProps, row.cValues, PR_RESPONSIBILITY);
        if (taken && taken->Value.b) continue;
        const SPropValue* type = PpropFindProp(row.lpProps, row.cValues, PR_ADDRTYPE);
        bool covered = false;
        for (const auto& a : assumed)
            covered = covered || a == "*" || (type && strcasecmp(a.c_str(), type->Value.lpszA) == 0);
        if (!covered) unhandled.push_back(row);
    }
    return S_OK;
}

bool CoversAny(const SpoolerTransport& t, const std::vector<SRow>& recipients)
{
    for (const SRow& r : recipients) {
        const SPropValue* type = PpropFindProp(r.lpProps, r.cValues, PR_ADDRTYPE);
        if (!type || PROP_TYPE(type->ulPropTag) != PT_STRING8) continue;
        for (const auto& mine : t.addressTypes)
            if (mine == "*" || strcasecmp(mine.c_str(), type->Value.lpszA) == 0) return true;
    }
    return false;
}

HRESULT OpenMessage(IMsgStore* store, const SBinary& id, ComPtr<IMessage>& out)
{
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    if (const HRESULT hr = store->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), &IID_IMessage, MAPI_MODIFY,
                                            &type, &unk);
        FAILED(hr))
        return hr;
    return unk.As(IID_IMessage, out);
}

// Where a sent message goes: its own PR_SENTMAIL_ENTRYID, else the folder the
// add-in stamped, else the store's sent-items folder.
void ChooseSentFolder(IMsgStore* store, IMessage* message)
{
    if (FPropExists(message, PR_SENTMAIL_ENTRYID) || FPropExists(message, PR_DELETE_AFTER_SUBMIT)) return;
    LPSPropValue folder = nullptr;
    if (FAILED(HrGetOneProp(message, PR_POST_SENTMAIL_ENTRYID, &folder)) &&
        FAILED(HrGetOneProp(store, PR_IPM_SENTMAIL_ENTRYID, &folder)))
        return;
    folder->ulPropTag = PR_SENTMAIL_ENTRYID;
    if (FAILED(message->SetProps(1, folder, nullptr)) || FAILED(message->SaveChanges(KEEP_OPEN_READWRITE)))
        Trace("CSpooler: the sent-items folder could not be set on a message\n");
    MAPIFreeBuffer(folder);
}

}  // namespace

CSpooler::Offer CSpooler::OfferMessage(IMsgStore* store, const SBinary& entryId, SpoolerPassResult& result,
                                       ULONG* waitSeconds)
{
    *waitSeconds = 0;
    ComPtr<IMessage> message;
    if (const HRESULT hr = OpenMessage(store, entryId, message); FAILED(hr)) {
        result.problems.push_back("A queued message could not be opened (" + HexResult(hr) + ")");
        return Offer::Deferred;
    }
    const std::string subject = StringProp(message.Get(), PR_SUBJECT);
    bool taken = false;
    std::vector<std::string> assumed;
    for (auto& t : transports_) {
        if (!t.logon) continue;
        RowSetPtr rows;
        std::vector<SRow> unhandled;
        if (FAILED(UnhandledRecipients(message.Get(), assumed, rows, unhandled)) || unhandled.empty()) break;
        const std::size_t before = unhandled.size();
        if (!CoversAny(t, unhandled)) continue;
        store->SetLockState(message.Get(), MSG_LOCKED);
        ULONG_PTR ref = 0, returnParm = 0;
        const HRESULT hr = t.logon->SubmitMessage(0, message.Get(), &ref, &returnParm);
        store->SetLockState(message.Get(), MSG_UNLOCKED);
        if (hr == S_OK) {
            ULONG endFlags = 0;
            t.logon->EndMessage(ref, &endFlags);
            if (endFlags & (END_RESEND_LATER | END_RESEND_NOW)) {
                *waitSeconds = 0;
                Report(SpoolerProgress::Phase::Deferred, t.display, subject, 0, hr);
                return Offer::Deferred;
            }
            taken = true;
            Report(SpoolerProgress::Phase::Submitted, t.display, subject, result.sent + 1, hr);
            // The transport may have closed the message by saving it.
            if (FAILED(OpenMessage(store, entryId, message))) break;
            RowSetPtr after;
            std::vector<SRow> left;
            if (SUCCEEDED(UnhandledRecipients(message.Get(), assumed, after, left)) && left.size() == before)
                assumed.insert(assumed.end(), t.addressTypes.begin(), t.addressTypes.end());
            continue;
        }
        if (IsWaitResult(hr)) {
            *waitSeconds = static_cast<ULONG>(returnParm);
            Report(SpoolerProgress::Phase::Deferred, t.display, subject, 0, hr);
            return Offer::Deferred;
        }
        if (hr != MAPI_E_NOT_ME)
            result.problems.push_back(t.display + " failed to take \"" + subject + "\" (" + HexResult(hr) + ")");
    }

    RowSetPtr rows;
    std::vector<SRow> unhandled;
    if (SUCCEEDED(UnhandledRecipients(message.Get(), assumed, rows, unhandled)) && !unhandled.empty()) {
        // Every remaining recipient gets the same report text.
        std::vector<std::vector<SPropValue>> values;
        std::vector<SRow> reportRows;
        const std::string text = kNoTransportText;
        for (const SRow& r : unhandled) {
            values.emplace_back(r.lpProps, r.lpProps + r.cValues);
            values.back().push_back(StringValue(PR_REPORT_TEXT, text));
            values.back().push_back(LongValue(PR_NDR_REASON_CODE, MAPI_REASON_TRANSFER_IMPOSSIBLE));
            values.back().push_back(LongValue(PR_NDR_DIAG_CODE, MAPI_DIAG_OR_NAME_UNRECOGNIZED));
        }
        for (auto& v : values) reportRows.push_back(SRow{0, static_cast<ULONG>(v.size()), v.data()});
        std::string error;
        if (const HRESULT hr = WriteNonDeliveryReport(store, message.Get(), reportRows, &error); FAILED(hr))
            result.problems.push_back("No report could be written for \"" + subject + "\": " + error);
        ++result.undeliverable;
        Report(SpoolerProgress::Phase::Undeliverable, {}, subject, result.undeliverable, MAPI_E_NOT_ME);
    }
    if (!taken) return Offer::Unsent;
    ChooseSentFolder(store, message.Get());
    return Offer::Finished;
}

void CSpooler::Outbound(SpoolerPassResult& result)
{
    for (auto& t : transports_) {
        if (!t.logon) continue;
        ULONG flags = NOTIFY_BEGIN_OUTBOUND_FLUSH;
        t.logon->TransportNotify(&flags, nullptr);
        t.logon->FlushQueues(0, 0, nullptr, FLUSH_UPLOAD);
        Report(SpoolerProgress::Phase::Upload, t.display, {}, 0, S_OK);
    }

    ComPtr<IMsgStore> store;
    if (const HRESULT hr = OpenDefaultStore(session_.Get(), store); FAILED(hr)) {
        result.problems.push_back("The default message store could not be opened (" + HexResult(hr) + ")" +
                                  SessionErrorText(session_.Get(), hr));
    } else {
        // Entry IDs first: finishing a message changes the queue under a live table.
        std::vector<std::vector<BYTE>> queued;
        ComPtr<IMAPITable> queue;
        RowSetPtr rows;
        auto columns = MakeTagArray({PR_ENTRYID});
        if (SUCCEEDED(store->GetOutgoingQueue(0, &queue)) && SUCCEEDED(queue->SetColumns(columns.Get(), 0)) &&
            SUCCEEDED(queue->QueryRows(0x7FFFFFFF, 0, &rows))) {
            for (ULONG i = 0; rows && i < rows->cRows; ++i) {
                const SPropValue& v = rows->aRow[i].lpProps[0];
                if (PROP_TYPE(v.ulPropTag) == PT_BINARY) queued.emplace_back(v.Value.bin.lpb, v.Value.bin.lpb + v.Value.bin.cb);
            }
        } else {
            result.problems.push_back("The outgoing queue could not be read");
        }
        for (auto& id : queued) {
            const SBinary bin{static_cast<ULONG>(id.size()), id.data()};
            Offer offer = Offer::Deferred;
            ULONG wait = 0;
            for (ULONG attempt = 0;; ++attempt) {
                offer = OfferMessage(store.Get(), bin, result, &wait);
                if (offer != Offer::Deferred || attempt + 1 >= options_.maxRetriesPerPass ||
                    wait > options_.maxRetryWaitSeconds)
                    break;
                std::this_thread::sleep_for(std::chrono::seconds(wait));
            }
            if (offer == Offer::Finished) {
                const HRESULT done = store->FinishedMsg(0, bin.cb, reinterpret_cast<LPENTRYID>(bin.lpb));
                if (FAILED(done))
                    result.problems.push_back("A sent message could not leave the Outbox (" + HexResult(done) + ")");
                ++result.sent;
            } else if (offer == Offer::Unsent) {
                store->AbortSubmit(bin.cb, reinterpret_cast<LPENTRYID>(bin.lpb), 0);
            } else {
                ++result.deferred;
            }
        }
    }

    for (auto& t : transports_) {
        if (!t.logon) continue;
        ULONG flags = NOTIFY_END_OUTBOUND_FLUSH;
        t.logon->TransportNotify(&flags, nullptr);
    }
}

}  // namespace quillory

// The inbound half of a pass: a transport's download and the StartMessage
// calls while its status row shows inbound activity.
#include "platform/base/trace.h"
#include "platform/mapi/spooler/spooler.h"

namespace quillory {

namespace {

// The Inbox of the store: the folder that receives plain notes.
HRESULT OpenInbox(IMsgStore* store, ComPtr<IMAPIFolder>& out)
{
    ULONG cb = 0;
    MapiBuffer<ENTRYID> id;
    if (const HRESULT hr = store->GetReceiveFolder(const_cast<LPSTR>("IPM.Note"), 0, &cb, &id, nullptr); FAILED(hr))
        return hr;
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    if (const HRESULT hr = store->OpenEntry(cb, id.Get(), &IID_IMAPIFolder, MAPI_MODIFY, &type, &unk); FAILED(hr))
        return hr;
    return unk.As(IID_IMAPIFolder, out);
}

}  // namespace

void CSpooler::Inbound(SpoolerTransport& t, SpoolerPassResult& result)
{
    ULONG flags = NOTIFY_BEGIN_INBOUND_FLUSH;
    t.logon->TransportNotify(&flags, nullptr);
    Report(SpoolerProgress::Phase::Download, t.display, {}, 0, S_OK);
    t.logon->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD);

    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> inbox;
    ULONG count = 0;
    ULONG calls = 0;
    while (t.support->StatusCode() & STATUS_INBOUND_ACTIVE) {
        if (calls >= options_.maxInboundMessages) {
            result.problems.push_back(t.display + " kept receiving after " + std::to_string(calls) +
                                      " calls in one pass; the pass left it");
            Report(SpoolerProgress::Phase::InboundCapped, t.display, {}, count, MAPI_E_CALL_FAILED);
            break;
        }
        if (!inbox) {
            HRESULT hr = OpenDefaultStore(session_.Get(), store);
            if (SUCCEEDED(hr)) hr = OpenInbox(store.Get(), inbox);
            if (FAILED(hr)) {
                result.problems.push_back("The Inbox could not be opened for " + t.display + " (" + HexResult(hr) + ")" +
                                          SessionErrorText(session_.Get(), hr));
                break;
            }
        }
        // The transport files what it receives itself; what it leaves unsaved goes.
        ComPtr<IMessage> message;
        if (const HRESULT hr = inbox->CreateMessage(nullptr, 0, &message); FAILED(hr)) {
            result.problems.push_back("No message could be made for " + t.display + " (" + HexResult(hr) + ")");
            break;
        }
        ULONG_PTR ref = 0;
        const HRESULT hr = t.logon->StartMessage(0, message.Get(), &ref);
        ++calls;
        // A call that found nothing to receive (the last one of a pass) sets
        // no message reference and is not a message.
        if (ref != 0) {
            ++count;
            ++result.received;
            Report(SpoolerProgress::Phase::Received, t.display, {}, count, hr);
        }
        if (FAILED(hr)) {
            result.problems.push_back(t.display + " failed to deliver a message (" + HexResult(hr) + ")");
            break;
        }
    }

    flags = NOTIFY_END_INBOUND_FLUSH;
    t.logon->TransportNotify(&flags, nullptr);
}

}  // namespace quillory

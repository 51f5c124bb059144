// The spooler: runs the transport providers of a session's profile.
//
// Start loads every transport provider of the profile's services (the
// library PR_PROVIDER_DLL_NAME names, with the "32" rule, through
// LoadLibrary), calls its "XPProviderInit" once per library, logs each
// provider on with its own support object (support.h) and asks for its
// address types and options. A transport that cannot be loaded or logged on
// gets a status row saying why (STATUS_FAILURE) and takes no part in passes.
//
// A send-and-receive pass (RunPass), for the transports that logged on:
//  1. TransportNotify(NOTIFY_BEGIN_INBOUND | NOTIFY_BEGIN_OUTBOUND).
//  2. Outbound: TransportNotify(NOTIFY_BEGIN_OUTBOUND_FLUSH) and
//     FlushQueues(FLUSH_UPLOAD) for each; then every message on the default
//     store's outgoing queue is offered to the transports whose address types
//     cover one of its recipients not yet handled, in logon order.
//     S_OK: EndMessage, the next transport for recipients still unhandled;
//     MAPI_E_WAIT / MAPI_E_NETWORK_ERROR: the message stays queued and is
//     tried again after the seconds the transport returned, within the pass
//     when that is at most SpoolerOptions::maxRetryWaitSeconds, else in the
//     next pass; MAPI_E_NOT_ME: the next transport. Recipients that no
//     transport took get a non-delivery report. A message some transport
//     took is finished (FinishedMsg: moved to the folder PR_SENTMAIL_ENTRYID
//     names, else to the one the add-in stamped as 0x65220102, else to the
//     store's sent-items folder; or deleted with PR_DELETE_AFTER_SUBMIT); one
//     that none took leaves the queue and stays in the Outbox, unsent.
//     Then TransportNotify(NOTIFY_END_OUTBOUND_FLUSH) for each.
//  3. Inbound, per transport: TransportNotify(NOTIFY_BEGIN_INBOUND_FLUSH),
//     FlushQueues(FLUSH_DOWNLOAD), then StartMessage with a new message of
//     the default store's Inbox while the transport's status row shows
//     STATUS_INBOUND_ACTIVE. The transport files what it receives itself: a
//     message it does not save is discarded. At most
//     SpoolerOptions::maxInboundMessages calls per pass; a transport that
//     keeps inbound active beyond that is reported and left.
//     Then TransportNotify(NOTIFY_END_INBOUND_FLUSH).
// Stop: TransportNotify(NOTIFY_END_INBOUND | NOTIFY_END_OUTBOUND),
// TransportLogoff, release of the logons and providers (Shutdown), and the
// libraries freed; the destructor stops a started spooler.
//
// Everything runs on the calling thread; the transports pump that thread's
// messages while they wait.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/wintypes.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapispi.h"
#include "platform/mapi/spooler/support.h"

namespace quillory {

// "0x8004010F" and the like.
std::string HexResult(HRESULT hr);

struct SpoolerOptions {
    ULONG maxRetryWaitSeconds = 5;      // longer waits go to the next pass
    ULONG maxRetriesPerPass = 3;        // per message
    ULONG maxInboundMessages = 100000;  // StartMessage calls per transport and pass
    ULONG logonFlags = LOGON_NO_DIALOG;
};

// What a pass reports while it runs.
struct SpoolerProgress {
    enum class Phase { Begin, Upload, Submitted, Deferred, Undeliverable, Download, Received, InboundCapped, End };
    Phase phase = Phase::Begin;
    std::string transport;  // the provider's display name, empty for the whole pass
    std::string subject;    // the message's, for outbound steps
    ULONG count = 0;        // messages so far in this phase (received: those a transport handled)
    HRESULT result = S_OK;
};

// One transport as the spooler sees it.
struct SpoolerTransport {
    MAPIUID provider{};
    MAPIUID service{};
    std::string display;
    std::string dllName;     // as the profile names it ("quarnex.dll")
    HRESULT logonResult = S_OK;
    std::string logonError;  // why it did not log on
    std::vector<std::string> addressTypes;
    ComPtr<CMAPISupport> support;
    ComPtr<IXPLogon> logon;  // null when it did not log on
};

struct SpoolerPassResult {
    ULONG sent = 0;           // messages finished after a transport took them
    ULONG deferred = 0;       // messages left queued for a later pass
    ULONG undeliverable = 0;  // messages with a non-delivery report
    ULONG received = 0;       // StartMessage calls that handled a message (set its reference)
    std::vector<std::string> problems;  // one sentence each
};

class CSpooler {
public:
    explicit CSpooler(LPMAPISESSION session, SpoolerOptions options = {});
    ~CSpooler();
    CSpooler(const CSpooler&) = delete;
    CSpooler& operator=(const CSpooler&) = delete;

    void SetProgressObserver(std::function<void(const SpoolerProgress&)> observer);

    // Loads and logs on the transports. S_OK also when some (or all) failed:
    // see each transport's logonResult. A failure means the profile could not
    // be read.
    HRESULT Start(std::string* error = nullptr);
    HRESULT RunPass(SpoolerPassResult* result = nullptr);
    // The inbound half alone (steps 1 and 3, inbound notifications only), as a
    // mail client asks for it when a remote transport is to refresh or process
    // its header table: no outbound flush, which would end that operation.
    HRESULT RunInboundPass(SpoolerPassResult* result = nullptr);
    void Stop();

    const std::vector<SpoolerTransport>& Transports() const { return transports_; }
    // The status object of a logged-on transport (IXPLogon::OpenStatusEntry).
    HRESULT OpenStatus(std::size_t index, ComPtr<IMAPIStatus>& out);

private:
    struct Library;
    HRESULT LoadProvider(const std::string& dllName, ComPtr<IXPProvider>& out, std::string* error);
    void LogOn(SpoolerTransport& t);
    HRESULT Pass(SpoolerPassResult* out, bool outbound);
    void Report(SpoolerProgress::Phase phase, const std::string& transport, const std::string& subject, ULONG count,
                HRESULT result);
    // Outbound (spooler_outbound.cpp).
    void Outbound(SpoolerPassResult& result);
    enum class Offer { Finished, Deferred, Unsent };
    Offer OfferMessage(IMsgStore* store, const SBinary& entryId, SpoolerPassResult& result, ULONG* waitSeconds);
    // Inbound (spooler_inbound.cpp).
    void Inbound(SpoolerTransport& t, SpoolerPassResult& result);

    ComPtr<IMAPISession> session_;
    const SpoolerOptions options_;
    std::function<void(const SpoolerProgress&)> observer_;
    std::vector<std::unique_ptr<Library>> libraries_;
    std::vector<SpoolerTransport> transports_;
    bool started_ = false;
};

}  // namespace quillory

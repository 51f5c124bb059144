#include "provider/posting/submit_post.h"

#include <array>
#include <strings.h>

#include "common/account_props.h"
#include "common/grouplist.h"
#include "common/news_message_props.h"
#include "common/regstore.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"
#include "platform/inetcomm/nntp/nntp_transport.h"
#include "provider/posting/post_article.h"

namespace quillory::quarnex {

namespace {

// The recipient columns, in the order their positions are used.
enum RecipColumn : ULONG {
    kRowId,
    kDisplayName,
    kEmailAddress,
    kAddrType,
    kRecipientType,
    kResponsibility,
    kDeliverTime,
    kReportTime,
    kReportText,
    kRecipColumns
};
constexpr LONG kAllRows = 0x7FFFFFFF;
constexpr const char* kSmtpAddressType = "SMTP";

bool IsNewsRecipient(const SRow& row)
{
    const SPropValue& type = row.lpProps[kAddrType];
    return type.ulPropTag == PR_ADDRTYPE && type.Value.lpszA && strcasecmp(type.Value.lpszA, kNewsAddressType) == 0;
}

const char* Newsgroup(const SRow& row)
{
    const SPropValue& v = row.lpProps[kEmailAddress];
    return v.ulPropTag == PR_EMAIL_ADDRESS && v.Value.lpszA ? v.Value.lpszA : nullptr;
}

HRESULT ReadRecipients(IMessage* message, RowSetPtr& rows)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = message->GetRecipientTable(0, &table);
    if (FAILED(hr)) return hr;
    // Recipients no transport has taken yet. A recipient without
    // PR_RESPONSIBILITY counts as not taken: not every submitting client
    // clears it before handing the message over.
    SPropValue responsible{};
    responsible.ulPropTag = PR_RESPONSIBILITY;
    responsible.Value.b = TRUE;
    SRestriction taken{};
    taken.rt = RES_PROPERTY;
    taken.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_RESPONSIBILITY, &responsible};
    SRestriction r{};
    r.rt = RES_NOT;
    r.res.resNot = SNotRestriction{0, &taken};
    if (FAILED(hr = table->Restrict(&r, 0))) return hr;
    auto columns = MakeTagArray({PR_ROWID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_RECIPIENT_TYPE,
                                 PR_RESPONSIBILITY, PR_DELIVER_TIME, PR_REPORT_TIME, PR_REPORT_TEXT});
    if (!columns) return E_OUTOFMEMORY;
    if (FAILED(hr = table->SetColumns(columns.Get(), 0))) return hr;
    if (FAILED(hr = table->QueryRows(kAllRows, 0, &rows))) return hr;
    // Rows with fewer columns than asked for cannot be told apart.
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
        if (rows->aRow[i].cValues < kRecipColumns) return MAPI_E_CALL_FAILED;
    return rows ? S_OK : MAPI_E_CALL_FAILED;
}

// The account's group-list file in "DIR"; empty without its name.
std::string ListFilePath(const SPropValue* account)
{
    if (!account || !acct::HasExpectedTag(acct::kGroupListFile, account[acct::kGroupListFile].ulPropTag)) return {};
    return DataFilePath(account[acct::kGroupListFile].Value.lpszA);
}

bool Accepted(IPostingLogon& logon, IMessage* message, std::string_view newsgroup)
{
    const SPropValue* account = logon.AccountProps();
    if (!NewsgroupAvailable(ListFilePath(account), newsgroup, logon.PostUnsubscribed())) return false;
    if (!account || !acct::HasExpectedTag(acct::kAccountName, account[acct::kAccountName].ulPropTag)) return false;
    MapiBuffer<SPropValue> stamp;
    if (FAILED(HrGetOneProp(message, PR_CORVANE_POST_ACCOUNT, &stamp)) || stamp->ulPropTag != PR_CORVANE_POST_ACCOUNT)
        return false;
    return std::string_view(stamp->Value.lpszA) == account[acct::kAccountName].Value.lpszA;
}

// The sender becomes the account's identity where it differs from it.
void ForceSender(IPostingLogon& logon, IMessage* message)
{
    const SPropValue* account = logon.AccountProps();
    const SPropValue* senderEntryId = logon.SenderEntryId();
    if (!account || !senderEntryId || !acct::HasExpectedTag(acct::kEmailAddress, account[acct::kEmailAddress].ulPropTag) ||
        !acct::HasExpectedTag(acct::kUserName, account[acct::kUserName].ulPropTag))
        return;
    auto tags = MakeTagArray({PR_SENDER_ADDRTYPE, PR_SENDER_EMAIL_ADDRESS, PR_SENDER_NAME});
    ULONG count = 0;
    MapiBuffer<SPropValue> current;
    if (!tags || FAILED(message->GetProps(tags.Get(), 0, &count, &current)) || count != 3) return;
    const std::array<const char*, 3> wanted = {kSmtpAddressType, account[acct::kEmailAddress].Value.lpszA,
                                               account[acct::kUserName].Value.lpszA};
    std::array<SPropValue, 4> values{};
    bool replaced = false;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const SPropValue& v = current.Get()[i];
        values[i].ulPropTag = tags->aulPropTag[i];
        values[i].Value.lpszA = const_cast<LPSTR>(wanted[i]);
        const bool same = v.ulPropTag == tags->aulPropTag[i] && v.Value.lpszA && strcasecmp(v.Value.lpszA, wanted[i]) == 0;
        replaced = replaced || !same;
    }
    if (!replaced) return;
    values[3] = *senderEntryId;
    values[3].ulPropTag = PR_SENDER_ENTRYID;
    if (FAILED(message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr)))
        Trace("SubmitPost -- sender not set\n");
}

// Failures of the connection rather than answers of the server: the post is
// tried again later instead of being reported undeliverable, whether or not
// the downloader noticed that its connection is gone.
bool ConnectionFailure(const PostOutcome& outcome)
{
    if (outcome.disconnected) return true;
    switch (outcome.result) {
    case IXP_E_CONN:
    case IXP_E_NOT_CONNECTED:
    case IXP_E_CONN_SEND:
    case IXP_E_CONN_RECV:
    case IXP_E_CANT_FIND_HOST:
    case IXP_E_FAILED_TO_CONNECT:
    case IXP_E_CONNECTION_DROPPED:
    case IXP_E_SOCKET_READ_ERROR:
    case IXP_E_SOCKET_WRITE_ERROR:
    case IXP_E_SOCKET_INIT_ERROR:
    case IXP_E_SOCKET_CONNECT_ERROR:
    case IXP_E_TIMEOUT:
    case IXP_E_SECURE_CONNECT_FAILED: return true;
    default: return false;
    }
}

// The one outcome of the post on every newsgroup recipient, then
// StatusRecips for a failure.
HRESULT ReportOutcome(IPostingLogon& logon, IMessage* message, SRowSet& rows, const FILETIME& submitted, bool posted,
                      const std::string& errorText)
{
    for (ULONG i = 0; i < rows.cRows; ++i) {
        SRow& row = rows.aRow[i];
        if (!IsNewsRecipient(row)) continue;
        SPropValue* p = row.lpProps;
        p[kResponsibility].ulPropTag = PR_RESPONSIBILITY;
        p[kResponsibility].Value.b = TRUE;
        p[kReportTime].ulPropTag = PR_REPORT_TIME;
        p[kReportTime].Value.ft = submitted;
        if (posted) {
            p[kDeliverTime].ulPropTag = PR_DELIVER_TIME;
            p[kDeliverTime].Value.ft = submitted;
            p[kReportText].ulPropTag = CHANGE_PROP_TYPE(PR_REPORT_TEXT, PT_ERROR);
            p[kReportText].Value.err = MAPI_E_NOT_FOUND;
            continue;
        }
        p[kDeliverTime].ulPropTag = PR_NULL;
        LPSTR text = nullptr;
        if (SUCCEEDED(MAPIAllocateMore(static_cast<ULONG>(errorText.size() + 1), p, reinterpret_cast<void**>(&text)))) {
            std::copy(errorText.begin(), errorText.end(), text);
            text[errorText.size()] = '\0';
            p[kReportText].ulPropTag = PR_REPORT_TEXT;
            p[kReportText].Value.lpszA = text;
        } else {
            p[kReportText].ulPropTag = CHANGE_PROP_TYPE(PR_REPORT_TEXT, PT_ERROR);
            p[kReportText].Value.err = E_FAIL;
        }
    }
    // A row set and an address list share their layout.
    auto* list = reinterpret_cast<LPADRLIST>(&rows);
    HRESULT hr = message->ModifyRecipients(MODRECIP_MODIFY, list);
    if (FAILED(hr)) return hr;
    if (!posted && logon.Support()) hr = logon.Support()->StatusRecips(message, list);
    return hr;
}

// Converts and posts. S_OK when the recipients carry the outcome;
// MAPI_E_WAIT / MAPI_E_NETWORK_ERROR for a retry; other failures are final.
HRESULT Post(IPostingLogon& logon, IMessage* message, SRowSet& rows)
{
    std::vector<std::string> groups;
    for (ULONG i = 0; i < rows.cRows; ++i) {
        const char* group = Newsgroup(rows.aRow[i]);
        if (IsNewsRecipient(rows.aRow[i]) && group && Accepted(logon, message, group)) groups.emplace_back(group);
    }
    std::string article;
    HRESULT hr = posting::MakeArticle(message, logon.AccountProps(), groups, article);
    if (FAILED(hr)) return hr;

    FILETIME submitted{};
    GetSystemTimeAsFileTime(&submitted);
    PostOutcome outcome;
    if (!article.empty()) {
        outcome = logon.PostArticle(article);
        // Without an answer from the server the post is tried again later.
        if (FAILED(outcome.result) && ConnectionFailure(outcome)) return MAPI_E_NETWORK_ERROR;
    }
    const bool posted = !article.empty() && SUCCEEDED(outcome.result);
    if (!posted && outcome.errorText.empty()) outcome.errorText = kUnknownPostError;
    Trace("SubmitPost -- %s %s\n", posted ? "posted" : "refused:", posted ? "" : outcome.errorText.c_str());
    return ReportOutcome(logon, message, rows, submitted, posted, outcome.errorText);
}

}  // namespace

HRESULT SubmitPost(IPostingLogon& logon, IMessage* message, ULONG_PTR* returnParm)
{
    if (!message) return MAPI_E_NOT_ME;
    RowSetPtr rows;
    if (FAILED(ReadRecipients(message, rows))) return MAPI_E_NOT_ME;
    const SRow* first = nullptr;
    for (ULONG i = 0; i < rows->cRows && !first; ++i)
        if (IsNewsRecipient(rows->aRow[i])) first = &rows->aRow[i];
    if (!first || !Newsgroup(*first)) return MAPI_E_NOT_ME;

    logon.RefreshProfileValues();
    if (!Accepted(logon, message, Newsgroup(*first))) return MAPI_E_NOT_ME;
    ULONG status = logon.StatusCode();
    if ((status & STATUS_OUTBOUND_ENABLED) == 0) return MAPI_E_NOT_ME;
    if ((status & (STATUS_OUTBOUND_ACTIVE | STATUS_OUTBOUND_FLUSH)) == 0)
        logon.UpdateStatusCode(status | STATUS_OUTBOUND_ACTIVE | STATUS_OUTBOUND_FLUSH);

    ForceSender(logon, message);
    const HRESULT hr = Post(logon, message, *rows.Get());
    if (hr == MAPI_E_WAIT || hr == MAPI_E_NETWORK_ERROR) {
        if (returnParm) *returnParm = kPostRetrySeconds;
        return hr;
    }
    if (FAILED(hr)) {
        Trace("SubmitPost -- failed: %08x\n", static_cast<unsigned>(hr));
        return MAPI_E_NOT_ME;
    }

    MapiBuffer<SPropValue> sentFolder;
    if (SUCCEEDED(HrGetOneProp(message, PR_CORVANE_SENTMAIL_ENTRYID, &sentFolder)) &&
        sentFolder->ulPropTag == PR_CORVANE_SENTMAIL_ENTRYID) {
        SPropValue v = *sentFolder.Get();
        v.ulPropTag = PR_SENTMAIL_ENTRYID;
        if (FAILED(HrSetOneProp(message, &v))) Trace("SubmitPost -- sent folder not set\n");
    }
    if (FAILED(message->SaveChanges(0))) Trace("SubmitPost -- SaveChanges failed\n");
    return S_OK;
}

}  // namespace quillory::quarnex

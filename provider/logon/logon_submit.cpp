// SubmitMessage: which outgoing messages are this account's posts. Turning a
// post into an article and sending it belongs to the posting code
// (provider/posting/), which is not part of this library yet: a post for this
// account is answered with a failure report per newsgroup recipient, so the
// user gets a non-delivery report instead of a message stuck in the Outbox.
#include <cstring>
#include <strings.h>
#include <utility>

#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"
#include "provider/logon/xp_logon.h"
#include "provider/settings/account_settings.h"

namespace quillory {

namespace {

// The account name the add-in stamps on a post.
constexpr ULONG PR_POST_ACCOUNT_NAME = 0x6523001E;

enum RecipColumn : ULONG {
    kColRowId, kColDisplayName, kColEmail, kColAddrType, kColRecipType,
    kColResponsibility, kColDeliverTime, kColReportTime, kColReportText, kColCount
};

constexpr char kPostingUnavailableText[] =
    "The news transport cannot post articles yet; the message was not sent to the newsgroup.";

// Owns a row set until handed on.
struct OwnedRows {
    LPSRowSet rows = nullptr;
    ~OwnedRows() { FreeProws(rows); }
    LPSRowSet operator->() const { return rows; }
    LPSRowSet Release() { return std::exchange(rows, nullptr); }
};

bool IsNntpRow(const SRow& row)
{
    const SPropValue& type = row.lpProps[kColAddrType];
    return type.ulPropTag == PR_ADDRTYPE && strcasecmp(type.Value.lpszA, kAddressType) == 0;
}

}  // namespace

HRESULT CXPLogon::SubmitMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef, ULONG_PTR* lpulReturnParm)
{
    if (!lpMessage) return MAPI_E_NOT_ME;
    ComPtr<IMAPITable> table;
    if (FAILED(lpMessage->GetRecipientTable(0, &table)) || !table) return MAPI_E_NOT_ME;
    SPropValue notResponsible{};
    notResponsible.ulPropTag = PR_RESPONSIBILITY;
    notResponsible.Value.b = 0;
    SRestriction restriction{};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_RESPONSIBILITY, &notResponsible};
    SizedSPropTagArray<kColCount> columns{kColCount,
                                          {PR_ROWID, PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_RECIPIENT_TYPE,
                                           PR_RESPONSIBILITY, PR_DELIVER_TIME, PR_REPORT_TIME, PR_REPORT_TEXT}};
    OwnedRows rows;
    if (FAILED(table->Restrict(&restriction, 0)) || FAILED(table->SetColumns(columns.AsTagArray(), 0)) ||
        FAILED(table->QueryRows(0x7FFFFFFF, 0, &rows.rows)) || !rows.rows)
        return MAPI_E_NOT_ME;

    const SRow* first = nullptr;
    for (ULONG i = 0; i < rows->cRows && !first; ++i)
        if (rows->aRow[i].cValues == kColCount && IsNntpRow(rows->aRow[i])) first = &rows->aRow[i];
    if (!first || first->lpProps[kColEmail].ulPropTag != PR_EMAIL_ADDRESS) return MAPI_E_NOT_ME;

    RefreshProfileValues();
    // A post carries the name of the account it was written for; another
    // account's transport takes it.
    const char* accountName = AccountString(account_.Get(), acct::kAccountName);
    quarnex::ProviderBuffer<SPropValue> stamped;
    if (!accountName || FAILED(HrGetOneProp(lpMessage, PR_POST_ACCOUNT_NAME, stamped.Out())) ||
        std::strcmp(stamped->Value.lpszA, accountName) != 0)
        return MAPI_E_NOT_ME;
    if (!(statusCode_ & STATUS_OUTBOUND_ENABLED)) return MAPI_E_NOT_ME;
    if (!(statusCode_ & kOutboundBusyBits)) {
        statusCode_ |= kOutboundBusyBits;
        UpdateStatusRow(false);
    }

    Trace("CXPLogon::SubmitMessage -- posting is not available, reporting failure\n");
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    for (ULONG i = 0; i < rows->cRows; ++i) {
        SRow& row = rows->aRow[i];
        if (row.cValues != kColCount || !IsNntpRow(row)) continue;
        row.lpProps[kColResponsibility].ulPropTag = PR_RESPONSIBILITY;
        row.lpProps[kColResponsibility].Value.b = 1;
        row.lpProps[kColReportTime].ulPropTag = PR_REPORT_TIME;
        row.lpProps[kColReportTime].Value.ft = now;
        row.lpProps[kColDeliverTime].ulPropTag = PR_NULL;
        SPropValue& text = row.lpProps[kColReportText];
        void* p = nullptr;
        if (SUCCEEDED(MAPIAllocateMore(sizeof kPostingUnavailableText, row.lpProps, &p))) {
            std::memcpy(p, kPostingUnavailableText, sizeof kPostingUnavailableText);
            text.ulPropTag = PR_REPORT_TEXT;
            text.Value.lpszA = static_cast<LPSTR>(p);
        } else {
            text.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(PR_REPORT_TEXT));
            text.Value.err = E_FAIL;
        }
    }
    const LPADRLIST list = reinterpret_cast<LPADRLIST>(rows.rows);
    if (const HRESULT hr = lpMessage->ModifyRecipients(MODRECIP_MODIFY, list); FAILED(hr))
        Trace("CXPLogon::SubmitMessage -- ModifyRecipients: 0x%08X\n", static_cast<unsigned>(hr));
    // The list belongs to MAPI from here on, as StatusRecips takes it over.
    if (const HRESULT hr = support_->StatusRecips(lpMessage, reinterpret_cast<LPADRLIST>(rows.Release())); FAILED(hr))
        Trace("CXPLogon::SubmitMessage -- StatusRecips: 0x%08X\n", static_cast<unsigned>(hr));
    return S_OK;
}

}  // namespace quillory

// Outbound posting: the logon's SubmitMessage. Decides whether a message is
// a post for this account, turns it into an Internet article with the host's
// MAPI-to-MIME converter, edits its header for news, posts it through the
// logon's downloader and reports the outcome on the recipients.
//
// A post is a message with recipients of address type "NNTP" whose e-mail
// addresses are newsgroup names, stamped by the add-in with the account name
// (0x6523001E) and the sent-items folder (0x65220102). One article is posted
// for all its newsgroups.
//
// Results of SubmitPost (the logon returns them from SubmitMessage):
// - S_OK: posted, or refused by the server; the recipients carry the outcome
//   and a refusal went to StatusRecips, from which the spooler makes a
//   non-delivery report with the server's text.
// - MAPI_E_NOT_ME: not a post for this logon (no NNTP recipient, newsgroup not
//   available for posting, another account's stamp, outbound disabled), or a
//   permanent failure of the conversion; the message is untouched.
// - MAPI_E_WAIT (converter missing) / MAPI_E_NETWORK_ERROR (no connection to
//   the server, or lost before it answered): *returnParm = 15, the spooler
//   retries after 15 seconds. A post the server accepted is never retried.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapispi.h"
#include "platform/mapi/mapix.h"

namespace quillory::quarnex {

// Seconds after which the spooler retries a post that could not be sent.
constexpr ULONG kPostRetrySeconds = 15;
// Conversion buffer: this size, or one and a half times PR_MESSAGE_SIZE when
// two thirds of PR_MESSAGE_SIZE exceed it.
constexpr ULONG kPostBufferSize = 1'000'000;
// Read-back block size of the saved article.
constexpr ULONG kPostReadBlock = 10240;
// The report text of a failed post for which the server gave none.
constexpr std::string_view kUnknownPostError = "Unknown NNTP delivery error";

// The X-Transport header (string-table texts 6113 and 6114); the banner is
// formatted with the provider's version "%i.%i".
constexpr UINT IDS_XTRANSPORT_HEADER = 6113;
constexpr UINT IDS_XTRANSPORT_BANNER = 6114;

// Body kinds, from the decompressed RTF's first "\from" control word.
enum class BodyKind { PlainText = 0, Rtf = 1, Html = 2 };

// How a post came out of the downloader.
struct PostOutcome {
    // S_OK only when the server accepted the article.
    HRESULT result = E_FAIL;
    // The server's response or the problem text; may be empty.
    std::string errorText;
    // The downloader existed and reports its connection lost: the post is
    // retried later instead of being reported failed.
    bool disconnected = false;
};

// What posting needs of the logon that calls it.
class IPostingLogon {
public:
    // The 31-value account settings array, or null.
    virtual const SPropValue* AccountProps() = 0;
    // The logon's PR_SENDER_ENTRYID value, or null.
    virtual const SPropValue* SenderEntryId() = 0;
    // Registry value "PostUnsubscribed" of the profile.
    virtual DWORD PostUnsubscribed() = 0;
    // Reopens the profile sections and resolves the base folder.
    virtual HRESULT RefreshProfileValues() = 0;
    virtual ULONG StatusCode() = 0;
    // Sets the status code and updates the status row.
    virtual void UpdateStatusCode(ULONG code) = 0;
    // For StatusRecips.
    virtual IMAPISupport* Support() = 0;
    // Ensures the downloader, starts PostArticle with the article text, waits
    // until the job finished (pumping messages) and collects GetError and
    // IsDisconnected. When the downloader cannot be made or the post not
    // started, the failure with an empty text.
    virtual PostOutcome PostArticle(std::string_view articleText) = 0;

protected:
    ~IPostingLogon() = default;
};

// SubmitMessage for `message`; see the results above.
HRESULT SubmitPost(IPostingLogon& logon, IMessage* message, ULONG_PTR* returnParm);

// ---- Pieces, exposed for the host and for tests ---------------------------------

// Whether `newsgroup` may be posted to from this account by the group-list
// file at `listPath` and its subscribed-groups file ("-sub.txt").
bool NewsgroupAvailable(const std::string& listPath, std::string_view newsgroup, DWORD postUnsubscribed);

// The body kind of RTF text (the first 65536 bytes of the decompressed RTF).
BodyKind BodyKindOfRtf(std::string_view rtf);

// The conversion buffer size for a message of `messageSize` bytes.
ULONG PostBufferSize(ULONG messageSize);

}  // namespace quillory::quarnex

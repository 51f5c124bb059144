// The MIME/MAPI converter session: turns an Internet message (RFC 5322 with
// MIME) into the properties, body and attachments of a MAPI message, and a
// MAPI message into an Internet message. Created with CoCreateInstance
// (CLSID_IConverterSession); served by "mapi32.dll" (libqmapi.so).
//
// MIMEToMAPI sets: PR_SUBJECT (RFC 2047 decoded), PR_SENDER_NAME/EMAIL_ADDRESS/
// ADDRTYPE and PR_SENT_REPRESENTING_NAME/EMAIL_ADDRESS/ADDRTYPE from From
// (address type "SMTP"), PR_CLIENT_SUBMIT_TIME from Date, PR_INTERNET_MESSAGE_ID,
// PR_IN_REPLY_TO_ID, PR_INTERNET_REFERENCES, PR_TRANSPORT_MESSAGE_HEADERS (the
// header block as received), PR_BODY (the plain text in the system code
// page), PR_HTML (the HTML part's bytes), one attachment per other part and
// per uuencoded block of a plain body (PR_ATTACH_METHOD ATTACH_BY_VALUE,
// PR_ATTACH_FILENAME/LONG_FILENAME, PR_ATTACH_MIME_TAG, PR_ATTACH_DATA_BIN),
// and PR_MESSAGE_FLAGS (MSGFLAG_HASATTACH when there are attachments; never
// MSGFLAG_READ). PR_MESSAGE_DELIVERY_TIME is left to the caller. The message is
// not saved.
//
// MAPIToMIMEStm writes PR_BODY as text/plain, with PR_HTML as
// multipart/alternative, attachments as further parts, in the encoding and
// wrapping asked for. Recipients of address type "NNTP" do not become To.
#pragma once

#include "platform/com/stream.h"
#include "platform/com/unknwn.h"
#include "platform/inetcomm/mime/mime_services.h"
#include "platform/mapi/mapix.h"

constexpr CLSID CLSID_IConverterSession = {0x4E3A7680, 0xB77A, 0x11D0, {0x9D, 0xA5, 0x00, 0xC0, 0x4F, 0xD6, 0x56, 0x85}};
constexpr IID IID_IConverterSession = {0x4B401570, 0xB77B, 0x11D0, {0x9D, 0xA5, 0x00, 0xC0, 0x4F, 0xD6, 0x56, 0x85}};

// Conversion flags.
constexpr ULONG CCSF_SMTP = 0x0002;              // the message is an SMTP/Internet message
constexpr ULONG CCSF_NOHEADERS = 0x0004;         // MAPIToMIME: body parts only, no message header
constexpr ULONG CCSF_USE_TNEF = 0x0010;          // accepted; TNEF is never written here
constexpr ULONG CCSF_INCLUDE_BCC = 0x0020;       // Bcc recipients become a Bcc header
constexpr ULONG CCSF_8BITHEADERS = 0x0040;       // header texts may carry 8-bit characters as they are
constexpr ULONG CCSF_USE_RTF = 0x0080;           // accepted; bodies come from PR_BODY and PR_HTML
constexpr ULONG CCSF_PLAIN_TEXT_ONLY = 0x1000;   // MAPIToMIME: no HTML part
constexpr ULONG CCSF_NO_MSGID = 0x4000;          // MAPIToMIME: no Message-ID header
constexpr ULONG CCSF_EMBEDDED_MESSAGE = 0x8000;  // accepted
constexpr ULONG CCSF_PRESERVE_SOURCE = 0x40000;  // accepted
constexpr ULONG CCSF_GLOBAL_MESSAGE = 0x200000;  // accepted

enum MIMESAVETYPE : int {
    SAVE_RFC822 = 0,   // no MIME structure: plain text with uuencoded attachments
    SAVE_RFC1521 = 1,  // MIME (the default)
};

enum CSETAPPLYTYPE : int {
    CSET_APPLY_UNTAGGED = 0,
    CSET_APPLY_ALL = 1,
    CSET_APPLY_TAG_ALL = 2,
};

class IConverterSession : public IUnknown {
public:
    // The address book that resolves recipients; optional.
    virtual HRESULT SetAdrBook(LPADRBOOK pAdrBook) = 0;
    // Body transfer encoding for MAPIToMIME: IET_QP, IET_BASE64, IET_7BIT,
    // IET_8BIT, or IET_UUENCODE (which also means SAVE_RFC822). Other values:
    // E_INVALIDARG. Without a call, the converter picks 7bit when the text is
    // ASCII with short lines, else quoted-printable.
    virtual HRESULT SetEncoding(ENCODINGTYPE et) = 0;
    // Reads the Internet message from the stream's current position into pmsg.
    // pszSrcSrv is ignored. MAPI_E_INVALID_PARAMETER without stream or message.
    virtual HRESULT MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR pszSrcSrv, ULONG ulFlags) = 0;
    // Writes the Internet message for pmsg at the stream's current position.
    virtual HRESULT MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) = 0;
    // Plain text is wrapped at ulWrapWidth columns (when fWrapText) on output.
    virtual HRESULT SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth) = 0;
    virtual HRESULT SetSaveFormat(MIMESAVETYPE mstSaveFormat) = 0;
    // The character set text is written in by MAPIToMIME (a handle of the
    // component's IMimeInternational); without one: us-ascii when the text is
    // ASCII, else the system code page's set.
    virtual HRESULT SetCharset(BOOL fApply, HCHARSET hcharset, CSETAPPLYTYPE csetapplytype) = 0;
};
using LPCONVERTERSESSION = IConverterSession*;

// The asynchronous NNTP transport of the Internet mail and news component
// ("inetcomm.dll"), in the shape its callers know from home.
//
// A transport is created with CreateNNTPTransport and bound to a callback with
// InitNew. Socket work runs on the transport's own I/O thread; every callback
// is delivered on the thread that called InitNew, and only while that thread
// pumps its window messages (GetMessage / DispatchMessage). Commands return at
// once; their answers arrive through INNTPCallback::OnResponse, in one or more
// parts, the last one with fDone set. A response with fMustRelease set is
// handed back with ReleaseResponse once the callback is done with it.
//
// Commands issued while another is running are queued and run in order; the
// answers come back in that order. After the logon, queued commands are sent
// to the server without waiting for each answer (pipelining, RFC 3977 3.5);
// a transport whose connection failed while several were on their way sends
// one at a time on its later connections.
// IsState(IXP_IS_BUSY) answers S_OK from a Connect or command call until the
// final part of its answer has been delivered.
#pragma once

#include <cstddef>

#include "platform/base/wintypes.h"
#include "platform/com/stream.h"
#include "platform/com/unknwn.h"

// ---- Interface identifiers ---------------------------------------------------
constexpr IID IID_IInternetTransport = {0x0DF2C7E1, 0x3435, 0x11D0, {0x81, 0xD0, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
constexpr IID IID_INNTPTransport = {0x0DF2C7E4, 0x3435, 0x11D0, {0x81, 0xD0, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
constexpr IID IID_ITransportCallback = {0x0DF2C7E5, 0x3435, 0x11D0, {0x81, 0xD0, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
constexpr IID IID_INNTPCallback = {0x0DF2C7E6, 0x3435, 0x11D0, {0x81, 0xD0, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

// ---- Results -----------------------------------------------------------------
// The component's own results (family 0x800CCC00). The result mapping of the
// provider knows several of them under their numbers (common/result_mapping.h).
constexpr HRESULT IXP_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x800CCC03);
constexpr HRESULT IXP_E_CONN = static_cast<HRESULT>(0x800CCC04);
constexpr HRESULT IXP_E_NOT_CONNECTED = static_cast<HRESULT>(0x800CCC05);
constexpr HRESULT IXP_E_CONN_SEND = static_cast<HRESULT>(0x800CCC06);
constexpr HRESULT IXP_E_INVALID_STATE = static_cast<HRESULT>(0x800CCC08);
constexpr HRESULT IXP_E_CONN_RECV = static_cast<HRESULT>(0x800CCC09);
constexpr HRESULT IXP_E_BUSY = static_cast<HRESULT>(0x800CCC0B);
constexpr HRESULT IXP_E_NOT_INIT = static_cast<HRESULT>(0x800CCC0C);
constexpr HRESULT IXP_E_CANT_FIND_HOST = static_cast<HRESULT>(0x800CCC0D);
constexpr HRESULT IXP_E_FAILED_TO_CONNECT = static_cast<HRESULT>(0x800CCC0E);
constexpr HRESULT IXP_E_CONNECTION_DROPPED = static_cast<HRESULT>(0x800CCC0F);
constexpr HRESULT IXP_E_SOCKET_READ_ERROR = static_cast<HRESULT>(0x800CCC12);
constexpr HRESULT IXP_E_SOCKET_WRITE_ERROR = static_cast<HRESULT>(0x800CCC13);
constexpr HRESULT IXP_E_SOCKET_INIT_ERROR = static_cast<HRESULT>(0x800CCC14);
constexpr HRESULT IXP_E_SOCKET_CONNECT_ERROR = static_cast<HRESULT>(0x800CCC15);
constexpr HRESULT IXP_E_USER_CANCEL = static_cast<HRESULT>(0x800CCC17);
constexpr HRESULT IXP_E_TIMEOUT = static_cast<HRESULT>(0x800CCC19);
constexpr HRESULT IXP_E_SECURE_CONNECT_FAILED = static_cast<HRESULT>(0x800CCC1A);

constexpr HRESULT IXP_E_NNTP_RESPONSE_ERROR = static_cast<HRESULT>(0x800CCCA0);
constexpr HRESULT IXP_E_NNTP_NEWGROUPS_FAILED = static_cast<HRESULT>(0x800CCCA1);
constexpr HRESULT IXP_E_NNTP_LIST_FAILED = static_cast<HRESULT>(0x800CCCA2);
constexpr HRESULT IXP_E_NNTP_GROUP_FAILED = static_cast<HRESULT>(0x800CCCA4);
constexpr HRESULT IXP_E_NNTP_GROUP_NOTFOUND = static_cast<HRESULT>(0x800CCCA5);
constexpr HRESULT IXP_E_NNTP_ARTICLE_FAILED = static_cast<HRESULT>(0x800CCCA6);
constexpr HRESULT IXP_E_NNTP_POST_FAILED = static_cast<HRESULT>(0x800CCCA9);
constexpr HRESULT IXP_E_NNTP_HEADERS_FAILED = static_cast<HRESULT>(0x800CCCAC);
constexpr HRESULT IXP_E_NNTP_INVALID_USERPASS = static_cast<HRESULT>(0x800CCCAE);

// ---- Server record -----------------------------------------------------------
constexpr size_t CCHMAX_ACCOUNT_NAME = 256;
constexpr size_t CCHMAX_USERNAME = 256;
constexpr size_t CCHMAX_PASSWORD = 256;
constexpr size_t CCHMAX_SERVER_NAME = 256;
constexpr size_t CCHMAX_CONNECTOID = 256;

enum RASCONNTYPE : DWORD {
    CONNECTION_TYPE_LAN = 0,
    CONNECTION_TYPE_MANUAL = 1,
    CONNECTION_TYPE_RAS = 2,
};

// Where and how to connect. Strings are NUL-terminated within their arrays.
// dwTimeout is in seconds (0: the component's default); fTrySicily (secure
// password authentication) is accepted and answered with AUTHINFO USER/PASS.
struct INETSERVER {
    char szAccount[CCHMAX_ACCOUNT_NAME];
    char szUserName[CCHMAX_USERNAME];
    char szPassword[CCHMAX_PASSWORD];
    char szServerName[CCHMAX_SERVER_NAME];
    char szConnectoid[CCHMAX_CONNECTOID];
    RASCONNTYPE rasconntype;
    DWORD dwPort;
    BOOL fSSL;
    BOOL fTrySicily;
    DWORD dwTimeout;
    DWORD dwFlags;
};
using LPINETSERVER = INETSERVER*;

// ---- States ------------------------------------------------------------------
enum IXPTYPE : DWORD {
    IXP_NNTP = 0,
};

// Connection progress reported through OnStatus (and with OnError).
enum IXPSTATUS : DWORD {
    IXP_FINDINGHOST = 0,
    IXP_CONNECTING = 1,
    IXP_SECURING = 2,
    IXP_CONNECTED = 3,
    IXP_AUTHORIZING = 4,
    IXP_AUTHRETRY = 5,
    IXP_AUTHORIZED = 6,
    IXP_DISCONNECTING = 7,
    IXP_DISCONNECTED = 8,
    IXP_LAST = 9,
};

// Questions for IsState; S_OK means yes, S_FALSE no.
enum IXPISSTATE : DWORD {
    IXP_IS_CONNECTED = 0,
    IXP_IS_BUSY = 1,
    IXP_IS_READY = 2,
    IXP_IS_AUTHENTICATED = 3,
};

// The command a response answers.
enum NNTPSTATE : DWORD {
    NS_DISCONNECTED = 0,
    NS_CONNECT = 1,
    NS_AUTHINFO = 2,
    NS_POST = 3,
    NS_IDLE = 4,
    NS_LIST = 5,
    NS_LISTGROUP = 6,
    NS_NEWGROUPS = 7,
    NS_GROUP = 8,
    NS_LAST = 9,
    NS_NEXT = 10,
    NS_STAT = 11,
    NS_ARTICLE = 12,
    NS_HEAD = 13,
    NS_BODY = 14,
    NS_DATE = 15,
    NS_MODE = 16,
    NS_QUIT = 17,
    NS_HEADERS = 18,
    NS_XHDR = 19,
};

// Direction of a line reported through OnCommand.
enum CMDTYPE : DWORD {
    CMD_SEND = 0,
    CMD_RESP = 1,
};

// ---- Command arguments ---------------------------------------------------------
enum RANGE_TYPE : DWORD {
    RT_SINGLE = 0,  // dwFirst only
    RT_RANGE = 1,   // dwFirst..dwLast
    RT_OPEN = 2,    // dwFirst and everything after it
};
struct RANGE {
    RANGE_TYPE idType;
    DWORD dwFirst;
    DWORD dwLast;
};
using LPRANGE = RANGE*;

enum ARTICLEIDTYPE : DWORD {
    AID_MSGID = 0,
    AID_ARTICLENUM = 1,
};
struct ARTICLEID {
    ARTICLEIDTYPE idType;
    union {
        DWORD dwArticleNum;
        LPSTR pszMessageId;  // with its angle brackets
    };
};
using LPARTICLEID = ARTICLEID*;

// An article to post: cbSize bytes read from the stream's current position.
struct NNTPMESSAGE {
    ULONG cbSize;
    IStream* pstmMsg;
};
using LPNNTPMESSAGE = NNTPMESSAGE*;

// ---- Results and responses -------------------------------------------------------
// The outcome of an operation. pszResponse is the server's status line (without
// line end) when one caused it; pszProblem explains a local failure (socket,
// certificate, time-out, malformed answer). Either may be null.
struct IXPRESULT {
    HRESULT hrResult;
    LPSTR pszResponse;
    UINT uiServerError;      // the server's three-digit code, 0 when none
    HRESULT hrServerError;
    DWORD dwSocketError;     // the operating system's error number, 0 when none
    LPSTR pszProblem;
};
using LPIXPRESULT = IXPRESULT*;

struct NNTPGROUP {
    DWORD dwCount;  // as the server estimates it
    DWORD dwFirst;
    DWORD dwLast;
    LPSTR pszGroup;
};

// One overview record. Records with a missing field or a non-numeric article
// number are never delivered; pszReferences and pszXref may be empty.
struct NNTPHEADER {
    DWORD dwArticleNum;
    LPSTR pszSubject;
    LPSTR pszFrom;
    LPSTR pszDate;
    LPSTR pszMessageId;
    LPSTR pszReferences;
    DWORD dwBytes;
    DWORD dwLines;
    LPSTR pszXref;
};
using LPNNTPHEADER = NNTPHEADER*;

struct NNTPHEADERRESP {
    DWORD cHeaders;
    LPNNTPHEADER rgHeaders;
    BOOL fSupportsXRef;
    DWORD dwReserved;
};

// The next piece of an article, dot-unstuffed, lines ending in CR LF.
// pszLines is NUL-terminated; cbLines counts its bytes (an article may carry
// NUL bytes of its own).
struct NNTPARTICLE {
    DWORD dwArticleNum;
    LPSTR pszLines;
    ULONG cbLines;
    ULONG cLines;
};

// Lines of a LIST or NEWGROUPS answer, without line ends.
struct NNTPLIST {
    DWORD cLines;
    LPSTR* rgszLines;
};

class INNTPTransport;

struct NNTPRESPONSE {
    NNTPSTATE state;
    BOOL fMustRelease;
    BOOL fDone;
    IXPRESULT rIxpResult;
    INNTPTransport* pTransport;
    union {
        NNTPGROUP rGroup;          // NS_GROUP
        NNTPHEADERRESP rHeaders;   // NS_HEADERS
        NNTPARTICLE rArticle;      // NS_ARTICLE
        NNTPLIST rList;            // NS_LIST
        NNTPLIST rNewgroups;       // NS_NEWGROUPS
    };
};
using LPNNTPRESPONSE = NNTPRESPONSE*;

// ---- Interfaces ------------------------------------------------------------------
class IInternetTransport;

// What every transport reports to its owner.
class ITransportCallback : public IUnknown {
public:
    // The server has been silent for *pdwTimeout seconds. S_OK waits on (the
    // callback may raise *pdwTimeout); S_FALSE gives up with IXP_E_TIMEOUT.
    virtual HRESULT OnTimeout(DWORD* pdwTimeout, IInternetTransport* pTransport) = 0;
    // The server refused the credentials (or asked for some). The callback may
    // edit the record; S_OK retries with it, S_FALSE gives up.
    virtual HRESULT OnLogonPrompt(LPINETSERVER pInetServer, IInternetTransport* pTransport) = 0;
    // A question for the user; answers as a message box would.
    virtual INT OnPrompt(HRESULT hrError, LPCSTR pszText, LPCSTR pszCaption, UINT uType,
                         IInternetTransport* pTransport) = 0;
    virtual HRESULT OnStatus(IXPSTATUS ixpstatus, IInternetTransport* pTransport) = 0;
    virtual HRESULT OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport* pTransport) = 0;
    // A command sent or a status line received (only with command logging on;
    // the password of AUTHINFO PASS is never shown).
    virtual HRESULT OnCommand(CMDTYPE cmdtype, LPSTR pszLine, HRESULT hrResponse,
                              IInternetTransport* pTransport) = 0;

protected:
    ~ITransportCallback() = default;
};

class INNTPCallback : public ITransportCallback {
public:
    virtual HRESULT OnResponse(LPNNTPRESPONSE pResponse) = 0;

protected:
    ~INNTPCallback() = default;
};

class IInternetTransport : public IUnknown {
public:
    virtual HRESULT GetServerInfo(LPINETSERVER pInetServer) = 0;
    virtual IXPTYPE GetIXPType() = 0;
    // S_OK when the answer is yes, S_FALSE when no.
    virtual HRESULT IsState(IXPISSTATE isstate) = 0;
    // Starts connecting; progress comes through OnStatus, the outcome as an
    // NS_CONNECT response. fAuthenticate allows AUTHINFO; fCommandLogging
    // turns OnCommand on.
    virtual HRESULT Connect(LPINETSERVER pInetServer, BOOL fAuthenticate, BOOL fCommandLogging) = 0;
    // Forgets the callback (released); nothing is called back afterwards.
    virtual HRESULT HandsOffCallback() = 0;
    // QUIT after the commands already queued; ends with NS_DISCONNECTED.
    virtual HRESULT Disconnect() = 0;
    // Closes the connection at once; queued commands are dropped.
    virtual HRESULT DropConnection() = 0;
    virtual HRESULT GetStatus(IXPSTATUS* pCurrentStatus) = 0;

protected:
    ~IInternetTransport() = default;
};

class INNTPTransport : public IInternetTransport {
public:
    // pszLogFilePath: a file that receives the command log (appended), or null.
    virtual HRESULT InitNew(LPSTR pszLogFilePath, INNTPCallback* pCallback) = 0;
    // NS_GROUP: count, first, last. IXP_E_NNTP_GROUP_NOTFOUND for 411.
    virtual HRESULT CommandGROUP(LPSTR pszGroup) = 0;
    // NS_ARTICLE in parts.
    virtual HRESULT CommandARTICLE(LPARTICLEID pArticleId) = 0;
    // NS_POST. The article is read from the stream during this call.
    virtual HRESULT CommandPOST(LPNNTPMESSAGE pMessage) = 0;
    // NS_LIST in parts. pszArgs: null or "" for LIST ACTIVE, else e.g. "NEWSGROUPS".
    virtual HRESULT CommandLIST(LPSTR pszArgs) = 0;
    // NS_NEWGROUPS in parts; pstLast in UTC; pszDist null or "" for none.
    virtual HRESULT CommandNEWGROUPS(SYSTEMTIME* pstLast, LPSTR pszDist) = 0;
    virtual HRESULT CommandQUIT() = 0;
    // NS_HEADERS in parts: the overview records of the current group (OVER,
    // or XOVER on a server that does not know OVER).
    virtual HRESULT GetHeaders(LPRANGE pRange) = 0;
    virtual HRESULT ReleaseResponse(LPNNTPRESPONSE pResponse) = 0;

protected:
    ~INNTPTransport() = default;
};

// The module's export (bound by name through GetProcAddress).
extern "C" HRESULT CreateNNTPTransport(INNTPTransport** ppTransport);
using PFNCREATENNTPTRANSPORT = HRESULT (*)(INNTPTransport** ppTransport);

// The MIME services of the Internet mail and news component ("inetcomm.dll"):
// character sets and RFC 2047 words (IMimeInternational), Internet dates,
// RFC 5322 address lists, and the MIME message object with its header table.
// Built on GMime; names and shapes are the ones callers know from home.
//
// Character sets. The system code page is windows-1252 (kSystemCodePage): it
// is what every 8-bit string of the system is written in. Each character set
// has an Internet code page (its own) and a Windows code page: here the
// Windows code page of every set is the system code page, so converting a
// decoded text from its Internet to its Windows code page always yields text
// in the system code page; characters that do not exist there become '?'.
//
// Rfc1522Decode decodes every encoded word into UTF-8 and reports "utf-8" as
// the character set of the result, whatever the words' own sets were, so that
// a header mixing sets loses nothing before the caller's conversion.
//
// Memory handed out (decoded texts, converted buffers, header data) comes from
// CoTaskMemAlloc and is freed with CoTaskMemFree; address lists are freed with
// the allocator of MimeOleGetAllocator.
#pragma once

#include <cstdint>

#include "platform/com/stream.h"
#include "platform/com/unknwn.h"

using CODEPAGEID = DWORD;
constexpr CODEPAGEID CP_ACP = 0;  // "the system code page" wherever a code page is asked for
constexpr CODEPAGEID kSystemCodePage = 1252;
constexpr const char* kSystemCodePageCharset = "windows-1252";

struct HCHARSET__;
using HCHARSET = HCHARSET__*;
using LPHCHARSET = HCHARSET*;

constexpr ULONG CCHMAX_CSET_NAME = 128;

struct INETCSETINFO {
    char szName[CCHMAX_CSET_NAME];
    HCHARSET hCharset;
    CODEPAGEID cpiWindows;
    CODEPAGEID cpiInternet;
    DWORD dwReserved1;
};
using LPINETCSETINFO = INETCSETINFO*;

struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};
using LPBLOB = BLOB*;

enum ENCODINGTYPE : int {
    IET_BINARY = 0,
    IET_BASE64 = 1,
    IET_UUENCODE = 2,
    IET_QP = 3,
    IET_7BIT = 4,
    IET_8BIT = 5,
    IET_INETCSET = 6,
    IET_UNICODE = 7,
    IET_RFC1522 = 8,
    IET_ENCODED = 9,
    IET_CURRENT = 10,
    IET_UNKNOWN = 11,
    IET_BINHEX40 = 12,
    IET_LAST = 13,
    IET_DECODED = IET_BINARY,
};

enum CHARSETTYPE : int { CHARSET_BODY = 0, CHARSET_HEADER = 1, CHARSET_WEB = 2 };

// Results of the MIME services.
constexpr HRESULT MIME_E_INVALID_HANDLE = static_cast<HRESULT>(0x800CCE04);
constexpr HRESULT MIME_E_NOT_FOUND = static_cast<HRESULT>(0x800CCE05);
constexpr HRESULT MIME_E_NO_DATA = static_cast<HRESULT>(0x800CCE06);
constexpr HRESULT MIME_E_INVALID_INET_DATE = static_cast<HRESULT>(0x800CCE10);
constexpr HRESULT MIME_E_CHARSET_TRANSLATE = static_cast<HRESULT>(0x800CCE14);
constexpr HRESULT MIME_E_NO_MULTIPART_BOUNDARY = static_cast<HRESULT>(0x800CCE16);
constexpr HRESULT MIME_E_INVALID_MESSAGE = static_cast<HRESULT>(0x800CCE20);
// Conversion succeeded but some characters became '?'.
constexpr HRESULT MIME_S_CHARSET_CONFLICT = static_cast<HRESULT>(0x000CCE01);

constexpr IID IID_IMimeInternational = {0xC5588349, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

class IMimeInternational : public IUnknown {
public:
    virtual HRESULT SetDefaultCharset(HCHARSET hCharset) = 0;
    virtual HRESULT GetDefaultCharset(LPHCHARSET phCharset) = 0;
    // The set whose Internet (or, for the system code page, Windows) code page is cpiCodePage.
    virtual HRESULT GetCodePageCharset(CODEPAGEID cpiCodePage, CHARSETTYPE ctCsetType, LPHCHARSET phCharset) = 0;
    // Looks a MIME character-set name up, aliases and letter case included;
    // MIME_E_NOT_FOUND for an unknown name.
    virtual HRESULT FindCharset(LPCSTR pszCharset, LPHCHARSET phCharset) = 0;
    virtual HRESULT GetCharsetInfo(HCHARSET hCharset, LPINETCSETINFO pCsetInfo) = 0;
    // S_OK when text can be converted from one code page to the other.
    virtual HRESULT CanConvertCodePages(CODEPAGEID cpiSource, CODEPAGEID cpiDest) = 0;
    // Converts pIn from cpiSource to cpiDest into a new CoTaskMemAlloc block in
    // pOut (NUL bytes of the input are kept; the block has one extra NUL after
    // cbSize). pcbRead, when given, receives the input bytes consumed.
    // MIME_S_CHARSET_CONFLICT when characters were replaced by '?'.
    virtual HRESULT ConvertBuffer(CODEPAGEID cpiSource, CODEPAGEID cpiDest, LPBLOB pIn, LPBLOB pOut,
                                  ULONG* pcbRead) = 0;
    // Decodes the RFC 2047 words of a header value. pszCharset (cchmax bytes)
    // receives the set of the result ("utf-8"), *ppszDecoded the text
    // (CoTaskMemAlloc). MIME_E_NO_DATA when the value holds no encoded word.
    virtual HRESULT Rfc1522Decode(LPCSTR pszValue, LPSTR pszCharset, ULONG cchmax, LPSTR* ppszDecoded) = 0;
    // Encodes a text written in hCharset (null: the system code page) as
    // RFC 2047 words where it needs them; *ppszEncoded from CoTaskMemAlloc.
    virtual HRESULT Rfc1522Encode(LPCSTR pszValue, HCHARSET hCharset, LPSTR* ppszEncoded) = 0;
};
using LPMIMEINTERNATIONAL = IMimeInternational*;

// Addresses.
constexpr DWORD IAT_UNKNOWN = 0x00000000;
constexpr DWORD IAT_FROM = 0x00000001;
constexpr DWORD IAT_SENDER = 0x00000002;
constexpr DWORD IAT_TO = 0x00000004;
constexpr DWORD IAT_CC = 0x00000008;
constexpr DWORD IAT_BCC = 0x00000010;
constexpr DWORD IAT_REPLYTO = 0x00000020;

// Which members of an ADDRESSPROPS are set.
constexpr DWORD IAP_CHARSET = 0x00000001;
constexpr DWORD IAP_HANDLE = 0x00000002;
constexpr DWORD IAP_ADRTYPE = 0x00000004;
constexpr DWORD IAP_FRIENDLY = 0x00000008;
constexpr DWORD IAP_EMAIL = 0x00000020;
constexpr DWORD IAP_ENCODING = 0x00000040;

struct HADDRESS__;
using HADDRESS = HADDRESS__*;

struct ADDRESSPROPS {
    DWORD dwProps;             // IAP_* of the members that are set
    HADDRESS hAddress;         // never set here
    ENCODINGTYPE ietFriendly;  // IET_DECODED: pszFriendly is decoded
    HCHARSET hCharset;         // the set pszFriendly is written in (the system code page)
    DWORD dwAdrType;           // IAT_*
    LPSTR pszFriendly;         // display name, RFC 2047 words decoded; may be empty
    LPSTR pszEmail;            // addr-spec without angle brackets
    DWORD dwCookie;
};
using LPADDRESSPROPS = ADDRESSPROPS*;

struct ADDRESSLIST {
    ULONG cAdrs;
    LPADDRESSPROPS prgAdr;
};
using LPADDRESSLIST = ADDRESSLIST*;

constexpr IID IID_IMimeAllocator = {0xC5588351, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

// Frees what the MIME services hand out.
class IMimeAllocator : public IUnknown {
public:
    virtual void* Alloc(std::size_t cb) = 0;
    virtual void Free(void* pv) = 0;
    // Frees the entries' strings and the array, and zeroes the list.
    virtual HRESULT FreeAddressList(LPADDRESSLIST pList) = 0;
    virtual HRESULT FreeAddressProps(LPADDRESSPROPS pAddress) = 0;
};

// The MIME message object.
struct HBODY__;
using HBODY = HBODY__*;
using LPHBODY = HBODY*;
inline HBODY const HBODY_ROOT = reinterpret_cast<HBODY>(static_cast<std::uintptr_t>(0xFFFFFFFF));

struct HHEADERROW__;
using HHEADERROW = HHEADERROW__*;
using LPHHEADERROW = HHEADERROW*;

struct FINDHEADER {
    LPCSTR pszHeader;  // field name, letter case ignored; null finds every row
    DWORD dwReserved;  // the search position, kept by FindFirst/FindNext
};
using LPFINDHEADER = FINDHEADER*;

// GetRowData: the data starts with "Name: ".
constexpr DWORD HTF_NAMEINDATA = 0x00000002;

// TXT_* of GetTextBody.
constexpr DWORD TXT_PLAIN = 0x00000001;
constexpr DWORD TXT_HTML = 0x00000002;

// GetMessageSource flags.
constexpr DWORD COMMIT_ONLYIFDIRTY = 0x00000001;

constexpr IID IID_IMimeHeaderTable = {0xFD853CD1, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

// The header fields of one body (the root: the message's own header), in order.
class IMimeHeaderTable : public IUnknown {
public:
    virtual HRESULT FindFirst(LPFINDHEADER pFindHeader, LPHHEADERROW phRow) = 0;
    // MIME_E_NOT_FOUND after the last match.
    virtual HRESULT FindNext(LPFINDHEADER pFindHeader, LPHHEADERROW phRow) = 0;
    virtual HRESULT GetCount(ULONG* pcRows) = 0;
    // Appends "pszHeader: pszData" at the end of the header. The data is text in
    // the system code page; characters outside ASCII are written as RFC 2047 words,
    // CR and LF become blanks. E_INVALIDARG for a name that is no field name.
    virtual HRESULT AppendRow(LPCSTR pszHeader, DWORD dwFlags, LPCSTR pszData, ULONG cchData,
                              LPHHEADERROW phRow) = 0;
    virtual HRESULT DeleteRow(HHEADERROW hRow) = 0;
    // The row's value as it stands in the article, unfolded, without the
    // leading blank (HTF_NAMEINDATA: preceded by "Name: "); CoTaskMemAlloc.
    virtual HRESULT GetRowData(HHEADERROW hRow, DWORD dwFlags, LPSTR* ppszData, ULONG* pcchData) = 0;
    virtual HRESULT SetRowData(HHEADERROW hRow, DWORD dwFlags, LPCSTR pszData, ULONG cchData) = 0;
};
using LPMIMEHEADERTABLE = IMimeHeaderTable*;

constexpr CLSID CLSID_IMimeMessage = {0xFD853CE3, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
constexpr IID IID_IMimeMessage = {0xFD853CD5, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

// An Internet message (RFC 5322 with MIME), created with CoCreateInstance
// (CLSID_IMimeMessage) and filled by Load or InitNew.
class IMimeMessage : public IUnknown {
public:
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
    virtual HRESULT IsDirty() = 0;
    // Parses the stream from its current position to its end. MIME_E_INVALID_MESSAGE
    // when it holds no header at all; a damaged body still loads.
    virtual HRESULT Load(IStream* pStm) = 0;
    // Writes the message, with every header edit, at the stream's position.
    virtual HRESULT Save(IStream* pStm, BOOL fClearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* pcbSize) = 0;
    // An empty message.
    virtual HRESULT InitNew() = 0;

    // A new stream at position 0 holding the message as Save writes it.
    virtual HRESULT GetMessageSource(IStream** ppStream, DWORD dwFlags) = 0;
    virtual HRESULT GetMessageSize(ULONG* pcbSize, DWORD dwFlags) = 0;
    virtual HRESULT Commit(DWORD dwFlags) = 0;
    // HBODY_ROOT with IID_IMimeHeaderTable gives the message's header table.
    virtual HRESULT BindToObject(HBODY hBody, REFIID riid, void** ppvObject) = 0;
    // Bodies under hBody (HBODY_ROOT: the whole tree), hBody included.
    virtual HRESULT CountBodies(HBODY hBody, BOOL fRecurse, ULONG* pcBodies) = 0;
    // The first text/plain (TXT_PLAIN) or text/html (TXT_HTML) part that is not
    // an attachment, decoded (IET_DECODED: transfer encoding removed, bytes in
    // the part's charset; IET_INETCSET: converted to the system code page).
    // MIME_E_NOT_FOUND when there is none.
    virtual HRESULT GetTextBody(DWORD dwTxtType, ENCODINGTYPE ietEncoding, IStream** ppStream, LPHBODY phBody) = 0;
};
using LPMIMEMESSAGE = IMimeMessage*;

// Exports of "inetcomm.dll" (extern "C"; bound by name with GetProcAddress).
extern "C" {
// The component's international services (a new reference).
HRESULT MimeOleGetInternat(IMimeInternational** ppInternat);
// The allocator for address lists (a new reference).
HRESULT MimeOleGetAllocator(IMimeAllocator** ppAllocator);
// An RFC 5322 date-time (obsolete forms included: missing weekday, two-digit
// years, named zones, missing seconds) as a UTC FILETIME.
// MIME_E_INVALID_INET_DATE when it does not parse.
HRESULT MimeOleInetDateToFileTime(LPCSTR pszDate, FILETIME* pft);
// Parses an address list ("Name <a@b>", bare "a@b", "a@b (Name)", groups).
// dwAdrType (IAT_*) is stamped on each entry; ietEncoding IET_8BIT or
// IET_DECODED: display names come back in the system code page with RFC 2047
// words decoded. MIME_E_NO_DATA when no address is found.
HRESULT MimeOleParseRfc822Address(DWORD dwAdrType, ENCODINGTYPE ietEncoding, LPCSTR pszRfc822Adr,
                                  LPADDRESSLIST pList);
}

using PFNMIMEOLEGETINTERNAT = HRESULT (*)(IMimeInternational**);
using PFNMIMEOLEGETALLOCATOR = HRESULT (*)(IMimeAllocator**);
using PFNMIMEOLEINETDATETOFILETIME = HRESULT (*)(LPCSTR, FILETIME*);
using PFNMIMEOLEPARSERFC822ADDRESS = HRESULT (*)(DWORD, ENCODINGTYPE, LPCSTR, LPADDRESSLIST);

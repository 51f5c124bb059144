// IMimeInternational and the allocator of the MIME services.
#include <cstring>
#include <string>

#include "platform/com/classfactory.h"
#include "platform/com/refcounted.h"
#include "platform/inetcomm/mime/charsets.h"
#include "platform/inetcomm/mime/gmime_support.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace quillory::mime {
namespace {

class CMimeInternational final : public IMimeInternational, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMimeInternational, this}});
    }

    HRESULT SetDefaultCharset(HCHARSET hCharset) override
    {
        const CharsetEntry* e = EntryOf(hCharset);
        if (!e) return MIME_E_INVALID_HANDLE;
        default_ = e;
        return S_OK;
    }
    HRESULT GetDefaultCharset(LPHCHARSET phCharset) override
    {
        if (!phCharset) return E_INVALIDARG;
        *phCharset = HandleOf(default_);
        return S_OK;
    }
    HRESULT GetCodePageCharset(CODEPAGEID cpi, CHARSETTYPE, LPHCHARSET phCharset) override
    {
        if (!phCharset) return E_INVALIDARG;
        *phCharset = nullptr;
        const CharsetEntry* e = FindCharsetByCodePage(cpi);
        if (!e) return MIME_E_NOT_FOUND;
        *phCharset = HandleOf(e);
        return S_OK;
    }
    HRESULT FindCharset(LPCSTR pszCharset, LPHCHARSET phCharset) override
    {
        if (!pszCharset || !phCharset) return E_INVALIDARG;
        *phCharset = nullptr;
        const CharsetEntry* e = FindCharsetByName(pszCharset);
        if (!e) return MIME_E_NOT_FOUND;
        *phCharset = HandleOf(e);
        return S_OK;
    }
    HRESULT GetCharsetInfo(HCHARSET hCharset, LPINETCSETINFO info) override
    {
        if (!info) return E_INVALIDARG;
        const CharsetEntry* e = EntryOf(hCharset);
        if (!e) return MIME_E_INVALID_HANDLE;
        std::memset(info, 0, sizeof(*info));
        std::strncpy(info->szName, e->name, CCHMAX_CSET_NAME - 1);
        info->hCharset = hCharset;
        info->cpiInternet = e->codePage;
        info->cpiWindows = kSystemCodePage;
        return S_OK;
    }
    HRESULT CanConvertCodePages(CODEPAGEID from, CODEPAGEID to) override
    {
        return FindCharsetByCodePage(from) && FindCharsetByCodePage(to) ? S_OK : S_FALSE;
    }
    HRESULT ConvertBuffer(CODEPAGEID from, CODEPAGEID to, LPBLOB pIn, LPBLOB pOut, ULONG* pcbRead) override
    {
        if (!pIn || !pOut || (pIn->cbSize && !pIn->pBlobData)) return E_INVALIDARG;
        pOut->cbSize = 0;
        pOut->pBlobData = nullptr;
        const CharsetEntry* src = FindCharsetByCodePage(from);
        const CharsetEntry* dst = FindCharsetByCodePage(to);
        if (!src || !dst) return MIME_E_NOT_FOUND;
        const std::string_view input(reinterpret_cast<const char*>(pIn->pBlobData), pIn->cbSize);
        auto converted = ConvertText(input, src->iconvName, dst->iconvName);
        if (!converted) return MIME_E_CHARSET_TRANSLATE;
        pOut->pBlobData = reinterpret_cast<BYTE*>(TaskMemString(converted->text));
        if (!pOut->pBlobData) return E_OUTOFMEMORY;
        pOut->cbSize = static_cast<ULONG>(converted->text.size());
        if (pcbRead) *pcbRead = pIn->cbSize;
        return converted->replaced ? MIME_S_CHARSET_CONFLICT : S_OK;
    }
    HRESULT Rfc1522Decode(LPCSTR pszValue, LPSTR pszCharset, ULONG cchmax, LPSTR* ppszDecoded) override
    {
        if (ppszDecoded) *ppszDecoded = nullptr;
        if (!pszValue || !ppszDecoded) return E_INVALIDARG;
        if (!std::strstr(pszValue, "=?")) return MIME_E_NO_DATA;
        EnsureGMime();
        GString8 decoded(g_mime_utils_header_decode_text(nullptr, pszValue));
        if (!decoded) return MIME_E_NO_DATA;
        if (pszCharset && cchmax) {
            std::strncpy(pszCharset, "utf-8", cchmax - 1);
            pszCharset[cchmax - 1] = '\0';
        }
        *ppszDecoded = TaskMemString(decoded.get());
        return *ppszDecoded ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT Rfc1522Encode(LPCSTR pszValue, HCHARSET hCharset, LPSTR* ppszEncoded) override
    {
        if (ppszEncoded) *ppszEncoded = nullptr;
        if (!pszValue || !ppszEncoded) return E_INVALIDARG;
        const CharsetEntry* e = hCharset ? EntryOf(hCharset) : &SystemCharset();
        if (!e) return MIME_E_INVALID_HANDLE;
        auto utf8 = ConvertText(pszValue, e->iconvName, "UTF-8");
        if (!utf8) return MIME_E_CHARSET_TRANSLATE;
        EnsureGMime();
        GString8 encoded(g_mime_utils_header_encode_text(nullptr, utf8->text.c_str(), nullptr));
        *ppszEncoded = TaskMemString(encoded ? encoded.get() : "");
        return *ppszEncoded ? S_OK : E_OUTOFMEMORY;
    }

private:
    const CharsetEntry* default_ = &SystemCharset();
};

class CMimeAllocator final : public IMimeAllocator, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMimeAllocator, this}});
    }
    void* Alloc(std::size_t cb) override { return CoTaskMemAlloc(cb); }
    void Free(void* pv) override { CoTaskMemFree(pv); }
    HRESULT FreeAddressList(LPADDRESSLIST pList) override
    {
        if (!pList) return E_INVALIDARG;
        for (ULONG i = 0; i < pList->cAdrs && pList->prgAdr; ++i) FreeAddressProps(&pList->prgAdr[i]);
        CoTaskMemFree(pList->prgAdr);
        pList->prgAdr = nullptr;
        pList->cAdrs = 0;
        return S_OK;
    }
    HRESULT FreeAddressProps(LPADDRESSPROPS p) override
    {
        if (!p) return E_INVALIDARG;
        CoTaskMemFree(p->pszFriendly);
        CoTaskMemFree(p->pszEmail);
        p->pszFriendly = nullptr;
        p->pszEmail = nullptr;
        p->dwProps &= ~(IAP_FRIENDLY | IAP_EMAIL);
        return S_OK;
    }
};

}  // namespace
}  // namespace quillory::mime

extern "C" HRESULT MimeOleGetInternat(IMimeInternational** ppInternat)
{
    if (!ppInternat) return E_INVALIDARG;
    *ppInternat = quillory::NewComObject<quillory::mime::CMimeInternational>();
    return S_OK;
}

extern "C" HRESULT MimeOleGetAllocator(IMimeAllocator** ppAllocator)
{
    if (!ppAllocator) return E_INVALIDARG;
    *ppAllocator = quillory::NewComObject<quillory::mime::CMimeAllocator>();
    return S_OK;
}

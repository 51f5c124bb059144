// The converter session object and the class factory of "mapi32.dll".
#include "platform/base/trace.h"
#include "platform/com/classfactory.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/converter/converter_internal.h"

namespace quillory::converter {
namespace {

class CConverterSession final : public IConverterSession, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IConverterSession, this}});
    }

    HRESULT SetAdrBook(LPADRBOOK) override { return S_OK; }  // addresses are taken as they stand
    HRESULT SetEncoding(ENCODINGTYPE et) override
    {
        switch (et) {
        case IET_BASE64:
        case IET_QP:
        case IET_7BIT:
        case IET_8BIT:
            options_.encoding = et;
            return S_OK;
        case IET_UUENCODE:
            options_.encoding = et;
            options_.saveFormat = SAVE_RFC822;
            return S_OK;
        default:
            return E_INVALIDARG;
        }
    }
    HRESULT MIMEToMAPI(LPSTREAM pstm, LPMESSAGE pmsg, LPCSTR, ULONG) override
    {
        if (!pstm || !pmsg) return MAPI_E_INVALID_PARAMETER;
        std::string article;
        char buffer[16384];
        for (;;) {
            ULONG got = 0;
            const HRESULT hr = pstm->Read(buffer, sizeof(buffer), &got);
            if (FAILED(hr)) return hr;
            if (got == 0) break;
            article.append(buffer, got);
        }
        const HRESULT hr = MimeToMapi(article, pmsg);
        if (FAILED(hr)) Trace("IConverterSession::MIMEToMAPI -- failed 0x%08x\n", static_cast<unsigned>(hr));
        return hr;
    }
    HRESULT MAPIToMIMEStm(LPMESSAGE pmsg, LPSTREAM pstm, ULONG ulFlags) override
    {
        if (!pstm || !pmsg) return MAPI_E_INVALID_PARAMETER;
        std::string article;
        HRESULT hr = MapiToMime(pmsg, options_, ulFlags, article);
        if (FAILED(hr)) return hr;
        ULONG written = 0;
        hr = pstm->Write(article.data(), static_cast<ULONG>(article.size()), &written);
        if (FAILED(hr)) return hr;
        return written == article.size() ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT SetTextWrapping(BOOL fWrapText, ULONG ulWrapWidth) override
    {
        if (fWrapText && ulWrapWidth == 0) return E_INVALIDARG;
        options_.wrap = fWrapText != FALSE;
        if (fWrapText) options_.wrapWidth = ulWrapWidth;
        return S_OK;
    }
    HRESULT SetSaveFormat(MIMESAVETYPE mst) override
    {
        if (mst != SAVE_RFC822 && mst != SAVE_RFC1521) return E_INVALIDARG;
        options_.saveFormat = mst;
        return S_OK;
    }
    HRESULT SetCharset(BOOL fApply, HCHARSET hcharset, CSETAPPLYTYPE) override
    {
        if (!fApply) {
            options_.charset.clear();
            return S_OK;
        }
        std::string name = CharsetNameOf(hcharset);
        if (name.empty()) return E_INVALIDARG;
        options_.charset = std::move(name);
        return S_OK;
    }

private:
    Options options_;
};

HRESULT CreateConverterSession(REFIID riid, void** ppv)
{
    auto* session = NewComObject<CConverterSession>();
    const HRESULT hr = session->QueryInterface(riid, ppv);
    session->Release();
    return hr;
}

}  // namespace
}  // namespace quillory::converter

// The classes this module serves to CoCreateInstance.
extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_IConverterSession)) return CLASS_E_CLASSNOTAVAILABLE;
    return quillory::CreateSimpleClassFactory(quillory::converter::CreateConverterSession, riid, ppv);
}

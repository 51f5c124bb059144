#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/session.h"

namespace quillory {

HRESULT OpenSessionIdentity(LPMAPISESSION lpSession, LPMAPIPROP* lppIdentity)
{
    if (!lppIdentity) return MAPI_E_INVALID_PARAMETER;
    *lppIdentity = nullptr;
    if (!lpSession) return MAPI_E_INVALID_PARAMETER;
    ULONG cb = 0;
    MapiBuffer<ENTRYID> eid;
    HRESULT hr = lpSession->QueryIdentity(&cb, &eid);
    if (FAILED(hr)) return hr;
    if (!eid) return MAPI_E_NOT_FOUND;
    ULONG type = 0;
    ComPtr<IUnknown> unknown;
    if (FAILED(hr = lpSession->OpenEntry(cb, eid.Get(), nullptr, 0, &type, &unknown))) return hr;
    if (!unknown) return MAPI_E_NOT_FOUND;
    return unknown->QueryInterface(IID_IMAPIProp, reinterpret_cast<void**>(lppIdentity));
}

}  // namespace quillory

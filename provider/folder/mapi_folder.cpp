// The header folder's COM and property face, its life cycle and Attach.
#include "provider/folder/mapi_folder.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/base/resource.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "provider/folder/header_row.h"

namespace quillory::quarnex {

namespace {

// The provider's UID, reported as the folder's PR_MDB_PROVIDER.
constexpr BYTE kProviderUid[16] = {0x1F, 0xAA, 0x9D, 0x38, 0xD4, 0x34, 0x2F, 0x48,
                                   0x84, 0xA8, 0x43, 0x22, 0x04, 0x88, 0x9A, 0x22};

// GetPropList, and GetProps without a tag list, in this order.
constexpr ULONG kFolderPropList[] = {
    PR_ACCESS,         PR_ACCESS_LEVEL,     PR_CONTENT_COUNT,   PR_ASSOC_CONTENT_COUNT, PR_FOLDER_TYPE,
    PR_OBJECT_TYPE,    PR_SUBFOLDERS,       PR_CREATION_VERSION, PR_CURRENT_VERSION,    PR_CREATION_TIME,
    PR_DISPLAY_NAME,   PR_DISPLAY_TYPE,     PR_ENTRYID,
};
constexpr ULONG kFolderPropCount = sizeof kFolderPropList / sizeof kFolderPropList[0];

// Properties answered beyond the list, by their own tags.
constexpr ULONG kFolderExtraProps[] = {PR_NULL, PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER};

ULONG ResolveTag(ULONG requested)
{
    for (ULONG tag : kFolderPropList)
        if (PROP_ID(tag) == PROP_ID(requested)) return tag;
    if (PROP_TYPE(requested) == PT_UNSPECIFIED)
        for (ULONG tag : kFolderExtraProps)
            if (PROP_ID(tag) == PROP_ID(requested)) return tag;
    return requested;
}

SCODE CopyBinary(std::span<const BYTE> bytes, void* base, SPropValue& out)
{
    void* p = nullptr;
    const auto alloc = ModuleAllocators();
    if (const SCODE sc = alloc.allocateMore(static_cast<ULONG>(bytes.size()), base, &p); FAILED(sc)) return sc;
    std::memcpy(p, bytes.data(), bytes.size());
    out.Value.bin.cb = static_cast<ULONG>(bytes.size());
    out.Value.bin.lpb = static_cast<LPBYTE>(p);
    return S_OK;
}

SCODE CopyString(std::string_view text, void* base, SPropValue& out)
{
    void* p = nullptr;
    const auto alloc = ModuleAllocators();
    if (const SCODE sc = alloc.allocateMore(static_cast<ULONG>(text.size() + 1), base, &p); FAILED(sc)) return sc;
    std::memcpy(p, text.data(), text.size());
    static_cast<char*>(p)[text.size()] = '\0';
    out.Value.lpszA = static_cast<LPSTR>(p);
    return S_OK;
}

std::string FolderDisplayName()
{
    char text[kHeaderFolderNameMax + 1] = {};
    if (LoadString(ModuleInstance(), IDS_HEADER_FOLDER_NAME, text, sizeof text) > 0) return text;
    return std::string(kHeaderFolderNameDefault);
}

}  // namespace

CMAPIFolder::CMAPIFolder()
{
    Trace("CMAPIFolder::CMAPIFolder() -- start\n");
    std::vector<ULONG> columns(std::begin(kHeaderRowColumns), std::end(kHeaderRowColumns));
    MapiBuffer<SPropTagArray> tags;
    if (SUCCEEDED(MAPIAllocateBuffer(CbNewSPropTagArray(kHeaderRowColumnCount), tags.AsVoidOut()))) {
        tags->cValues = kHeaderRowColumnCount;
        std::copy(columns.begin(), columns.end(), tags->aulPropTag);
        const auto alloc = ModuleAllocators();
        LPTABLEDATA data = nullptr;
        const SCODE sc = CreateTable(&IID_IMAPITableData, alloc.allocateBuffer, alloc.allocateMore,
                                     alloc.freeBuffer, nullptr, TBLTYPE_DYNAMIC, PR_ENTRYID, tags.Get(), &data);
        if (SUCCEEDED(sc)) table_ = ComPtr<ITableData>::Attach(data);
        else Trace("CMAPIFolder::CMAPIFolder() -- no table (%08x)\n", static_cast<unsigned>(sc));
    }
    Trace("CMAPIFolder::CMAPIFolder() -- end\n");
}

CMAPIFolder::~CMAPIFolder()
{
    Trace("CMAPIFolder::~CMAPIFolder() -- start\n");
    cache_.Save();
    Trace("CMAPIFolder::~CMAPIFolder() -- end\n");
}

HRESULT CMAPIFolder::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this)},
                                {&IID_IMAPIContainer, static_cast<IMAPIContainer*>(this)},
                                {&IID_IMAPIProp, static_cast<IMAPIProp*>(this)}});
}

HRESULT CMAPIFolder::GetLastError(HRESULT, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (lppMAPIError) *lppMAPIError = nullptr;
    return S_OK;
}

HRESULT CMAPIFolder::SaveChanges(ULONG) { return S_OK; }

HRESULT CMAPIFolder::FillProp(ULONG tag, void* base, SPropValue& out)
{
    out.ulPropTag = tag;
    out.Value.l = 0;
    switch (tag) {
    case PR_NULL:
    case PR_ACCESS_LEVEL:
    case PR_ASSOC_CONTENT_COUNT:
        out.Value.l = 0;
        return S_OK;
    case PR_CURRENT_VERSION:
    case PR_CREATION_VERSION:
        out.Value.li.QuadPart = static_cast<LONGLONG>(kHeaderFolderVersion);
        return S_OK;
    case PR_ACCESS:
        out.Value.ul = kHeaderFolderAccess;
        return S_OK;
    case PR_OBJECT_TYPE:
        out.Value.ul = MAPI_FOLDER;
        return S_OK;
    case PR_ENTRYID:
        return CopyBinary(kHeaderFolderEntryId, base, out);
    case PR_DISPLAY_NAME:
        return CopyString(FolderDisplayName(), base, out);
    case PR_CREATION_TIME:
        if (!table_) return MAPI_E_NOT_FOUND;
        out.Value.ft = changeTime_;
        return S_OK;
    case PR_STORE_SUPPORT_MASK:
        out.Value.ul = kHeaderFolderSupportMask;
        return S_OK;
    case PR_MDB_PROVIDER:
        return CopyBinary(kProviderUid, base, out);
    case PR_FOLDER_TYPE:
        out.Value.ul = FOLDER_GENERIC;
        return S_OK;
    case PR_CONTENT_COUNT: {
        ComPtr<IMAPITable> view;
        HRESULT hr = NewView(&view);
        ULONG count = 0;
        if (SUCCEEDED(hr)) hr = view->GetRowCount(0, &count);
        if (FAILED(hr)) return hr;
        out.Value.ul = count;
        return S_OK;
    }
    case PR_SUBFOLDERS:
        out.Value.b = 0;
        return S_OK;
    case PR_DISPLAY_TYPE:
        out.Value.ul = DT_FOLDER;
        return S_OK;
    default:
        Trace("CMAPIFolder::GetProps - unknown proprag %08x\n", static_cast<unsigned>(tag));
        return MAPI_E_NOT_FOUND;
    }
}

HRESULT CMAPIFolder::GetProps(LPSPropTagArray lpPropTagArray, ULONG, ULONG* lpcValues, LPSPropValue* lppPropArray)
{
    if (!lpcValues || !lppPropArray) return MAPI_E_INVALID_PARAMETER;
    *lpcValues = 0;
    *lppPropArray = nullptr;
    const ULONG count = lpPropTagArray ? lpPropTagArray->cValues : kFolderPropCount;
    const auto alloc = ModuleAllocators();
    void* head = nullptr;
    if (const SCODE sc = alloc.allocateBuffer(std::max<ULONG>(count, 1) * sizeof(SPropValue), &head); FAILED(sc))
        return sc;
    auto* values = static_cast<LPSPropValue>(head);
    bool errors = false;
    for (ULONG i = 0; i < count; ++i) {
        const ULONG requested = lpPropTagArray ? lpPropTagArray->aulPropTag[i] : kFolderPropList[i];
        const ULONG tag = ResolveTag(requested);
        values[i] = SPropValue{};
        if (const HRESULT hr = FillProp(tag, head, values[i]); FAILED(hr)) {
            values[i].ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
            values[i].Value.err = hr;
            errors = true;
        }
    }
    *lpcValues = count;
    *lppPropArray = values;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT CMAPIFolder::GetPropList(ULONG, LPSPropTagArray* lppPropTagArray)
{
    if (!lppPropTagArray) return MAPI_E_INVALID_PARAMETER;
    *lppPropTagArray = nullptr;
    void* p = nullptr;
    if (const SCODE sc = ModuleAllocators().allocateBuffer(CbNewSPropTagArray(kFolderPropCount), &p); FAILED(sc))
        return sc;
    auto* tags = static_cast<LPSPropTagArray>(p);
    tags->cValues = kFolderPropCount;
    std::copy(std::begin(kFolderPropList), std::end(kFolderPropList), tags->aulPropTag);
    *lppPropTagArray = tags;
    return S_OK;
}

// The folder is read-only and flat: everything else is refused.
HRESULT CMAPIFolder::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::DeleteProps(LPSPropTagArray, LPSPropProblemArray*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                            LPSPropProblemArray*)
{
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMAPIFolder::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                               LPSPropProblemArray*)
{
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMAPIFolder::GetNamesFromIDs(LPSPropTagArray*, GUID*, ULONG, ULONG*, LPMAPINAMEID**)
{
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMAPIFolder::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::GetHierarchyTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::CreateMessage(LPCIID, ULONG, LPMESSAGE*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::CopyMessages(LPENTRYLIST, LPCIID, void*, ULONG_PTR, LPMAPIPROGRESS, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMAPIFolder::DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::CreateFolder(ULONG, LPSTR, LPSTR, LPCIID, ULONG, LPMAPIFOLDER*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::CopyFolder(ULONG, LPENTRYID, LPCIID, void*, LPSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMAPIFolder::DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::SaveContentsSort(LPSSortOrderSet, ULONG) { return MAPI_E_NO_SUPPORT; }
HRESULT CMAPIFolder::EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) { return MAPI_E_NO_SUPPORT; }

HRESULT CMAPIFolder::Attach(IMAPIStatus* folderOwner, IFolderLogon* logon)
{
    owner_ = folderOwner;
    logon_ = logon;
    if (logon_) {
        cache_.SetMessageStore(logon_->FolderMessageStore());
        cache_.Load(logon_->KnownArticlesPath());
    }
    // Headers offered but not delivered before come back as bare rows.
    std::vector<KnownArticle> waiting;
    cache_.ForEachById([&waiting](const KnownArticle& e) {
        if (!e.confirmed) waiting.push_back(e);
    });
    for (const KnownArticle& e : waiting) {
        if (const HRESULT hr = AddRow(e.group, e.number, e.messageId); FAILED(hr))
            Trace("CMAPIFolder::Attach - row of %.*s %u not added (%08x)\n", static_cast<int>(e.group.size()),
                  e.group.data(), static_cast<unsigned>(e.number), static_cast<unsigned>(hr));
    }
    return S_OK;
}

void CMAPIFolder::StampChangeTime() { GetSystemTimeAsFileTime(&changeTime_); }

}  // namespace quillory::quarnex

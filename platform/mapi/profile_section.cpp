#include "platform/mapi/profile_section.h"

#include <cstring>

#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/propcodec.h"

namespace quillory {

HRESULT CProfSect::Open(const std::shared_ptr<ProfileDb>& db, ProfileId profile, const MAPIUID& uid, ULONG ulFlags,
                        LPPROFSECT* lppProfSect, std::string* error)
{
    if (!lppProfSect) return MAPI_E_INVALID_PARAMETER;
    *lppProfSect = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    const bool modify = (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    std::string profileName;
    auto find = [&]() -> HRESULT {
        auto record = db->FindProfile(profile);
        if (!record) return MAPI_E_NOT_FOUND;
        profileName = record->name;
        if (db->SectionExists(profile, uid)) return S_OK;
        if (!modify) return MAPI_E_NOT_FOUND;
        db->AddSection(profile, uid);
        return S_OK;
    };
    const HRESULT hr = modify ? db->Write(find, error) : db->Read(find, error);
    if (FAILED(hr)) {
        if (hr == MAPI_E_NOT_FOUND && error) *error = "The profile section does not exist";
        return hr;
    }
    auto section = ComPtr<CProfSect>::Attach(NewComObject<CProfSect>(db, profile, uid, std::move(profileName)));
    section->SetWritable(modify);
    if (const HRESULT load = section->Load(); FAILED(load)) return load;
    *lppProfSect = section.Detach();
    return S_OK;
}

CProfSect::CProfSect(std::shared_ptr<ProfileDb> db, ProfileId profile, const MAPIUID& uid, std::string profileName)
    : db_(std::move(db)), profile_(profile), uid_(uid), profileName_(std::move(profileName))
{
}

HRESULT CProfSect::Load()
{
    std::vector<std::pair<ULONG, std::vector<BYTE>>> rows;
    const HRESULT hr = db_->Read([&] {
        rows = db_->SectionProps(profile_, uid_);
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    auto lock = Lock();
    Bag().Clear();
    for (const auto& [tag, bytes] : rows) {
        LPSPropValue value = nullptr;
        if (FAILED(DecodePropValue(bytes, &value)) || value->ulPropTag != tag) {
            // One damaged value must not cost the section's others.
            Trace("profiles: section %s: value 0x%08X is damaged; skipped\n", ProfileUidHex(uid_).c_str(), tag);
            MAPIFreeBuffer(value);
            continue;
        }
        const SCODE sc = Bag().Set(*value);
        MAPIFreeBuffer(value);
        if (sc == MAPI_E_NOT_ENOUGH_MEMORY) return sc;
    }
    SetModified(false);
    return S_OK;
}

// After a failed write the bag is brought back to what the database holds.
HRESULT CProfSect::Reload()
{
    const HRESULT hr = Load();
    if (FAILED(hr)) Trace("profiles: section %s could not be re-read: 0x%08X\n", ProfileUidHex(uid_).c_str(), hr);
    return hr;
}

HRESULT CProfSect::SaveChanges(ULONG ulFlags)
{
    SetModified(false);
    return S_OK;
}

HRESULT CProfSect::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    auto lock = Lock();
    const HRESULT hr = DoSetProps(cValues, lpPropArray, lppProblems);
    if (FAILED(hr)) return hr;
    // Values that met a problem were not stored; what the bag now holds for
    // each tag named is what the database must hold.
    std::vector<SPropValue> values;
    for (ULONG i = 0; i < cValues; ++i)
        if (const SPropValue* v = Bag().Find(lpPropArray[i].ulPropTag)) values.push_back(*v);
    std::string error;
    const HRESULT put = db_->Write([&] {
        if (!db_->SectionExists(profile_, uid_)) return MAPI_E_OBJECT_DELETED;
        return static_cast<HRESULT>(db_->PutProps(profile_, uid_, values));
    }, &error);
    if (FAILED(put)) {
        if (lppProblems && *lppProblems) {
            MAPIFreeBuffer(*lppProblems);
            *lppProblems = nullptr;
        }
        Reload();
        return RecordError(put, error.empty() ? "The profile section could not be written" : error);
    }
    return hr;
}

HRESULT CProfSect::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    auto lock = Lock();
    const HRESULT hr = DoDeleteProps(lpPropTagArray, lppProblems);
    if (FAILED(hr)) return hr;
    std::vector<ULONG> tags;
    for (ULONG i = 0; i < lpPropTagArray->cValues; ++i)
        if (!IsComputedProp(lpPropTagArray->aulPropTag[i])) tags.push_back(lpPropTagArray->aulPropTag[i]);
    std::string error;
    const HRESULT del = db_->Write([&] {
        if (!db_->SectionExists(profile_, uid_)) return MAPI_E_OBJECT_DELETED;
        db_->DeleteProps(profile_, uid_, tags);
        return S_OK;
    }, &error);
    if (FAILED(del)) {
        if (lppProblems && *lppProblems) {
            MAPIFreeBuffer(*lppProblems);
            *lppProblems = nullptr;
        }
        Reload();
        return RecordError(del, error.empty() ? "The profile section could not be written" : error);
    }
    return hr;
}

HRESULT CProfSect::GetComputedProp(ULONG ulPropTag, void* lpBase, LPSPropValue lpOut)
{
    if (PROP_ID(ulPropTag) == PROP_ID(PR_PROFILE_NAME) &&
        (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED || PROP_TYPE(ulPropTag) == PT_STRING8)) {
        void* p = nullptr;
        if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(profileName_.size() + 1), lpBase, &p); FAILED(sc))
            return sc;
        std::memcpy(p, profileName_.c_str(), profileName_.size() + 1);
        lpOut->ulPropTag = PR_PROFILE_NAME;
        lpOut->Value.lpszA = static_cast<LPSTR>(p);
        return S_OK;
    }
    if (PROP_ID(ulPropTag) == PROP_ID(PR_OBJECT_TYPE) &&
        (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED || PROP_TYPE(ulPropTag) == PT_LONG)) {
        lpOut->ulPropTag = PR_OBJECT_TYPE;
        lpOut->Value.l = MAPI_PROFSECT;
        return S_OK;
    }
    if (PROP_ID(ulPropTag) == PROP_ID(PR_PROFILE_NAME) && PROP_TYPE(ulPropTag) == PT_UNICODE)
        return MAPI_E_BAD_CHARWIDTH;
    return MAPI_E_NOT_FOUND;
}

void CProfSect::ListComputedProps(std::vector<ULONG>& tags) const
{
    tags.push_back(PR_PROFILE_NAME);
    tags.push_back(PR_OBJECT_TYPE);
}

bool CProfSect::IsComputedProp(ULONG ulPropTag) const
{
    return PROP_ID(ulPropTag) == PROP_ID(PR_PROFILE_NAME) || PROP_ID(ulPropTag) == PROP_ID(PR_OBJECT_TYPE);
}

}  // namespace quillory

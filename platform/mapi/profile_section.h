// A profile section (IProfSect): properties kept in the profile database
// under a UID. Changes are written as they are made, each in one
// transaction; SaveChanges has nothing left to do.
#pragma once

#include <memory>
#include <string>

#include "platform/mapi/profile_db.h"
#include "platform/mapi/propobj.h"

// The profile-wide section every profile has.
inline constexpr BYTE pbGlobalProfileSectionGuid[16] = {0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A,
                                                        0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A};

namespace quillory {

inline MAPIUID GlobalSectionUid()
{
    MAPIUID uid{};
    for (std::size_t i = 0; i < sizeof uid.ab; ++i) uid.ab[i] = pbGlobalProfileSectionGuid[i];
    return uid;
}

class CProfSect final : public CMAPIPropBase<IProfSect> {
public:
    // Opens the section; MAPI_MODIFY opens it for writing and creates it when
    // it does not exist yet, without it a missing section is MAPI_E_NOT_FOUND.
    static HRESULT Open(const std::shared_ptr<ProfileDb>& db, ProfileId profile, const MAPIUID& uid, ULONG ulFlags,
                        LPPROFSECT* lppProfSect, std::string* error = nullptr);

    HRESULT SaveChanges(ULONG ulFlags) override;
    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override;
    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override;

    // Use Open.
    CProfSect(std::shared_ptr<ProfileDb> db, ProfileId profile, const MAPIUID& uid, std::string profileName);

private:
    HRESULT Load();
    HRESULT Reload();

    HRESULT GetComputedProp(ULONG ulPropTag, void* lpBase, LPSPropValue lpOut) override;
    void ListComputedProps(std::vector<ULONG>& tags) const override;
    bool IsComputedProp(ULONG ulPropTag) const override;
    bool SupportsInterface(REFIID riid) const override { return IsEqualIID(riid, IID_IProfSect); }
    const char* ComponentName() const override { return "Quillory profiles"; }

    const std::shared_ptr<ProfileDb> db_;
    const ProfileId profile_;
    const MAPIUID uid_;
    const std::string profileName_;
};

}  // namespace quillory

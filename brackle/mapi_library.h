// The MAPI library as brackle reaches it: loaded by name at run time, its
// entry points looked up by name. Nothing of MAPI is linked in.
#pragma once

#include "platform/base/module.h"
#include "platform/mapi/mapix.h"

namespace quillory::brackle {

using MAPIINITIALIZE = HRESULT(void* lpMapiInit);
using MAPIUNINITIALIZE = void();
using MAPIADMINPROFILES = HRESULT(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
using FREEPROWS = void(LPSRowSet lpRows);

// Loads "mapi32.dll" and finds MAPIInitialize, MAPIAdminProfiles and FreeProws
// (MAPIUninitialize too, when the library has it). Unloads it on destruction.
class CMapiLibrary {
public:
    CMapiLibrary() = default;
    ~CMapiLibrary();
    CMapiLibrary(const CMapiLibrary&) = delete;
    CMapiLibrary& operator=(const CMapiLibrary&) = delete;

    // False (with the reason traced) when the library or an entry is missing.
    bool Load();

    MAPIINITIALIZE* Initialize = nullptr;
    MAPIUNINITIALIZE* Uninitialize = nullptr;  // may stay null
    MAPIADMINPROFILES* AdminProfiles = nullptr;
    FREEPROWS* FreeRows = nullptr;

private:
    HMODULE module_ = nullptr;
};

// A row set from QueryRows, freed through the library's FreeProws.
class CRowSet {
public:
    explicit CRowSet(FREEPROWS* freeRows) : free_(freeRows) {}
    ~CRowSet() { Reset(); }
    CRowSet(const CRowSet&) = delete;
    CRowSet& operator=(const CRowSet&) = delete;

    LPSRowSet* out()
    {
        Reset();
        return &rows_;
    }
    ULONG size() const { return rows_ ? rows_->cRows : 0; }
    const SRow& operator[](ULONG i) const { return rows_->aRow[i]; }

private:
    void Reset()
    {
        if (rows_) free_(rows_);
        rows_ = nullptr;
    }

    FREEPROWS* free_;
    LPSRowSet rows_ = nullptr;
};

}  // namespace quillory::brackle

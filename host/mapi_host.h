// What the account, status and sync commands share: MAPI kept initialised
// while a command runs, failure reports with the object's own explanation,
// and table rows.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace quillory::host {

class MapiSession {
public:
    MapiSession() : hr_(MAPIInitialize(nullptr)) {}
    ~MapiSession()
    {
        if (SUCCEEDED(hr_)) MAPIUninitialize();
    }
    MapiSession(const MapiSession&) = delete;
    MapiSession& operator=(const MapiSession&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// MAPILogonEx and MAPIAdminProfiles have no object to explain a failure: a
// damaged profile database is named here.
inline std::string ExplainWithoutObject(HRESULT hr)
{
    return hr == MAPI_E_CORRUPT_STORE
               ? "the profile database " + ProfileDatabaseFile().string() + " is damaged or holds no profiles"
               : std::string();
}

// Prints "quillory COMMAND: WHAT failed (0x...): explanation" and returns 1.
template <class Object>
int ReportFailure(const char* command, Object* object, HRESULT hr, const std::string& what)
{
    std::string text;
    LPMAPIERROR err = nullptr;
    if (object && SUCCEEDED(object->GetLastError(hr, 0, &err)) && err && err->lpszError) text = err->lpszError;
    MAPIFreeBuffer(err);
    if (!object) text = ExplainWithoutObject(hr);
    std::fprintf(stderr, "quillory %s: %s failed (0x%08X)%s%s\n", command, what.c_str(), static_cast<unsigned>(hr),
                 text.empty() ? "" : ": ", text.c_str());
    return 1;
}

// Every row of the table with the given columns (kept alive by `keep`).
inline std::vector<std::vector<SPropValue>> TableRows(IMAPITable* table, std::initializer_list<ULONG> columns,
                                                     RowSetPtr& keep)
{
    std::vector<std::vector<SPropValue>> rows;
    auto tags = MakeTagArray(columns);
    if (FAILED(table->SetColumns(tags.Get(), 0)) || FAILED(table->QueryRows(0x7FFFFFFF, 0, &keep)) || !keep) return rows;
    for (ULONG i = 0; i < keep->cRows; ++i)
        rows.emplace_back(keep->aRow[i].lpProps, keep->aRow[i].lpProps + keep->aRow[i].cValues);
    return rows;
}

inline std::string TextOf(const SPropValue& v)
{
    return PROP_TYPE(v.ulPropTag) == PT_STRING8 && v.Value.lpszA ? v.Value.lpszA : "";
}

}  // namespace quillory::host

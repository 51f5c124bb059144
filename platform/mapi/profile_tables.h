// Small helpers the profile, service and session objects share: tables made
// from rows of values, and the values of a profile section read for them.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_db.h"

namespace quillory {

// Table data with the given columns, indexed by PR_INSTANCE_KEY; rows are
// added by value and a view handed out.
class TableBuilder {
public:
    explicit TableBuilder(std::initializer_list<ULONG> columns);
    HRESULT Status() const { return status_; }
    HRESULT AddRow(std::span<const SPropValue> values);
    HRESULT View(LPMAPITABLE* lppTable);
    ITableData* Data() const { return data_.Get(); }

private:
    ComPtr<ITableData> data_;
    HRESULT status_ = S_OK;
};

// The decoded properties of one profile section (call inside a database
// transaction, or use Load which opens one).
class SectionValues {
public:
    void Read(ProfileDb& db, ProfileId profile, const MAPIUID& uid);
    const SPropValue* Find(ULONG tag) const;
    std::string String(ULONG tag) const;
    ULONG Long(ULONG tag, ULONG fallback = 0) const;

private:
    std::vector<MapiBuffer<SPropValue>> values_;
};

// Value builders for rows; strings and binaries point at the caller's data.
SPropValue StringValue(ULONG tag, const std::string& text);
SPropValue LongValue(ULONG tag, ULONG value);
SPropValue BoolValue(ULONG tag, bool value);
SPropValue BinaryValue(ULONG tag, std::span<const BYTE> bytes);
SPropValue UidValue(ULONG tag, const MAPIUID& uid);

// A MAPIERROR for GetLastError, in one MAPI buffer.
HRESULT MakeMapiError(std::string_view text, std::string_view component, LPMAPIERROR* lppMAPIError);

}  // namespace quillory

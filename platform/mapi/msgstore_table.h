// The tables of the message store (contents, hierarchy, recipients,
// attachments, outgoing queue, receive folders): one IMAPITable over a row
// source. The table keeps only the ordered keys of its rows; values are read
// for the rows a caller asks for. When the source's version changes the keys
// are worked out again, so tables follow changes to the store.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/mapi/store_db_ops.h"

namespace quillory::store {

class TableSource {
public:
    virtual ~TableSource() = default;
    // Columns until SetColumns, and for QueryColumns(TBL_ALL_COLUMNS).
    virtual std::vector<ULONG> DefaultColumns() = 0;
    virtual std::vector<ULONG> AllColumns() { return DefaultColumns(); }
    // Keys of the rows that pass res (validated; may be null), in sort order.
    virtual HRESULT Keys(const SRestriction* res, std::span<const SSortOrder> sort, std::vector<std::int64_t>& keys) = 0;
    // One row in its own MAPIAllocateBuffer block; missing columns as
    // PT_ERROR MAPI_E_NOT_FOUND. S_FALSE when the row is gone.
    virtual HRESULT Row(std::int64_t key, std::span<const ULONG> columns, SRow& row) = 0;
    // Changes whenever the rows may have changed.
    virtual std::uint64_t Version() = 0;
};

// Rows held in memory, read again by the loader whenever the version changes.
class MemoryTableSource : public TableSource {
public:
    struct Data {
        std::vector<ULONG> columns;       // default columns
        std::vector<std::int64_t> keys;   // one per row, unique
        std::vector<PropArray> rows;
        // Columns that cost a query per row: a row gets them (through
        // `complete`, which replaces the row with one that has them too)
        // only when a caller reads, restricts or sorts on one of them.
        std::vector<ULONG> late;
        std::function<HRESULT(std::int64_t key, PropArray& row)> complete;
        std::vector<bool> completed;
    };
    using Loader = std::function<HRESULT(Data&)>;
    using VersionFn = std::function<std::uint64_t()>;

    MemoryTableSource(Loader loader, VersionFn version) : loader_(std::move(loader)), version_(std::move(version)) {}

    std::vector<ULONG> DefaultColumns() override;
    HRESULT Keys(const SRestriction* res, std::span<const SSortOrder> sort, std::vector<std::int64_t>& keys) override;
    HRESULT Row(std::int64_t key, std::span<const ULONG> columns, SRow& row) override;
    std::uint64_t Version() override { return version_(); }

private:
    HRESULT Fresh();
    bool IsLate(ULONG tag) const;
    // Gives the row its late columns when it lacks them.
    HRESULT Complete(std::size_t row);

    Loader loader_;
    VersionFn version_;
    Data data_;
    bool loaded_ = false;
    std::uint64_t loadedVersion_ = 0;
};

// A new table over the source; the caller owns the one reference.
HRESULT CreateStoreTable(std::unique_ptr<TableSource> source, LPMAPITABLE* lppTable);

// The value of a tag in a row (PT_UNSPECIFIED: any type with its ID; error
// values count as missing).
const SPropValue* FindValue(const SPropValue* props, ULONG count, ULONG tag);

// Copies the columns out of values into a new row block.
HRESULT RowFromValues(const SPropValue* values, ULONG count, std::span<const ULONG> columns, SRow& row);

}  // namespace quillory::store

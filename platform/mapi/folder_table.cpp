// Contents and hierarchy tables of folders, and the computed folder values
// they and the folder objects share.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "platform/mapi/folder.h"
#include "platform/mapi/msgstore_table.h"
#include "platform/mapi/proputil.h"

namespace quillory::store {
namespace {

constexpr ULONG kComputedFolder[] = {PR_ENTRYID,       PR_RECORD_KEY,      PR_PARENT_ENTRYID,     PR_STORE_ENTRYID,
                                     PR_STORE_RECORD_KEY, PR_OBJECT_TYPE,  PR_DISPLAY_NAME,       PR_FOLDER_TYPE,
                                     PR_CONTENT_COUNT, PR_CONTENT_UNREAD,  PR_ASSOC_CONTENT_COUNT, PR_SUBFOLDERS,
                                     PR_CREATION_TIME, PR_LAST_MODIFICATION_TIME, PR_ACCESS,       PR_ACCESS_LEVEL};

bool Matches(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
}

class ContentsSource final : public TableSource {
public:
    ContentsSource(ContextPtr ctx, RowId folder, bool associated)
        : ctx_(std::move(ctx)), folder_(folder), associated_(associated) {}

    std::vector<ULONG> DefaultColumns() override
    {
        return {PR_ENTRYID,          PR_INSTANCE_KEY,   PR_SUBJECT,          PR_MESSAGE_CLASS,
                PR_MESSAGE_FLAGS,    PR_MESSAGE_SIZE,   PR_DISPLAY_TO,       PR_SENDER_NAME,
                PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME, PR_LAST_MODIFICATION_TIME, PR_HASATTACH,
                PR_MSG_STATUS};
    }

    HRESULT Keys(const SRestriction* res, std::span<const SSortOrder> sort, std::vector<std::int64_t>& keys) override
    {
        auto lock = ctx_->db->Lock();
        ContentsQuery q;
        q.folder = folder_;
        q.associated = associated_;
        q.restriction = res;
        q.sort = sort;
        keys = ContentsKeys(*ctx_->db, ctx_->uid, q);
        return S_OK;
    }

    HRESULT Row(std::int64_t key, std::span<const ULONG> columns, SRow& row) override
    {
        auto lock = ctx_->db->Lock();
        return MessageRow(*ctx_->db, ctx_->uid, key, columns, row) ? S_OK : S_FALSE;
    }

    std::uint64_t Version() override
    {
        auto lock = ctx_->db->Lock();
        return ctx_->db->Version(folder_);
    }

private:
    ContextPtr ctx_;
    RowId folder_;
    bool associated_;
};

// The computed values that need the folder's messages counted.
constexpr ULONG kCountTags[] = {PR_CONTENT_COUNT, PR_CONTENT_UNREAD, PR_ASSOC_CONTENT_COUNT, PR_SUBFOLDERS};

bool IsCountTag(ULONG tag)
{
    return std::find(std::begin(kCountTags), std::end(kCountTags), tag) != std::end(kCountTags);
}

// One hierarchy row: the folder's stored values and its computed ones, the
// counts only when asked for (they cost a query per folder, which a lookup
// by name, as delivery makes for every article, does not need).
HRESULT FolderRowValues(const StoreContext& ctx, const FolderRecord& f, ULONG depth, bool withCounts, PropArray& row)
{
    CPropertyBag stored;
    LoadFolderProps(*ctx.db, f.id, stored);
    // A row carries all four counts: one query instead of one per column.
    const FolderCounts counts = withCounts ? CountFolder(*ctx.db, f.id) : FolderCounts{};
    std::vector<ULONG> tags = ComputedFolderTags();
    if (!withCounts) std::erase_if(tags, IsCountTag);
    tags.push_back(PR_INSTANCE_KEY);
    tags.push_back(PR_DEPTH);
    const auto n = static_cast<ULONG>(tags.size() + stored.Count());
    if (const SCODE sc = MAPIAllocateBuffer(n * sizeof(SPropValue), row.props.AsVoidOut()); FAILED(sc)) return sc;
    ULONG i = 0;
    for (ULONG tag : tags) {
        SPropValue& v = row.props.Get()[i];
        if (tag == PR_INSTANCE_KEY) {
            BYTE key[8];
            for (int b = 0; b < 8; ++b) key[b] = static_cast<BYTE>(static_cast<std::uint64_t>(f.id) >> (8 * b));
            v.ulPropTag = PR_INSTANCE_KEY;
            if (const SCODE sc = ChainBinary(key, row.props.Get(), v.Value.bin); FAILED(sc)) return sc;
        } else if (const HRESULT hr = ComputedFolderProp(ctx, f, tag, depth, row.props.Get(), &v, &counts); FAILED(hr)) {
            return hr;
        }
        ++i;
    }
    SCODE failure = S_OK;
    stored.ForEach([&](const SPropValue& v) {
        if (FAILED(failure)) return;
        failure = PropCopyMore(&row.props.Get()[i++], const_cast<LPSPropValue>(&v), MAPIAllocateMore, row.props.Get());
    });
    row.count = i;
    return failure;
}

}  // namespace

bool IsComputedFolderTag(ULONG tag)
{
    for (ULONG t : kComputedFolder) {
        if (Matches(tag, t)) return true;
    }
    return Matches(tag, PR_DEPTH);
}

std::vector<ULONG> ComputedFolderTags() { return {std::begin(kComputedFolder), std::end(kComputedFolder)}; }

HRESULT ComputedFolderProp(const StoreContext& ctx, const FolderRecord& f, ULONG tag, ULONG depth, void* lpBase,
                           SPropValue* out, const FolderCounts* known)
{
    ULONG canonical = Matches(tag, PR_DEPTH) ? PR_DEPTH : 0;
    for (ULONG t : kComputedFolder) {
        if (Matches(tag, t)) canonical = t;
    }
    if (!canonical) return MAPI_E_NOT_FOUND;
    out->ulPropTag = canonical;
    auto entryId = [&](ULONG kind, RowId id) { return ChainBinary(ctx.EntryId(kind, id), lpBase, out->Value.bin); };
    auto counts = [&] { return known ? *known : CountFolder(*ctx.db, f.id); };
    switch (canonical) {
    case PR_ENTRYID:
    case PR_RECORD_KEY: return entryId(MAPI_FOLDER, f.id);
    case PR_PARENT_ENTRYID: return entryId(MAPI_FOLDER, f.parent ? f.parent : f.id);  // the root is its own parent
    case PR_STORE_ENTRYID: return entryId(MAPI_STORE, 0);
    case PR_STORE_RECORD_KEY: return ChainBinary(std::span<const BYTE>(ctx.uid.ab, sizeof ctx.uid.ab), lpBase, out->Value.bin);
    case PR_OBJECT_TYPE: out->Value.l = MAPI_FOLDER; return S_OK;
    case PR_DISPLAY_NAME: {
        void* p = nullptr;
        if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(f.name.size() + 1), lpBase, &p); FAILED(sc)) return sc;
        std::memcpy(p, f.name.c_str(), f.name.size() + 1);
        out->Value.lpszA = static_cast<LPSTR>(p);
        return S_OK;
    }
    case PR_FOLDER_TYPE: out->Value.l = static_cast<LONG>(f.type); return S_OK;
    case PR_CONTENT_COUNT: out->Value.l = static_cast<LONG>(counts().content); return S_OK;
    case PR_CONTENT_UNREAD: out->Value.l = static_cast<LONG>(counts().unread); return S_OK;
    case PR_ASSOC_CONTENT_COUNT: out->Value.l = static_cast<LONG>(counts().associated); return S_OK;
    case PR_SUBFOLDERS: out->Value.b = counts().subfolders ? 1 : 0; return S_OK;
    case PR_CREATION_TIME: out->Value.ft = TicksToFileTime(f.created); return S_OK;
    case PR_LAST_MODIFICATION_TIME: out->Value.ft = TicksToFileTime(f.modified); return S_OK;
    case PR_ACCESS:
        out->Value.l = MAPI_ACCESS_READ | MAPI_ACCESS_MODIFY | MAPI_ACCESS_CREATE_HIERARCHY |
                       MAPI_ACCESS_CREATE_CONTENTS | MAPI_ACCESS_CREATE_ASSOCIATED |
                       (IsSpecialFolder(*ctx.db, f.id) ? 0 : MAPI_ACCESS_DELETE);
        return S_OK;
    case PR_ACCESS_LEVEL: out->Value.l = MAPI_MODIFY; return S_OK;
    case PR_DEPTH: out->Value.l = static_cast<LONG>(depth); return S_OK;
    default: return MAPI_E_NOT_FOUND;
    }
}

HRESULT CreateContentsTable(const ContextPtr& ctx, RowId folder, bool associated, LPMAPITABLE* lppTable)
{
    return CreateStoreTable(std::make_unique<ContentsSource>(ctx, folder, associated), lppTable);
}

HRESULT CreateHierarchyTable(const ContextPtr& ctx, RowId folder, bool allDepths, LPMAPITABLE* lppTable)
{
    auto loader = [ctx, folder, allDepths](MemoryTableSource::Data& data) -> HRESULT {
        auto lock = ctx->db->Lock();
        // The folders of the rows, for the counts asked for later.
        auto folders = std::make_shared<std::map<std::int64_t, std::pair<FolderRecord, ULONG>>>();
        data.late.assign(std::begin(kCountTags), std::end(kCountTags));
        data.complete = [ctx, folders](std::int64_t key, PropArray& row) -> HRESULT {
            const auto it = folders->find(key);
            if (it == folders->end()) return S_OK;
            auto completeLock = ctx->db->Lock();
            return GuardStore("hierarchy table", [&]() -> HRESULT {
                PropArray full;
                if (const HRESULT hr = FolderRowValues(*ctx, it->second.first, it->second.second, true, full); FAILED(hr))
                    return hr;
                row = std::move(full);
                return S_OK;
            });
        };
        return GuardStore("hierarchy table", [&]() -> HRESULT {
            data.columns = {PR_ENTRYID,       PR_INSTANCE_KEY,  PR_DISPLAY_NAME, PR_FOLDER_TYPE, PR_CONTENT_COUNT,
                            PR_CONTENT_UNREAD, PR_SUBFOLDERS,   PR_OBJECT_TYPE,  PR_DEPTH,       PR_CONTAINER_CLASS};
            // Depth first, so that with all depths each folder follows its parent.
            std::function<HRESULT(RowId, ULONG)> walk = [&](RowId parent, ULONG depth) -> HRESULT {
                for (const FolderRecord& f : ChildFolders(*ctx->db, parent)) {
                    PropArray row;
                    if (const HRESULT hr = FolderRowValues(*ctx, f, depth, false, row); FAILED(hr)) return hr;
                    folders->emplace(f.id, std::make_pair(f, depth));
                    data.keys.push_back(f.id);
                    data.rows.push_back(std::move(row));
                    if (allDepths && depth < 1000) {
                        if (const HRESULT hr = walk(f.id, depth + 1); FAILED(hr)) return hr;
                    }
                }
                return S_OK;
            };
            return walk(folder, 1);
        });
    };
    auto version = [ctx] {
        auto lock = ctx->db->Lock();
        std::uint64_t v = 0;
        GuardStore("hierarchy table", [&] {
            v = ctx->db->AnyVersion();
            return S_OK;
        });
        return v;
    };
    return CreateStoreTable(std::make_unique<MemoryTableSource>(loader, version), lppTable);
}

}  // namespace quillory::store

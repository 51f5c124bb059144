// Folders of the message store (IMAPIFolder) and their tables. Internal to
// the store; clients reach folders through IMsgStore::OpenEntry.
#pragma once

#include "platform/mapi/msgstore_impl.h"

namespace quillory::store {

// The values a folder has from its record and the database rather than from
// what was set on it; PR_DEPTH is answered from depth.
bool IsComputedFolderTag(ULONG tag);
std::vector<ULONG> ComputedFolderTags();
HRESULT ComputedFolderProp(const StoreContext& ctx, const FolderRecord& f, ULONG tag, ULONG depth, void* lpBase,
                           SPropValue* out, const FolderCounts* known = nullptr);

// A folder's contents table (associated messages when asked).
HRESULT CreateContentsTable(const ContextPtr& ctx, RowId folder, bool associated, LPMAPITABLE* lppTable);
// A folder's hierarchy table: its sub-folders, or with CONVENIENT_DEPTH
// every folder below it in tree order with PR_DEPTH.
HRESULT CreateHierarchyTable(const ContextPtr& ctx, RowId folder, bool allDepths, LPMAPITABLE* lppTable);

}  // namespace quillory::store

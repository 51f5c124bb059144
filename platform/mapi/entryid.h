// Entry IDs of the message store's objects. They are long-term and stable
// across processes and restarts: four zero flag bytes, the store's UID, a
// format byte, the object kind (MAPI_STORE, MAPI_FOLDER or MAPI_MESSAGE),
// two zero bytes and the object's 64-bit row id, little-endian (32 bytes).
// Row ids are never reused, so an entry ID of a deleted object never names
// a later one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/mapi/mapix.h"

namespace quillory {

constexpr ULONG kStoreEntryIdSize = 32;

struct StoreEntryId {
    MAPIUID store{};
    ULONG kind = 0;       // MAPI_STORE, MAPI_FOLDER or MAPI_MESSAGE
    std::int64_t id = 0;  // 0 for the store itself
};

std::vector<BYTE> MakeStoreEntryId(const MAPIUID& store, ULONG kind, std::int64_t id);

// Nothing for bytes that are not such an entry ID (wrong size, flags,
// format, kind, or an id out of range).
std::optional<StoreEntryId> ParseStoreEntryId(std::span<const BYTE> bytes);
std::optional<StoreEntryId> ParseStoreEntryId(ULONG cb, const ENTRYID* lpEntryID);

// A copy of the entry ID in a new MAPIAllocateBuffer block, or chained to
// lpBase with MAPIAllocateMore when lpBase is given.
SCODE AllocEntryId(const MAPIUID& store, ULONG kind, std::int64_t id, void* lpBase, ULONG* lpcb,
                   LPENTRYID* lppEntryID);

bool SameUid(const MAPIUID& a, const MAPIUID& b);

}  // namespace quillory

#include "platform/mapi/entryid.h"

#include <cstring>

#include "platform/mapi/mapi_alloc.h"

namespace quillory {
namespace {

constexpr BYTE kFormat = 1;
constexpr std::size_t kUidOffset = 4;
constexpr std::size_t kFormatOffset = 20;
constexpr std::size_t kKindOffset = 21;
constexpr std::size_t kIdOffset = 24;

void Fill(BYTE* out, const MAPIUID& store, ULONG kind, std::int64_t id)
{
    std::memset(out, 0, kStoreEntryIdSize);
    std::memcpy(out + kUidOffset, store.ab, sizeof store.ab);
    out[kFormatOffset] = kFormat;
    out[kKindOffset] = static_cast<BYTE>(kind);
    const auto u = static_cast<std::uint64_t>(id);
    for (int i = 0; i < 8; ++i) out[kIdOffset + i] = static_cast<BYTE>(u >> (8 * i));
}

}  // namespace

bool SameUid(const MAPIUID& a, const MAPIUID& b) { return std::memcmp(a.ab, b.ab, sizeof a.ab) == 0; }

std::vector<BYTE> MakeStoreEntryId(const MAPIUID& store, ULONG kind, std::int64_t id)
{
    std::vector<BYTE> out(kStoreEntryIdSize);
    Fill(out.data(), store, kind, id);
    return out;
}

std::optional<StoreEntryId> ParseStoreEntryId(std::span<const BYTE> b)
{
    if (b.size() != kStoreEntryIdSize) return std::nullopt;
    if (b[0] || b[1] || b[2] || b[3] || b[kFormatOffset] != kFormat || b[22] || b[23]) return std::nullopt;
    StoreEntryId e;
    std::memcpy(e.store.ab, b.data() + kUidOffset, sizeof e.store.ab);
    e.kind = b[kKindOffset];
    std::uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= std::uint64_t{b[kIdOffset + i]} << (8 * i);
    e.id = static_cast<std::int64_t>(u);
    switch (e.kind) {
    case MAPI_STORE:
        if (e.id != 0) return std::nullopt;
        break;
    case MAPI_FOLDER:
    case MAPI_MESSAGE:
        if (e.id <= 0) return std::nullopt;
        break;
    default:
        return std::nullopt;
    }
    return e;
}

std::optional<StoreEntryId> ParseStoreEntryId(ULONG cb, const ENTRYID* lpEntryID)
{
    if (!lpEntryID) return std::nullopt;
    return ParseStoreEntryId(std::span<const BYTE>(reinterpret_cast<const BYTE*>(lpEntryID), cb));
}

SCODE AllocEntryId(const MAPIUID& store, ULONG kind, std::int64_t id, void* lpBase, ULONG* lpcb,
                   LPENTRYID* lppEntryID)
{
    if (!lpcb || !lppEntryID) return MAPI_E_INVALID_PARAMETER;
    *lpcb = 0;
    *lppEntryID = nullptr;
    void* p = nullptr;
    const SCODE sc = lpBase ? MAPIAllocateMore(kStoreEntryIdSize, lpBase, &p) : MAPIAllocateBuffer(kStoreEntryIdSize, &p);
    if (FAILED(sc)) return sc;
    Fill(static_cast<BYTE*>(p), store, kind, id);
    *lpcb = kStoreEntryIdSize;
    *lppEntryID = static_cast<LPENTRYID>(p);
    return S_OK;
}

}  // namespace quillory

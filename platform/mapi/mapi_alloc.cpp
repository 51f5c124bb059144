#include "platform/mapi/mapi_alloc.h"

#include <cstdlib>
#include <cstring>

namespace {

// Every block starts with this header; the caller sees what follows it.
struct alignas(16) BlockHeader {
    std::uint32_t magic;
    std::uint32_t kind;
    BlockHeader* nextMore;  // head: first chained block; chained block: the next one
};
static_assert(sizeof(BlockHeader) % 16 == 0);

constexpr std::uint32_t kMagic = 0x4D415049;  // "MAPI"
constexpr std::uint32_t kHead = 1;
constexpr std::uint32_t kMore = 2;
constexpr std::uint32_t kFreed = 0xDEAD;

BlockHeader* HeaderOf(void* p) { return static_cast<BlockHeader*>(p) - 1; }

void* NewBlock(ULONG cb, std::uint32_t kind)
{
    auto* h = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + (cb ? cb : 1)));
    if (!h) return nullptr;
    h->magic = kMagic;
    h->kind = kind;
    h->nextMore = nullptr;
    return h + 1;
}

}  // namespace

SCODE MAPIAllocateBuffer(ULONG cbSize, void** lppBuffer)
{
    if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = NewBlock(cbSize, kHead);
    return *lppBuffer ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

SCODE MAPIAllocateMore(ULONG cbSize, void* lpObject, void** lppBuffer)
{
    if (!lppBuffer) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (!lpObject) return MAPI_E_INVALID_PARAMETER;
    BlockHeader* head = HeaderOf(lpObject);
    if (head->magic != kMagic || head->kind != kHead) return MAPI_E_INVALID_PARAMETER;
    void* block = NewBlock(cbSize, kMore);
    if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* more = HeaderOf(block);
    more->nextMore = head->nextMore;
    head->nextMore = more;
    *lppBuffer = block;
    return S_OK;
}

ULONG MAPIFreeBuffer(void* lpBuffer)
{
    if (!lpBuffer) return 0;
    BlockHeader* head = HeaderOf(lpBuffer);
    // Only a head may be freed; a chained block goes with its head.
    if (head->magic != kMagic || head->kind != kHead) return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    for (BlockHeader* m = head->nextMore; m;) {
        BlockHeader* next = m->nextMore;
        m->kind = kFreed;
        std::free(m);
        m = next;
    }
    head->kind = kFreed;
    std::free(head);
    return 0;
}

void FreeProws(LPSRowSet lpRows)
{
    if (!lpRows) return;
    for (ULONG i = 0; i < lpRows->cRows; ++i) MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    MAPIFreeBuffer(lpRows);
}

void FreePadrlist(LPADRLIST lpAdrlist)
{
    if (!lpAdrlist) return;
    for (ULONG i = 0; i < lpAdrlist->cEntries; ++i) MAPIFreeBuffer(lpAdrlist->aEntries[i].rgPropVals);
    MAPIFreeBuffer(lpAdrlist);
}

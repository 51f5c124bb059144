// Movable global memory blocks, kept in a handle table so that a stale or
// foreign handle is rejected instead of dereferenced.
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/com/stream.h"

namespace {

struct GlobalBlock {
    std::vector<BYTE> data;
    UINT flags = 0;
    int locks = 0;
};

struct GlobalTable {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::unique_ptr<GlobalBlock>> blocks;
    std::uintptr_t next = 0x1000;
};

GlobalTable& Table()
{
    static GlobalTable table;
    return table;
}

GlobalBlock* Find(GlobalTable& t, HGLOBAL h)
{
    auto it = t.blocks.find(reinterpret_cast<std::uintptr_t>(h));
    return it == t.blocks.end() ? nullptr : it->second.get();
}

}  // namespace

HGLOBAL GlobalAlloc(UINT uFlags, std::size_t dwBytes)
{
    auto block = std::make_unique<GlobalBlock>();
    try {
        block->data.resize(dwBytes);  // value-initialised: zero-filled whether asked or not
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    block->flags = uFlags;
    GlobalTable& t = Table();
    std::lock_guard g(t.lock);
    const std::uintptr_t id = t.next;
    t.next += 0x10;
    t.blocks.emplace(id, std::move(block));
    return reinterpret_cast<HGLOBAL>(id);
}

HGLOBAL GlobalReAlloc(HGLOBAL hMem, std::size_t dwBytes, UINT uFlags)
{
    GlobalTable& t = Table();
    std::lock_guard g(t.lock);
    GlobalBlock* b = Find(t, hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A locked block's address is in use; it may only move when it is movable.
    if (b->locks > 0 && !(b->flags & GMEM_MOVEABLE) && dwBytes > b->data.capacity()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        b->data.resize(dwBytes);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    (void)uFlags;
    return hMem;
}

void* GlobalLock(HGLOBAL hMem)
{
    GlobalTable& t = Table();
    std::lock_guard g(t.lock);
    GlobalBlock* b = Find(t, hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (b->data.empty()) {
        b->data.reserve(1);  // a lock must still give an address
    }
    ++b->locks;
    return b->data.data();
}

BOOL GlobalUnlock(HGLOBAL hMem)
{
    GlobalTable& t = Table();
    std::lock_guard g(t.lock);
    GlobalBlock* b = Find(t, hMem);
    if (!b || b->locks == 0) {
        SetLastError(b ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --b->locks;
    return b->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL hMem)
{
    GlobalTable& t = Table();
    std::lock_guard g(t.lock);
    GlobalBlock* b = Find(t, hMem);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return b->data.size();
}

HGLOBAL GlobalFree(HGLOBAL hMem)
{
    GlobalTable& t = Table();
    std::lock_guard g(t.lock);
    if (t.blocks.erase(reinterpret_cast<std::uintptr_t>(hMem)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return nullptr;
}

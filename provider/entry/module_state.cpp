#include "provider/entry/module_state.h"

#include <atomic>

#include "platform/base/module.h"
#include "platform/base/time.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapix.h"

namespace quillory::quarnex {

namespace {

std::atomic<LPALLOCATEBUFFER> g_allocateBuffer{nullptr};
std::atomic<LPALLOCATEMORE> g_allocateMore{nullptr};
std::atomic<LPFREEBUFFER> g_freeBuffer{nullptr};

std::atomic<HINSTANCE> g_instance{nullptr};
std::atomic<bool> g_instanceSet{false};

std::atomic<DWORD> g_settingsClosedTick{0};
std::atomic<ULONG> g_logonCharWidth{0};
std::atomic<long> g_lockCount{0};

}  // namespace

bool HaveAllocators()
{
    return g_allocateBuffer.load() && g_allocateMore.load() && g_freeBuffer.load();
}

bool TakeAllocatorsIfMissing(const Allocators& given)
{
    if (HaveAllocators()) return false;
    g_allocateBuffer = given.allocateBuffer;
    g_allocateMore = given.allocateMore;
    g_freeBuffer = given.freeBuffer;
    return true;
}

Allocators ModuleAllocators()
{
    if (HaveAllocators()) return {g_allocateBuffer.load(), g_allocateMore.load(), g_freeBuffer.load()};
    return {&::MAPIAllocateBuffer, &::MAPIAllocateMore, &::MAPIFreeBuffer};
}

SCODE AllocateBuffer(ULONG size, void** buffer) { return ModuleAllocators().allocateBuffer(size, buffer); }

SCODE AllocateMore(ULONG size, void* head, void** buffer)
{
    return ModuleAllocators().allocateMore(size, head, buffer);
}

ULONG FreeBuffer(void* buffer) { return buffer ? ModuleAllocators().freeBuffer(buffer) : 0; }

void RememberModuleInstance(HINSTANCE instance)
{
    bool expected = false;
    if (g_instanceSet.compare_exchange_strong(expected, true)) g_instance = instance;
}

HINSTANCE ModuleInstance()
{
    // Before any entry point ran (or when one was given no handle) the module
    // holding this code answers, so its own string table is found.
    if (HINSTANCE instance = g_instance.load()) return instance;
    return ModuleHandleOf(reinterpret_cast<const void*>(&ModuleInstance));
}

void RecordSettingsClosed() { g_settingsClosedTick = GetTickCount(); }

DWORD SettingsClosedTick() { return g_settingsClosedTick.load(); }

bool WithinSettingsGrace()
{
    const DWORD tick = g_settingsClosedTick.load();
    if (tick == 0) return false;
    const DWORD elapsed = GetTickCount() - tick;  // unsigned: correct across the wrap
    return elapsed < kSettingsGraceMs;
}

void SetLogonCharWidth(ULONG logonFlags) { g_logonCharWidth = logonFlags & MAPI_UNICODE; }

ULONG LogonCharWidthFlag() { return g_logonCharWidth.load(); }

void LockModule() { ++g_lockCount; }
void UnlockModule() { --g_lockCount; }
long ModuleLockCount() { return g_lockCount.load(); }

void ResetModuleStateForTests()
{
    g_allocateBuffer = nullptr;
    g_allocateMore = nullptr;
    g_freeBuffer = nullptr;
    g_instance = nullptr;
    g_instanceSet = false;
    g_settingsClosedTick = 0;
    g_logonCharWidth = 0;
}

}  // namespace quillory::quarnex

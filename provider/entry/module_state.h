// Values the whole provider module shares, set once and never freed: the
// MAPI allocation routines, the module instance, the moment the account
// settings dialog last closed, the character-width flag of the latest logon
// and the count of live provider objects.
//
// Every entry point (XPProviderInit, ServiceEntry, WizardEntry) and every COM
// object of the provider uses these; all calls come on the spooler's or the
// configuring thread, but the values are atomics so that a second thread
// never sees a torn value.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/mapi/mapidefs.h"

namespace quillory::quarnex {

// ---- Allocation routines --------------------------------------------------------
// Kept from the first XPProviderInit (its arguments) or the first ServiceEntry
// (the support object's GetMemAllocRoutines), whichever comes first, and kept
// while all three are present. Until then the platform's own MAPI routines
// serve, so code run outside an entry point (tests) still works.
struct Allocators {
    LPALLOCATEBUFFER allocateBuffer = nullptr;
    LPALLOCATEMORE allocateMore = nullptr;
    LPFREEBUFFER freeBuffer = nullptr;

    bool Complete() const { return allocateBuffer && allocateMore && freeBuffer; }
};

// Whether all three routines are kept.
bool HaveAllocators();
// Takes the three routines unless all three are kept already. Returns whether
// they were taken.
bool TakeAllocatorsIfMissing(const Allocators& given);
// The kept routines (the platform's when none are kept).
Allocators ModuleAllocators();

// Allocation through the kept routines.
SCODE AllocateBuffer(ULONG size, void** buffer);
SCODE AllocateMore(ULONG size, void* head, void** buffer);
ULONG FreeBuffer(void* buffer);

// A MAPI buffer freed through the kept FreeBuffer when it goes.
template <class T>
class ProviderBuffer {
public:
    ProviderBuffer() = default;
    explicit ProviderBuffer(T* p) : p_(p) {}
    ~ProviderBuffer() { Reset(); }
    ProviderBuffer(const ProviderBuffer&) = delete;
    ProviderBuffer& operator=(const ProviderBuffer&) = delete;
    ProviderBuffer(ProviderBuffer&& o) noexcept : p_(o.Release()) {}
    ProviderBuffer& operator=(ProviderBuffer&& o) noexcept
    {
        if (this != &o) Reset(o.Release());
        return *this;
    }
    void Reset(T* p = nullptr)
    {
        if (p_) FreeBuffer(p_);
        p_ = p;
    }
    T* Release()
    {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // For out-parameters: frees what is held and hands out the slot.
    T** Out()
    {
        Reset();
        return &p_;
    }
    void** AsVoidOut()
    {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// ---- Module instance -----------------------------------------------------------
// The handle given to the first entry point called; later calls keep it.
// Until then, the handle of the module that holds the provider's code.
void RememberModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();

// ---- The 20-second rule after the settings dialog ----------------------------
constexpr DWORD kSettingsGraceMs = 20000;
// Records GetTickCount() as the moment the settings dialog returned.
void RecordSettingsClosed();
DWORD SettingsClosedTick();
// True while less than kSettingsGraceMs have passed since the recorded tick
// (never when no tick is recorded). Elapsed time is measured by unsigned
// subtraction so that the tick count's wrap after 49.7 days is harmless.
bool WithinSettingsGrace();

// ---- Character width of the latest logon -------------------------------------
// The MAPI_UNICODE bit of the latest TransportLogon's flags; AddressTypes and
// RegisterOptions return it as their flags.
void SetLogonCharWidth(ULONG logonFlags);
ULONG LogonCharWidthFlag();

// ---- Module lock count --------------------------------------------------------
// Every live provider object (provider, logon, status object, header folder)
// holds one lock; hold a CModuleLock member to take it for the object's life.
void LockModule();
void UnlockModule();
long ModuleLockCount();

class CModuleLock {
public:
    CModuleLock() { LockModule(); }
    ~CModuleLock() { UnlockModule(); }
    CModuleLock(const CModuleLock&) = delete;
    CModuleLock& operator=(const CModuleLock&) = delete;
};

// Forgets every value above except the lock count (for tests).
void ResetModuleStateForTests();

}  // namespace quillory::quarnex

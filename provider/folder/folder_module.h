// The module-wide values the header folder uses: the module lock, the MAPI
// allocation routines and the module instance (for its string table).
#pragma once

#include "platform/mapi/mapidefs.h"

namespace quillory::quarnex {

// Holds one lock on the module for the life of the holder.
class CFolderModuleLock {
public:
    CFolderModuleLock();
    ~CFolderModuleLock();
    CFolderModuleLock(const CFolderModuleLock&) = delete;
    CFolderModuleLock& operator=(const CFolderModuleLock&) = delete;
};

struct FolderAllocators {
    LPALLOCATEBUFFER allocateBuffer;
    LPALLOCATEMORE allocateMore;
    LPFREEBUFFER freeBuffer;
};
FolderAllocators FolderModuleAllocators();
HINSTANCE FolderModuleInstance();

}  // namespace quillory::quarnex

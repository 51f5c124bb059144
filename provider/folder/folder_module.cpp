#include "provider/folder/folder_module.h"

#include <atomic>

#include "platform/mapi/mapi_alloc.h"

namespace quillory::quarnex {

namespace {
std::atomic<long> folderLocks{0};
}

CFolderModuleLock::CFolderModuleLock() { folderLocks.fetch_add(1); }
CFolderModuleLock::~CFolderModuleLock() { folderLocks.fetch_sub(1); }

FolderAllocators FolderModuleAllocators() { return {MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer}; }

HINSTANCE FolderModuleInstance() { return nullptr; }

}  // namespace quillory::quarnex

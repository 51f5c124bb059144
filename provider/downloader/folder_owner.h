// What the downloader needs of the object that owns the header folder (the
// status object): the folder itself. The owner creates the folder on first
// request and keeps it; the downloader only borrows it for one step.
#pragma once

namespace quillory::quarnex {

class CMAPIFolder;

class CFolderOwner {
public:
    // The header folder with the remote-header table and the known-articles
    // cache; null when it does not exist and cannot be made.
    virtual CMAPIFolder* HeaderFolder() = 0;

protected:
    ~CFolderOwner() = default;
};

}  // namespace quillory::quarnex

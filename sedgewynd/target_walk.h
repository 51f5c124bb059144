// Finding the service lists named by the configuration's TargetPath and
// merging each one found.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sedgewynd/inf_document.h"
#include "sedgewynd/inf_merge.h"

namespace quillory::sedgewynd {

// Configuration paths are written with '\'; both separators are accepted.
std::string NativePath(std::string_view path);

// A file by its identity on disk, whatever path reached it.
using FileId = std::pair<dev_t, ino_t>;

class CTargetWalker {
public:
    // backedUp lists the files whose backup was written earlier in the same
    // installer call; they get no second one, which would hold this call's
    // own earlier merge instead of the file as it was.
    CTargetWalker(const CInfDocument& config, MergeOptions options, std::string targetFile, std::string backupExt,
                  std::set<FileId>& backedUp);

    // One TargetPath element: its "%N%" is expanded; an element ending in
    // "*" is a pattern whose matching directories are processed and walked
    // to any depth; any other element is one directory.
    void ProcessElement(std::string_view element);
    // The target file in one directory: locked and merged when it can be
    // opened exclusively (found and, on success, updated); found only when
    // another process holds it and it can merely be read.
    void ProcessDirectory(const std::string& dir);

    int Found() const { return found_; }
    int Updated() const { return static_cast<int>(updated_.size()); }
    const std::vector<std::string>& UpdatedFiles() const { return updated_; }

private:
    void Walk(const std::string& pattern);
    // The file's identity; false when it was already taken in this run.
    bool TakeFile(int fd, FileId& id);

    const CInfDocument& config_;
    MergeOptions options_;
    std::string targetFile_;
    std::string backupExt_;
    int found_ = 0;
    std::vector<std::string> updated_;
    // A file reached twice (overlapping folders, "." of a walked directory)
    // is merged once, so its backup keeps the bytes from before this run.
    std::set<FileId> files_;
    std::set<FileId> walked_;  // guards against directory cycles
    std::set<FileId>& backedUp_;
};

}  // namespace quillory::sedgewynd

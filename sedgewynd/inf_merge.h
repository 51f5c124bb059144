// Merging the configuration's content sections into a service list, or
// taking them out again, for a document and for an opened file.
#pragma once

#include <string>
#include <string_view>

#include "sedgewynd/inf_document.h"

namespace quillory::sedgewynd {

enum class MergeMode { Install, Remove };

// The configuration's control section, compared case-insensitively.
inline constexpr std::string_view kControlSection = "Sedgewynd";

struct MergeOptions {
    MergeMode mode = MergeMode::Install;
    bool overwrite = true;  // an existing key may take the configured value
};

// Install: every content section of the configuration is appended when the
// target lacks it; otherwise each of its entries replaces the target's value
// (refused when overwrite is off) or is appended. Remove: the first entry of
// each configured key goes from the target's section of the same name.
// False when refused or when a bound would be passed; target may then be
// partly changed and must be dropped.
bool MergeDocument(CInfDocument& target, const CInfDocument& config, const MergeOptions& options);

// Merges the service list open for reading and writing at fd (locked by the
// caller) in place. Before the file is changed, its bytes as read are copied
// to backupPath when one is given (failures there are traced, not fatal).
// A UTF-16LE file (FF FE) is edited in the code page and stays UTF-16LE.
// On any failure the file keeps its bytes; path is for the trace only.
bool MergeTargetFile(int fd, const std::string& path, const std::string& backupPath, const CInfDocument& config,
                     const MergeOptions& options);

}  // namespace quillory::sedgewynd

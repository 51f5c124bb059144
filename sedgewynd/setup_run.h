// One call of an installer entry: read the configuration, merge it into (or
// remove it from) every service list found, report, and let the user retry,
// ignore or abort a failure.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/base/wintypes.h"
#include "sedgewynd/inf_merge.h"
#include "sedgewynd/target_walk.h"

namespace quillory::sedgewynd {

// The configuration file beside a library: a final ".exe" becomes ".inf",
// any other path gets ".inf" appended.
std::string ConfigurationPathFor(const std::string& modulePath);

class CSetupRun {
public:
    // office12: the installed office suite no longer brings service lists,
    // so installation creates the missing ones.
    CSetupRun(HINSTANCE instance, MergeMode mode, bool office12);

    // ERROR_SUCCESS, or ERROR_INSTALL_FAILURE when the user aborted.
    UINT Execute();

private:
    struct Outcome {
        UINT error = 0;        // string id of the failure; 0: success
        bool restart = false;  // service lists were created: run again
    };

    Outcome RunOnce();
    // The configuration text, or the failure's string id in error.
    bool ReadConfiguration(std::string& text, UINT& error) const;
    // Creates the first missing service list among the places the office
    // suite reads; true when one was created.
    bool CreateMissingServiceList(const std::string& targetFile) const;
    void ReportSuccess(const std::vector<std::string>& files) const;
    std::string String(UINT id) const;

    HINSTANCE instance_;
    MergeMode mode_;
    bool office12_;
    int creationRounds_ = 0;
    // Runs repeat (Retry, new service lists); a file's backup is taken once.
    std::set<FileId> backedUp_;
};

}  // namespace quillory::sedgewynd

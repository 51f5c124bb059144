// A new newsgroup account's settings, completed the way the new-account
// wizard completes them at Finish: the data directory, an empty group-list
// file of its own, and the defaults of every other setting.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/account_props.h"
#include "platform/mapi/mapidefs.h"

namespace quillory::host {

struct NewAccount {
    std::string server;
    std::optional<LONG> port;  // none: the standard port (563 with SSL, else 119)
    bool ssl = false;
    std::string user;  // empty: the server needs no logon
    std::string password;
    std::string name;
    std::string email;
    std::string organization;
    std::string replyTo;
    std::string accountName;  // empty: "<server> (NNTP)"
};

// The data directory "DIR" (ending with '/'): the registry's when it is set
// and a file can be made in it, else "Tarnel NNTP Accounts/" in the
// application-data folder, created and written to "DIR". Empty with *error
// set when neither works.
std::string EnsureDataDirectory(std::string* error);

// Creates an empty "groups-%08x.txt" (the tick count) in `dir` that did not
// exist before and returns its name; empty with *error set on failure.
std::string CreateGroupListFile(const std::string& dir, std::string* error);

// The profile's base folder for newsgroup folders, chosen the way the add-in
// chooses it on its first connection when the registry names none: the
// folder "Newsgroups" under the default store's Inbox (made when missing),
// written to the profile's registry key. An existing choice is kept.
// Returns whether a base folder is set afterwards.
bool EnsureBaseFolder(const std::string& profile, std::string* error);

// Records that the profile uses newsgroups ("Enabled" = 1 under its key)
// when nothing is recorded yet: a person who adds a newsgroup account to a
// profile has made the choice the profile wizard asks for. A profile the
// user disabled stays disabled. Returns the registry's result.
LONG EnsureNewsgroupsEnabled(const std::string& profile);

// The 31 account values in their order, strings pointing into `account` and
// `groupListFile` (which must outlive the values). The last-check time is
// left out: the provider sets it on the first download.
std::vector<SPropValue> AccountValues(const NewAccount& account, const std::string& groupListFile,
                                      std::string& displayName);

}  // namespace quillory::host

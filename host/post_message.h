// A post put into a profile's Outbox the way the mail-client add-in puts it
// there: the message stamped with the account name and the sent-items
// folder, one "NNTP" recipient per newsgroup, the sender set to the account,
// submitted; and the local copy the add-in leaves in the newsgroup's folder.
#pragma once

#include <string>
#include <vector>

#include "host/news_account.h"
#include "platform/mapi/mapix.h"

namespace quillory::host {

struct PostRequest {
    std::vector<std::string> groups;
    std::string subject;
    std::string body;
    std::string inReplyTo;  // empty: none
    std::string html;       // empty: plain text only
    struct Attachment {
        std::string name;
        std::string data;
    };
    std::vector<Attachment> attachments;
};

// The follow-up flag the add-in sets on an outgoing post.
constexpr ULONG PR_POST_FOLLOWUP_FLAG = 0x801C001E;
constexpr const char* kFollowupFlagText = "For Followup";
constexpr const char* kOutgoingPostClass = "IPM.Note";
constexpr const char* kLocalPostClass = "IPM.Post";
// The base folder made in the Inbox when the profile names none.
constexpr const char* kDefaultBaseFolderName = "Newsgroups";

// Puts the post into the default store's Outbox and submits it; `error`
// says why it failed.
HRESULT QueuePost(IMAPISession* session, const NewsAccount& account, const PostRequest& request, std::string& error);

// Files the local copy of the post in the first newsgroup's folder under the
// profile's base folder (inside the account's folder unless
// "CreateSubfolders" is 0); the base folder is made in the Inbox and
// recorded for the profile when it has none.
HRESULT FileLocalCopy(IMAPISession* session, const std::string& profile, const NewsAccount& account,
                      const PostRequest& request, std::string& error);

}  // namespace quillory::host

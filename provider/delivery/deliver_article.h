// Inbound delivery: files one downloaded article as an "IPM.Post" message in
// the folder of its newsgroup, threaded under the message it answers.
//
// The logon's StartMessage calls DeliverArticle once per downloaded article,
// with the stream the downloader produced. That stream starts with two origin
// lines naming the newsgroup and the article number:
//
//   X-Corvane-Newsgroup: <group> CR LF
//   X-Corvane-Article: <number> CR LF
//
// followed by the article as the server sent it (the origin lines simply sit
// in front of the article's own header).
//
// The newsgroup folder is found by name, or created, under the base folder;
// unless the logon uses flat folders it sits inside a folder named after the
// account (account array index 2). The message is converted by the host's
// MIME/MAPI converter and then given the news properties, a delivery time, a
// conversation topic and index, and, when it is the user's own post, the
// local copy filed at posting time is removed. After a successful
// SaveChanges the known-articles entry is confirmed through `confirm`.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/com/stream.h"
#include "platform/mapi/mapix.h"

namespace quillory::quarnex {

// The origin lines' header names when the string table lacks texts 6111 and
// 6112 (IDS_HEADER_NEWSGROUP, IDS_HEADER_ARTICLE of the downloader).
constexpr std::string_view kOriginNewsgroupDefault = "X-Corvane-Newsgroup";
constexpr std::string_view kOriginArticleDefault = "X-Corvane-Article";
// The origin lines are looked for in this many bytes at the stream's start.
constexpr std::size_t kOriginScanBytes = 798;

// The message class of a delivered article.
constexpr const char* kPostMessageClass = "IPM.Post";

// Own-post copies are removed only when the copy's submit and delivery times
// lie within 120 s of each other and its submit time within 600 s of the
// article's (FILETIME units of 100 ns).
constexpr ULONGLONG kOwnCopySaveWindow = 1'200'000'000ULL;
constexpr ULONGLONG kOwnCopySubmitWindow = 6'000'000'000ULL;
// Rows of the target folder examined for own-post copies.
constexpr LONG kOwnCopyRowsLimit = 100;

struct ArticleOrigin {
    std::string newsgroup;
    ULONG articleNumber = 0;
};

// Reads the origin lines from the first kOriginScanBytes bytes of `head`.
// The names are matched anywhere in that text; a value runs from two
// characters after the name up to CR LF (or the end of the text). The
// article number is 0 when missing or not a positive decimal number.
ArticleOrigin ParseArticleOrigin(std::string_view head);

// Where and for whom articles are delivered (all borrowed from the logon).
struct DeliveryTarget {
    IMsgStore* baseStore = nullptr;
    std::span<const BYTE> baseFolderEntryId;
    // TRUE when "CreateSubfolders" is 0: newsgroup folders go directly into
    // the base folder.
    bool flatFolders = false;
    // The 31-value account settings array (user name, account name, e-mail).
    const SPropValue* accountProps = nullptr;
    // Called after the message was saved, to mark the known-articles entry
    // of (article number, newsgroup) confirmed; may be empty.
    std::function<void(ULONG articleNumber, std::string_view newsgroup)> confirm;
};

// Files one article. `rowEntryId` is the header row's PR_ENTRYID (its hex
// text is stamped as 0x65A0001E; when null, the entry ID is made again from
// the origin and the article's Message-ID) and `rowInstanceKey` its
// PR_INSTANCE_KEY; either may be null. Returns S_OK when the message was saved; E_FAIL
// without an origin article number or an account name; otherwise the failing
// step's result (opening or creating folders, loading the MIME message,
// converting, SaveChanges). `delivered`, when given, receives the origin.
HRESULT DeliverArticle(IStream* article, const SBinary* rowEntryId, const SBinary* rowInstanceKey,
                       const DeliveryTarget& target, ArticleOrigin* delivered = nullptr);

}  // namespace quillory::quarnex

// Downloaded articles and their disk cache.
//
// An article as the downloader hands it on (and as a cache file holds it)
// starts with two origin lines, "X-Corvane-Newsgroup: <group>" and
// "X-Corvane-Article: <number>" (CR LF each), followed by the article text
// exactly as the server sent it.
//
// A cache file lies in "DIR" and is named "__%08x.msg" after the row's key:
// the string hash of the header row's entry ID followed by the account name.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/stream.h"
#include "platform/mapi/mapidefs.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillory::quarnex {

// String-table ids of the two origin header names.
constexpr UINT IDS_HEADER_NEWSGROUP = 6111;
constexpr UINT IDS_HEADER_ARTICLE = 6112;
constexpr std::string_view kHeaderNewsgroupDefault = "X-Corvane-Newsgroup";
constexpr std::string_view kHeaderArticleDefault = "X-Corvane-Article";
constexpr int kHeaderNameBufferSize = 50;

// Entry IDs outside (4, 1100] bytes have no cache file (key 0).
constexpr std::size_t kCacheKeyMinEntryId = 5;
constexpr std::size_t kCacheKeyMaxEntryId = 1100;
// Files are copied in pieces of this size.
constexpr std::size_t kCacheCopyPiece = 32768;

// The two origin lines for an article of `group` numbered `number`.
std::string FormatOriginLines(std::string_view group, LONG number);

// The key of a row's cache file; 0 (no cache file) for an entry ID of 4 bytes
// or fewer or of more than 1100 bytes.
std::uint32_t ArticleCacheKey(std::span<const BYTE> entryId, std::string_view accountName);
// "DIR" + "__%08x.msg"; empty for key 0, which never names a cache file.
std::string ArticleCachePath(std::uint32_t key);

// Whether the file opens for reading and is not empty.
bool CacheFilePresent(const std::string& path);
// The file's content in a new memory stream, read in 32 KiB pieces.
HRESULT ReadCacheFile(const std::string& path, ComPtr<IStream>& out);
// Writes the stream's content from its start. The file appears whole or not
// at all: a reader never sees half an article.
bool WriteCacheFile(const std::string& path, IStream* stream);

}  // namespace quillory::quarnex

#include "provider/downloader/article_cache.h"

#include "common/crc32.h"
#include "common/regstore.h"
#include "platform/base/resource.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"
#include "provider/entry/module_state.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace quillory::quarnex {
namespace {

std::string HeaderName(UINT id, std::string_view fallback)
{
    char buffer[kHeaderNameBufferSize] = "";
    if (LoadString(ModuleInstance(), id, buffer, sizeof buffer) > 0) return buffer;
    return std::string(fallback);
}

}  // namespace

std::string FormatOriginLines(std::string_view group, LONG number)
{
    const std::string newsgroupName = HeaderName(IDS_HEADER_NEWSGROUP, kHeaderNewsgroupDefault);
    const std::string articleName = HeaderName(IDS_HEADER_ARTICLE, kHeaderArticleDefault);
    std::string out;
    out.reserve(newsgroupName.size() + articleName.size() + group.size() + 24);
    out.append(newsgroupName).append(": ").append(group).append("\r\n");
    out.append(articleName).append(": ").append(std::to_string(number)).append("\r\n");
    return out;
}

std::uint32_t ArticleCacheKey(std::span<const BYTE> entryId, std::string_view accountName)
{
    if (entryId.size() < kCacheKeyMinEntryId || entryId.size() > kCacheKeyMaxEntryId) return 0;
    const std::uint32_t crc = Crc32(entryId);
    return Crc32Update(crc, {reinterpret_cast<const std::uint8_t*>(accountName.data()), accountName.size()});
}

std::string ArticleCachePath(std::uint32_t key)
{
    if (key == 0) return {};
    char name[32];
    std::snprintf(name, sizeof name, "__%08x.msg", key);
    return DataFilePath(name);
}

bool CacheFilePresent(const std::string& path)
{
    if (path.empty()) return false;
    std::ifstream in(path, std::ios::binary);
    return in && in.peek() != std::ifstream::traits_type::eof();
}

HRESULT ReadCacheFile(const std::string& path, ComPtr<IStream>& out)
{
    out.Reset();
    std::ifstream in(path, std::ios::binary);
    if (!in) return STG_E_FILENOTFOUND;
    ComPtr<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    if (FAILED(hr)) return hr;
    std::vector<char> piece(kCacheCopyPiece);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<ULONG>(in.gcount());
        if (got == 0) break;
        ULONG written = 0;
        hr = stream->Write(piece.data(), got, &written);
        if (FAILED(hr)) return hr;
        if (written != got) return STG_E_MEDIUMFULL;
    }
    if (in.bad()) return STG_E_READFAULT;
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    out = std::move(stream);
    return S_OK;
}

bool WriteCacheFile(const std::string& path, IStream* stream)
{
    if (path.empty() || !stream) return false;
    LARGE_INTEGER start{};
    if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return false;
    const std::string temp = path + ".part";
    bool ok = true;
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        if (!file) return false;
        std::vector<char> piece(kCacheCopyPiece);
        for (;;) {
            ULONG got = 0;
            if (FAILED(stream->Read(piece.data(), static_cast<ULONG>(piece.size()), &got))) {
                ok = false;
                break;
            }
            if (got == 0) break;
            if (!file.write(piece.data(), got)) {
                ok = false;
                break;
            }
        }
        file.close();
        ok = ok && !file.fail();
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    Trace("CNNTPDownloader -- cache file %s not written\n", path.c_str());
    ::unlink(temp.c_str());
    return false;
}

}  // namespace quillory::quarnex

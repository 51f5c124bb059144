#include "provider/downloader/nntp_downloader.h"

#include "platform/base/winerror.h"

namespace quillory::quarnex {

CNNTPDownloader::CNNTPDownloader() = default;

CNNTPDownloader::~CNNTPDownloader() = default;

HRESULT CNNTPDownloader::Open(CFolderOwner*, std::span<SPropValue>) { return E_NOTIMPL; }

HRESULT CNNTPDownloader::RefreshHeaders(CFolderOwner*, std::span<SPropValue>, LONG) { return E_NOTIMPL; }

HRESULT CNNTPDownloader::CheckNewGroups(CFolderOwner*, std::span<SPropValue>, const SYSTEMTIME&) { return E_NOTIMPL; }

HRESULT CNNTPDownloader::DownloadArticles(CFolderOwner*, std::span<SPropValue>, OwnedRowSet, bool) { return E_NOTIMPL; }

HRESULT CNNTPDownloader::PostArticle(CFolderOwner*, std::span<SPropValue>, std::string_view) { return E_NOTIMPL; }

bool CNNTPDownloader::IsFinished() const { return !connected_ || done_ || errorCode_ != S_OK; }

void CNNTPDownloader::WaitWhileActive()
{
    if (connected_ && !done_ && errorCode_ == S_OK) WaitIdle();
}

bool CNNTPDownloader::GetError(HRESULT& code, std::string* text) const
{
    if (errorCode_ == S_OK) return false;
    code = errorCode_;
    if (text) *text = errorText_;
    return true;
}

ComPtr<IStream> CNNTPDownloader::TakeArticle()
{
    if (pending_.empty()) return {};
    ComPtr<IStream> article = std::move(pending_.front().article);
    pending_.pop_front();
    return article;
}

}  // namespace quillory::quarnex

// SubmitMessage: the posting code decides whether a message is this
// account's post and sends it; the logon lends it its settings, its status
// code and its downloader.
#include "platform/base/trace.h"
#include "provider/logon/xp_logon.h"
#include "provider/posting/submit_post.h"

namespace quillory {

namespace {

class CPostingView final : public quarnex::IPostingLogon {
public:
    explicit CPostingView(CXPLogon& logon) : logon_(logon) {}

    const SPropValue* AccountProps() override { return logon_.AccountProps(); }
    const SPropValue* SenderEntryId() override { return logon_.SenderEntryId(); }
    DWORD PostUnsubscribed() override { return logon_.PostUnsubscribed(); }
    HRESULT RefreshProfileValues() override { return logon_.RefreshProfileValues(); }
    ULONG StatusCode() override { return logon_.StatusCode(); }
    void UpdateStatusCode(ULONG code) override
    {
        logon_.SetStatusCode(code);
        logon_.UpdateStatusRow(false);
    }
    IMAPISupport* Support() override { return logon_.Support(); }
    quarnex::PostOutcome PostArticle(std::string_view articleText) override { return logon_.PostArticle(articleText); }

private:
    CXPLogon& logon_;
};

}  // namespace

quarnex::PostOutcome CXPLogon::PostArticle(std::string_view articleText)
{
    quarnex::PostOutcome outcome;
    HRESULT hr = EnsureDownloader();
    if (SUCCEEDED(hr)) {
        DiscardArticleJob();
        hr = downloader_->PostArticle(articleText);
    }
    if (FAILED(hr)) {
        outcome.result = hr;
        outcome.disconnected = downloader_ && downloader_->IsDisconnected();
        return outcome;
    }
    downloader_->WaitWhileActive();
    WaitForDownloader();
    if (!downloader_) return outcome;
    outcome.result = downloader_->GetError(outcome.errorText);
    if (FAILED(outcome.result) && outcome.errorText.empty()) outcome.errorText = quarnex::kUnknownPostError;
    outcome.disconnected = downloader_->IsDisconnected();
    return outcome;
}

HRESULT CXPLogon::SubmitMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef, ULONG_PTR* lpulReturnParm)
{
    Trace("CXPLogon::SubmitMessage -- start\n");
    CPostingView view(*this);
    return quarnex::SubmitPost(view, lpMessage, lpulReturnParm);
}

}  // namespace quillory

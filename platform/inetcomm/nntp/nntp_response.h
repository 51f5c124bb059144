// The memory behind one NNTPRESPONSE handed to the callback: the record and
// every string it points at live in the block until it is released.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/inetcomm/nntp/nntp_parse.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

namespace quillory::nntp {

class CResponseBlock {
public:
    explicit CResponseBlock(NNTPSTATE state);
    CResponseBlock(const CResponseBlock&) = delete;
    CResponseBlock& operator=(const CResponseBlock&) = delete;

    NNTPRESPONSE& Response() { return response_; }
    NNTPSTATE State() const { return response_.state; }

    void SetDone(bool done) { response_.fDone = done ? TRUE : FALSE; }
    // The outcome; empty texts leave the pointers null.
    void SetResult(HRESULT hr, std::string_view serverLine = {}, UINT serverCode = 0,
                   std::string_view problem = {}, DWORD socketError = 0);

    void SetGroup(DWORD count, DWORD first, DWORD last, std::string_view name);
    void AddHeader(const OverviewRecord& rec);
    DWORD HeaderCount() const { return static_cast<DWORD>(headers_.size()); }
    void AppendArticleLine(std::string_view line);
    std::size_t ArticleBytes() const { return text_.size(); }
    void SetArticleNumber(DWORD number) { articleNumber_ = number; }
    void AddListLine(std::string_view line);
    std::size_t ListLineCount() const { return listLines_.size(); }

    // Points the record's fields at the stored data. Called once, just before
    // the block is handed out; nothing may be added afterwards.
    void Finalize();

private:
    std::size_t Store(std::string_view text);

    NNTPRESPONSE response_{};
    std::string arena_;        // NUL-terminated strings, addressed by offset until Finalize
    std::size_t responseText_ = std::string::npos;
    std::size_t problemText_ = std::string::npos;
    std::size_t groupName_ = std::string::npos;

    struct HeaderOffsets {
        DWORD number, bytes, lines;
        std::size_t subject, from, date, messageId, references, xref;
    };
    std::vector<HeaderOffsets> headers_;
    std::vector<NNTPHEADER> headerRecords_;
    bool anyXref_ = false;

    std::string text_;  // article chunk
    DWORD articleNumber_ = 0;
    ULONG articleLines_ = 0;

    std::vector<std::size_t> listLines_;
    std::vector<LPSTR> listPointers_;
};

}  // namespace quillory::nntp

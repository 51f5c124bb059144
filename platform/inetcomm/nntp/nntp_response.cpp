#include "platform/inetcomm/nntp/nntp_response.h"

namespace quillory::nntp {

CResponseBlock::CResponseBlock(NNTPSTATE state)
{
    response_.state = state;
    response_.fDone = TRUE;
    response_.rIxpResult.hrResult = S_OK;
}

std::size_t CResponseBlock::Store(std::string_view text)
{
    const std::size_t offset = arena_.size();
    arena_.append(text);
    arena_.push_back('\0');
    return offset;
}

void CResponseBlock::SetResult(HRESULT hr, std::string_view serverLine, UINT serverCode,
                               std::string_view problem, DWORD socketError)
{
    IXPRESULT& r = response_.rIxpResult;
    r.hrResult = hr;
    r.uiServerError = serverCode;
    r.hrServerError = serverCode != 0 && hr < 0 ? hr : S_OK;
    r.dwSocketError = socketError;
    responseText_ = serverLine.empty() ? std::string::npos : Store(serverLine);
    problemText_ = problem.empty() ? std::string::npos : Store(problem);
}

void CResponseBlock::SetGroup(DWORD count, DWORD first, DWORD last, std::string_view name)
{
    response_.rGroup.dwCount = count;
    response_.rGroup.dwFirst = first;
    response_.rGroup.dwLast = last;
    groupName_ = Store(name);
}

void CResponseBlock::AddHeader(const OverviewRecord& rec)
{
    HeaderOffsets h{};
    h.number = rec.number;
    h.bytes = rec.bytes;
    h.lines = rec.lines;
    h.subject = Store(rec.subject);
    h.from = Store(rec.from);
    h.date = Store(rec.date);
    h.messageId = Store(rec.messageId);
    h.references = Store(rec.references);
    h.xref = Store(rec.xref);
    anyXref_ = anyXref_ || rec.hasXref;
    headers_.push_back(h);
}

void CResponseBlock::AppendArticleLine(std::string_view line)
{
    text_.append(line);
    text_.append("\r\n");
    ++articleLines_;
}

void CResponseBlock::AddListLine(std::string_view line) { listLines_.push_back(Store(line)); }

void CResponseBlock::Finalize()
{
    char* base = arena_.data();
    auto at = [base](std::size_t offset) -> LPSTR {
        return offset == std::string::npos ? nullptr : base + offset;
    };
    response_.rIxpResult.pszResponse = at(responseText_);
    response_.rIxpResult.pszProblem = at(problemText_);
    switch (response_.state) {
    case NS_GROUP:
        response_.rGroup.pszGroup = at(groupName_);
        break;
    case NS_HEADERS:
        headerRecords_.reserve(headers_.size());
        for (const HeaderOffsets& h : headers_) {
            headerRecords_.push_back(NNTPHEADER{h.number, at(h.subject), at(h.from), at(h.date),
                                                at(h.messageId), at(h.references), h.bytes, h.lines,
                                                at(h.xref)});
        }
        response_.rHeaders.cHeaders = static_cast<DWORD>(headerRecords_.size());
        response_.rHeaders.rgHeaders = headerRecords_.empty() ? nullptr : headerRecords_.data();
        response_.rHeaders.fSupportsXRef = anyXref_ ? TRUE : FALSE;
        break;
    case NS_ARTICLE:
        response_.rArticle.dwArticleNum = articleNumber_;
        response_.rArticle.pszLines = text_.data();
        response_.rArticle.cbLines = static_cast<ULONG>(text_.size());
        response_.rArticle.cLines = articleLines_;
        break;
    case NS_LIST:
    case NS_NEWGROUPS:
        listPointers_.reserve(listLines_.size());
        for (std::size_t offset : listLines_) listPointers_.push_back(at(offset));
        response_.rList.cLines = static_cast<DWORD>(listPointers_.size());
        response_.rList.rgszLines = listPointers_.empty() ? nullptr : listPointers_.data();
        break;
    default:
        break;
    }
}

}  // namespace quillory::nntp

// The decisions of posting that need no message: whether a newsgroup may be
// posted to, the body kind, the conversion buffer size.
#include <algorithm>
#include <cctype>

#include "common/grouplist.h"
#include "provider/posting/submit_post.h"

namespace quillory::quarnex {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::size_t kListLineMin = 4;  // lines of 3 characters or fewer carry no group
constexpr std::size_t kListNameColumn = 3;
constexpr std::size_t kListSubscribedColumn = 1;

std::string Upper(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// The list file check: from the line of the name's first occurrence on,
// each line names a group from its fourth character to its first space;
// without postUnsubscribed only subscribed lines ('*' second) count.
bool ListFileOffers(const std::string& listPath, std::string_view newsgroup, DWORD postUnsubscribed)
{
    std::string text;
    if (newsgroup.empty() || !ReadWholeFile(listPath, text)) return false;
    const std::string list = Upper(text);
    const std::string name = Upper(newsgroup);
    const std::size_t hit = list.find(name);
    if (hit == std::string::npos) return false;
    std::size_t pos = list.rfind(kCrLf, hit);
    pos = pos == std::string::npos ? 0 : pos + kCrLf.size();
    while (pos < list.size()) {
        std::size_t end = list.find(kCrLf, pos);
        if (end == std::string::npos) end = list.size();
        const std::string_view line(list.data() + pos, end - pos);
        pos = end + kCrLf.size();
        if (line.size() < kListLineMin) continue;
        if (postUnsubscribed == 0 && line[kListSubscribedColumn] != '*') continue;
        std::string_view lineName = line.substr(kListNameColumn);
        lineName = lineName.substr(0, lineName.find(' '));
        if (lineName == name) return true;
    }
    return false;
}

}  // namespace

bool NewsgroupAvailable(const std::string& listPath, std::string_view newsgroup, DWORD postUnsubscribed)
{
    std::string subscribed;
    const std::string subPath = SubscribedFilePath(listPath);
    if (subPath.empty() || !ReadWholeFile(subPath, subscribed)) return ListFileOffers(listPath, newsgroup, postUnsubscribed);
    if (!subscribed.empty() && !newsgroup.empty()) {
        const std::string needle = std::string(kCrLf) + std::string(newsgroup) + std::string(kCrLf);
        if (subscribed.find(needle) != std::string::npos) return true;
    }
    return postUnsubscribed != 0 && ListFileOffers(listPath, newsgroup, postUnsubscribed);
}

BodyKind BodyKindOfRtf(std::string_view rtf)
{
    constexpr std::string_view kFrom = "\\from";
    const std::size_t at = rtf.find(kFrom);
    if (at == std::string_view::npos) return BodyKind::Rtf;
    const std::string_view rest = rtf.substr(at);
    if (rest.starts_with("\\fromtext")) return BodyKind::PlainText;
    if (rest.starts_with("\\fromhtml")) return BodyKind::Html;
    return BodyKind::Rtf;
}

ULONG PostBufferSize(ULONG messageSize)
{
    const ULONGLONG size = messageSize;
    if (size * 2 / 3 <= kPostBufferSize) return kPostBufferSize;
    return static_cast<ULONG>(std::min<ULONGLONG>(size + size / 2, 0xFFFFFFFFULL));
}

}  // namespace quillory::quarnex

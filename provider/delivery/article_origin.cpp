#include <charconv>

#include "platform/base/resource.h"
#include "provider/delivery/deliver_article.h"
#include "provider/downloader/nntp_downloader.h"
#include "provider/entry/module_state.h"

namespace quillory::quarnex {

namespace {

constexpr int kHeaderNameBuffer = 50;

std::string OriginName(UINT id, std::string_view fallback)
{
    char buffer[kHeaderNameBuffer] = {};
    if (LoadString(ModuleInstance(), id, buffer, kHeaderNameBuffer) > 0) return buffer;
    return std::string(fallback);
}

// The text from two characters after `name` up to CR LF; false when the name
// is absent.
bool ValueAfter(std::string_view head, std::string_view name, std::string_view& value)
{
    const std::size_t at = head.find(name);
    if (at == std::string_view::npos) return false;
    const std::size_t start = at + name.size() + 2;  // ": "
    if (start > head.size()) {
        value = {};
        return true;
    }
    const std::size_t end = head.find("\r\n", start);
    value = head.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    return true;
}

}  // namespace

ArticleOrigin ParseArticleOrigin(std::string_view head)
{
    head = head.substr(0, kOriginScanBytes);
    ArticleOrigin origin;
    std::string_view value;
    if (ValueAfter(head, OriginName(IDS_HEADER_NEWSGROUP, kOriginNewsgroupDefault), value))
        origin.newsgroup = std::string(value);
    if (ValueAfter(head, OriginName(IDS_HEADER_ARTICLE, kOriginArticleDefault), value)) {
        ULONG number = 0;
        // Leading digits count, as atoi reads them; a sign or an overlong
        // number names no article.
        if (std::from_chars(value.data(), value.data() + value.size(), number).ec == std::errc())
            origin.articleNumber = number;
    }
    return origin;
}

}  // namespace quillory::quarnex

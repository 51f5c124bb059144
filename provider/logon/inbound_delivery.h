// Filing a downloaded article as a message under the base folder. The
// logon hands each article to the delivery code of provider/delivery/;
// tests install a different deliverer with SetArticleDeliverer.
#pragma once

#include <functional>

#include "platform/com/stream.h"
#include "platform/mapi/mapidefs.h"

namespace quillory {

class CXPLogon;

// Files the article (origin header lines, then the article text) into its
// newsgroup's folder; the header row's PR_ENTRYID and PR_INSTANCE_KEY come
// with it. A failure ends the download pass.
using ArticleDeliverer = std::function<HRESULT(CXPLogon& logon, IStream* article, const SBinary& rowEntryId,
                                               const SBinary& rowInstanceKey)>;

// An empty function restores the default delivery.
void SetArticleDeliverer(ArticleDeliverer deliverer);
HRESULT DeliverToBaseFolder(CXPLogon& logon, IStream* article, const SBinary& rowEntryId,
                            const SBinary& rowInstanceKey);

}  // namespace quillory

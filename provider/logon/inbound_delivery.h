// Filing a downloaded article as a message under the base folder. The
// logon hands each article over through this seam; the delivery code
// (provider/delivery/) installs itself with SetArticleDeliverer.
#pragma once

#include <functional>

#include "platform/com/stream.h"

namespace quillory {

class CXPLogon;

// Files the article (origin header lines, then the article text) into its
// newsgroup's folder. A failure ends the download pass.
using ArticleDeliverer = std::function<HRESULT(CXPLogon& logon, IStream* article)>;

// An empty function restores the default, which files nothing and answers
// MAPI_E_NO_SUPPORT.
void SetArticleDeliverer(ArticleDeliverer deliverer);
HRESULT DeliverArticle(CXPLogon& logon, IStream* article);

}  // namespace quillory

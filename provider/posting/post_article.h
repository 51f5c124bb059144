// Making the article text of a post: MAPI-to-MIME conversion with the
// account's options, then the news edits of the article's header.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/inetcomm/mime/mime_services.h"
#include "platform/mapi/mapix.h"
#include "provider/posting/submit_post.h"

namespace quillory::quarnex::posting {

// The article text for `message`. `newsgroups` are the accepted recipient
// newsgroups in row order. MAPI_E_WAIT when the converter is missing.
HRESULT MakeArticle(IMessage* message, const SPropValue* accountProps, const std::vector<std::string>& newsgroups,
                    std::string& article);

// The body kind of a message: by its RTF when it has PR_RTF_COMPRESSED, else
// HTML when it has PR_HTML, else plain text.
BodyKind MessageBodyKind(IMessage* message);

// The header edits, in order, on the root header table of a converted post.
HRESULT EditPostHeader(IMimeHeaderTable* header, const SPropValue* accountProps,
                       const std::vector<std::string>& newsgroups);

// "Quillory v<major>.<minor>, <web address>".
std::string TransportBanner();

}  // namespace quillory::quarnex::posting

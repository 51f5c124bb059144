// Delivery as the logon's StartMessage uses it: the base store, base folder,
// flat-folders flag and account array come from the logon. The logon itself
// confirms the known-articles entry after a successful delivery.
#pragma once

#include "platform/com/stream.h"

namespace quillory {
class CXPLogon;
}

namespace quillory::quarnex {

HRESULT DeliverLogonArticle(CXPLogon& logon, IStream* article);

// Makes DeliverLogonArticle the logon's delivery (once per process).
void InstallArticleDelivery();

}  // namespace quillory::quarnex

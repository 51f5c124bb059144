// Delivery as the logon's StartMessage uses it: the base store, base folder,
// flat-folders flag and account array come from the logon. The logon itself
// confirms the known-articles entry after a successful delivery.
#pragma once

#include "platform/com/stream.h"
#include "platform/mapi/mapidefs.h"

namespace quillory {
class CXPLogon;
}

namespace quillory::quarnex {

// rowEntryId and rowInstanceKey are the header row's PR_ENTRYID and
// PR_INSTANCE_KEY.
HRESULT DeliverLogonArticle(CXPLogon& logon, IStream* article, const SBinary& rowEntryId,
                            const SBinary& rowInstanceKey);

// Makes DeliverLogonArticle the logon's delivery (once per process).
void InstallArticleDelivery();

}  // namespace quillory::quarnex

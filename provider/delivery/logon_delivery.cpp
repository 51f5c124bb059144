#include "provider/delivery/logon_delivery.h"

#include <mutex>

#include "provider/delivery/deliver_article.h"
#include "provider/logon/inbound_delivery.h"
#include "provider/logon/xp_logon.h"

namespace quillory::quarnex {

HRESULT DeliverLogonArticle(CXPLogon& logon, IStream* article, const SBinary& rowEntryId,
                            const SBinary& rowInstanceKey)
{
    DeliveryTarget target;
    target.baseStore = logon.BaseStore();
    target.baseFolderEntryId = logon.BaseFolderEntryId();
    target.flatFolders = logon.FlatFolders();
    target.accountProps = logon.AccountProps();
    return DeliverArticle(article, &rowEntryId, &rowInstanceKey, target);
}

void InstallArticleDelivery()
{
    static std::once_flag once;
    std::call_once(once, [] { SetArticleDeliverer(DeliverLogonArticle); });
}

}  // namespace quillory::quarnex

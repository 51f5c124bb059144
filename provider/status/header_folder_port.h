// What the logon asks of the header folder (the remote-header table behind
// the status object): counting rows, finding the first row marked for
// download, listing, deleting and marking rows, and confirming a delivered
// article in the known-articles cache.
//
// The folder proper lives in provider/folder/; SetHeaderFolderFactory
// installs a different one (tests use an in-memory table).
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapix.h"

namespace quillory {

class CMAPIStatus;
class CXPLogon;
namespace quarnex {
class CMAPIFolder;
}

class IHeaderFolder {
public:
    virtual ~IHeaderFolder() = default;

    // The folder as the client sees it (QueryInterface on the status object
    // for IID_IMAPIFolder answers this, with a new reference).
    virtual IMAPIFolder* Folder() = 0;
    // The provider's own folder object when this is one (the downloader
    // works on it directly), else null.
    virtual quarnex::CMAPIFolder* Concrete() = 0;
    // Rows of the contents table; 0 when it cannot be read.
    virtual ULONG RowCount() = 0;
    // The first row whose PR_MSG_STATUS has MSGSTATUS_REMOTE_DOWNLOAD, with
    // PR_ENTRYID, PR_DISPLAY_TO, PR_MSG_STATUS and PR_INSTANCE_KEY; an empty
    // row set when there is none.
    virtual HRESULT FirstMarkedRow(LPSRowSet* rows) = 0;
    // Up to maxRows rows marked for download, first row first, with the same
    // columns; a folder that cannot list more gives the first one.
    virtual HRESULT MarkedRows(LPSRowSet* rows, ULONG maxRows) { return FirstMarkedRow(rows); }
    // Every row with the same four columns.
    virtual HRESULT AllRows(LPSRowSet* rows) = 0;
    // Deletes the rows (matched by PR_ENTRYID). With recordInCache the
    // articles are recorded in the known-articles cache first, confirmed when
    // `confirmed`, so that a later header download does not offer them again.
    virtual HRESULT DeleteRows(const SRowSet& rows, bool recordInCache, bool confirmed) = 0;
    // ORs `statusBits` into PR_MSG_STATUS of the rows.
    virtual HRESULT MarkRows(const SRowSet& rows, ULONG statusBits) = 0;
    // Marks the known-articles entry of a delivered article as confirmed.
    virtual HRESULT Confirm(ULONG articleNumber, std::string_view newsgroup) = 0;
};

using HeaderFolderFactory =
    std::function<HRESULT(CMAPIStatus& status, CXPLogon& logon, std::unique_ptr<IHeaderFolder>& folder)>;

// The factory the status object uses; an empty function restores the default.
void SetHeaderFolderFactory(HeaderFolderFactory factory);
HRESULT NewHeaderFolder(CMAPIStatus& status, CXPLogon& logon, std::unique_ptr<IHeaderFolder>& folder);

}  // namespace quillory

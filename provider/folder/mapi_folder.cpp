#include "provider/folder/mapi_folder.h"

namespace quillory::quarnex {

CMAPIFolder::CMAPIFolder() = default;
CMAPIFolder::~CMAPIFolder() = default;
HRESULT CMAPIFolder::QueryInterface(REFIID, void**) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetLastError(HRESULT, ULONG, LPMAPIERROR*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::SaveChanges(ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetProps(LPSPropTagArray, ULONG, ULONG*, LPSPropValue*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetPropList(ULONG, LPSPropTagArray*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::DeleteProps(LPSPropTagArray, LPSPropProblemArray*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG, LPSPropProblemArray*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG, LPSPropProblemArray*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetNamesFromIDs(LPSPropTagArray*, GUID*, ULONG, ULONG*, LPMAPINAMEID**) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetContentsTable(ULONG, LPMAPITABLE*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetHierarchyTable(ULONG, LPMAPITABLE*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::CreateMessage(LPCIID, ULONG, LPMESSAGE*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::CopyMessages(LPENTRYLIST, LPCIID, void*, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::DeleteMessages(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::CreateFolder(ULONG, LPSTR, LPSTR, LPCIID, ULONG, LPMAPIFOLDER*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::CopyFolder(ULONG, LPENTRYID, LPCIID, void*, LPSTR, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::DeleteFolder(ULONG, LPENTRYID, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::SetReadFlags(LPENTRYLIST, ULONG_PTR, LPMAPIPROGRESS, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::SaveContentsSort(LPSSortOrderSet, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG) { return E_NOTIMPL; }
HRESULT CMAPIFolder::Attach(IMAPIStatus*, IFolderLogon*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::AddRow(std::string_view, ULONG, std::string_view, std::string_view, std::string_view, std::string_view) { return E_NOTIMPL; }
HRESULT CMAPIFolder::DeleteRow(const SRow&, bool, bool) { return E_NOTIMPL; }
HRESULT CMAPIFolder::ClearRows() { return E_NOTIMPL; }
HRESULT CMAPIFolder::MarkRead(const SRow&) { return E_NOTIMPL; }
ULONG CMAPIFolder::RowCount() { return 0; }
LPSRowSet CMAPIFolder::QueryNextMarked() { return nullptr; }
LPSRowSet CMAPIFolder::QueryStatusRows() { return nullptr; }
LPSRowSet CMAPIFolder::QueryAllRows() { return nullptr; }
void CMAPIFolder::NarrowRange(ULONG&, ULONG&, std::string_view) {}
bool CMAPIFolder::IsKnown(ULONG, std::string_view) const { return false; }
void CMAPIFolder::Confirm(ULONG, std::string_view) {}
int CMAPIFolder::SaveCache() { return 0; }
void CMAPIFolder::StampChangeTime() {}
HRESULT CMAPIFolder::NewView(IMAPITable**) { return E_NOTIMPL; }
LPSRowSet CMAPIFolder::Query(const SRestriction*, std::initializer_list<ULONG>, LONG) { return nullptr; }
HRESULT CMAPIFolder::ReadRow(const SPropValue&, LPSRow*) { return E_NOTIMPL; }
HRESULT CMAPIFolder::FillProp(ULONG, void*, SPropValue&) { return E_NOTIMPL; }

}  // namespace quillory::quarnex

// What the connection does for the provider and the options page: the
// base newsgroups folder, the add-in window and its notices.
#include <algorithm>

#include "common/regstore.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/trace.h"
#include "platform/com/dispatch.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"
#include "tolvane/addin.h"
#include "tolvane/addin_window.h"
#include "tolvane/texts.h"

namespace quillory::tolvane {

namespace {

inline constexpr char kDefaultBaseFolderName[] = "Newsgroups";
const char kAnchor = 0;  // an address inside this library

// Whether a failure to open the stored base folder means it is gone (then
// another is chosen), rather than a passing trouble (then nothing changes).
bool FolderIsGone(HRESULT hr)
{
    return hr == MAPI_E_NOT_FOUND || hr == MAPI_E_INVALID_ENTRYID || hr == MAPI_E_UNKNOWN_ENTRYID ||
           hr == DISP_E_BADINDEX;
}

std::vector<BYTE> BytesOfHex(const CComBSTR& hex)
{
    auto bytes = HexToBin(hex.View());
    return bytes ? std::move(*bytes) : std::vector<BYTE>{};
}

LRESULT AddinWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        auto* addin = reinterpret_cast<COutlookAddin*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (addin && cds && cds->dwData >= kCopyDataFirst && cds->dwData <= kCopyDataLast) {
            // Data that claims bytes but has none is treated as none.
            std::span<const char> data;
            if (cds->lpData && cds->cbData) data = {static_cast<const char*>(cds->lpData), cds->cbData};
            try {
                addin->OnCopyData(cds->dwData, data);
            } catch (...) {
                Trace("AddinWindowProc -- notice %lu failed\n", static_cast<unsigned long>(cds->dwData));
            }
            return 0;
        }
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
}

}  // namespace

// ---- base folder ----

void COutlookAddin::AttachBaseFolder()
{
    baseFolder_.Detach();
    ComPtr<_NameSpace> ns;
    if (!application_ || FAILED(application_->get_Session(&ns)) || !ns) return;
    ComPtr<MAPIFolder> folder;
    RegBaseFolder reg;
    if (ReadBaseFolder(profileName_, reg)) {
        const CComBSTR folderHex(BinToHex(reg.FolderEntryId()));
        const HRESULT hr = ns->GetFolderFromID(folderHex.Get(), CComVariant::Text(BinToHex(reg.StoreEntryId())), &folder);
        if (FAILED(hr) && !FolderIsGone(hr)) {
            Trace("COutlookAddin::AttachBaseFolder -- the base folder cannot be opened now (0x%08X)\n",
                  static_cast<unsigned>(hr));
            return;  // stay detached; the registry keeps the user's choice
        }
    }
    if (!folder) {
        ComPtr<MAPIFolder> inbox;
        ComPtr<_Folders> folders;
        if (FAILED(ns->GetDefaultFolder(olFolderInbox, &inbox)) || FAILED(inbox->get_Folders(&folders))) return;
        if (FAILED(folders->Item(CComVariant::Text(kDefaultBaseFolderName), &folder)) &&
            FAILED(folders->Add(CComBSTR(kDefaultBaseFolderName).Get(), CComVariant::Missing(), &folder)))
            return;
        CComBSTR folderHex, storeHex, name;
        folder->get_EntryID(&folderHex);
        folder->get_StoreID(&storeHex);
        folder->get_Name(&name);
        const auto folderId = BytesOfHex(folderHex), storeId = BytesOfHex(storeHex);
        if (!profileName_.empty() && !folderId.empty() && !storeId.empty())
            WriteBaseFolder(profileName_, name.View(), folderId, storeId);
    }
    if (FAILED(baseFolder_.Attach(folder.Get()))) Trace("COutlookAddin::AttachBaseFolder -- the watcher failed\n");
}

void COutlookAddin::DetachBaseFolder() { baseFolder_.Detach(); }

// ---- the add-in window ----

std::string COutlookAddin::WindowText()
{
    WindowIdentity who;
    ComPtr<IMAPIProp> user;
    if (IMAPISession* session = Session(); session && SUCCEEDED(OpenSessionIdentity(session, &user))) {
        auto tags = MakeTagArray({PR_EMAIL_ADDRESS, PR_DISPLAY_NAME, PR_EMS_AB_PROXY_ADDRESSES});
        ULONG count = 0;
        MapiBuffer<SPropValue> v;
        if (SUCCEEDED(user->GetProps(tags.Get(), 0, &count, &v)) && count == 3) {
            auto text = [&](ULONG i, ULONG tag) {
                return v.Get()[i].ulPropTag == tag && v.Get()[i].Value.lpszA ? std::string(v.Get()[i].Value.lpszA)
                                                                             : std::string();
            };
            std::vector<std::string> proxies;
            if (v.Get()[2].ulPropTag == PR_EMS_AB_PROXY_ADDRESSES)
                for (ULONG i = 0; i < v.Get()[2].Value.MVszA.cValues; ++i)
                    if (const char* p = v.Get()[2].Value.MVszA.lppszA[i]) proxies.emplace_back(p);
            who = ChooseIdentity(text(0, PR_EMAIL_ADDRESS), text(1, PR_DISPLAY_NAME), proxies);
        }
    }
    RegBaseFolder reg;
    if (!ReadBaseFolder(profileName_, reg)) return ComposeWindowText(who, "", "");
    return ComposeWindowText(who, BinToHex(reg.FolderEntryId()), BinToHex(reg.StoreEntryId()));
}

void COutlookAddin::CreateAddinWindow()
{
    if (window_ || profileName_.empty()) return;
    windowClass_ = kWindowClassPrefix + profileName_;
    WNDCLASS wc{};
    wc.lpfnWndProc = AddinWindowProc;
    wc.hInstance = ModuleHandleOf(&kAnchor);
    wc.lpszClassName = windowClass_.c_str();
    // Another instance of the add-in in this profile holds the class: no window.
    if (!RegisterClass(&wc)) {
        Trace("COutlookAddin -- class %s is taken\n", windowClass_.c_str());
        windowClass_.clear();
        return;
    }
    window_ = CreateWindowEx(0, windowClass_.c_str(), "", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr,
                             wc.hInstance, nullptr);
    if (!window_) {
        UnregisterClass(windowClass_.c_str(), wc.hInstance);
        windowClass_.clear();
        return;
    }
    SetWindowLongPtr(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    RefreshWindowText();
}

void COutlookAddin::DestroyAddinWindow()
{
    if (window_) {
        SetWindowLongPtr(window_, GWLP_USERDATA, 0);
        DestroyWindow(std::exchange(window_, nullptr));
    }
    if (!windowClass_.empty()) UnregisterClass(std::exchange(windowClass_, std::string()).c_str(), ModuleHandleOf(&kAnchor));
}

void COutlookAddin::RefreshWindowText()
{
    if (window_) SetWindowText(window_, WindowText().c_str());
}

void COutlookAddin::OnCopyData(ULONG_PTR code, std::span<const char> data)
{
    switch (code) {
    case kCopyDataDetachBase:
        DetachBaseFolder();
        break;
    case kCopyDataBaseChanged:
        AttachBaseFolder();
        RefreshWindowText();
        break;
    case kCopyDataAccountCreated:
        if (const auto name = ParseAccountCreated(data)) AskNewAccount(*name);
        break;
    case kCopyDataAccountRenamed:
        if (const auto names = ParseAccountRenamed(data)) RenameAccountFolder(names->first, names->second);
        break;
    case kCopyDataLanguageChanged:
        PurgeAndRefresh();
        break;
    default:
        break;
    }
}

// ---- commands ----

void COutlookAddin::AskNewAccount(const std::string& accountName)
{
    const std::string text = FormatAddinText(kStrNewAccountQuestion, {accountName});
    const std::string caption = AddinText(kStrNewAccountCaption);
    if (MessageBox(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES)
        SubscribeCommand(accountName);
}

void COutlookAddin::RenameAccountFolder(const std::string& oldName, const std::string& newName)
{
    if (!baseFolder_.Connected() || oldName.empty() || newName.empty()) return;
    DWORD subfolders = kDefaultCreateSubfolders;
    ReadRegDword(ProfileKeyPath(profileName_), kValCreateSubfolders, subfolders, kDefaultCreateSubfolders);
    if (subfolders == 0) return;
    ComPtr<_Folders> folders;
    ComPtr<MAPIFolder> account;
    if (SUCCEEDED(baseFolder_.Folder()->get_Folders(&folders)) &&
        SUCCEEDED(folders->Item(CComVariant::Text(oldName), &account)))
        account->put_Name(CComBSTR(newName).Get());
}

void COutlookAddin::SubscribeCommand(const std::string& initialText)
{
    // The subscription dialog and the folders it makes come with the folder handling.
    Trace("COutlookAddin::SubscribeCommand -- '%s' (not offered yet)\n", initialText.c_str());
}

void COutlookAddin::FixReplySubject(COutlookInspector&)
{
    Trace("COutlookAddin::FixReplySubject -- not offered yet\n");
}

void COutlookAddin::PostMessagesOf(MAPIFolder*)
{
    Trace("COutlookAddin::PostMessagesOf -- not offered yet\n");
}

}  // namespace quillory::tolvane

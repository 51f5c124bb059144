// `quillory client --profile P [ACTION...]`: the mail client without
// windows. It logs on sharing its session with the add-ins, loads the
// add-ins of the add-in list as the mail client does, runs the actions in
// order, lets every queued event be raised, and disconnects the add-ins.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/addin_host.h"
#include "host/commands.h"
#include "host/mapi_host.h"
#include "host/send_receive.h"
#include "platform/base/window.h"
#include "platform/com/classfactory.h"
#include "platform/com/dispatch.h"
#include "platform/mapi/profile_admin.h"

namespace quillory::host {
namespace {

constexpr const char* kCommand = "client";
constexpr const char* kUsage = R"(usage: quillory client --profile P [ACTION...]

  Logs on to the profile, loads the add-ins of the mail client's add-in list
  (each named with what became of it), runs the actions in order, and
  disconnects the add-ins.

  actions:
    --explorer   opens a window on the Inbox and prints its menus
    --folders    prints the folders of the profile's stores
    --sync       runs one send and receive; this host stays responsive
                 meanwhile, so the add-ins see what arrives as it arrives
    --options    opens the options dialog: prints the pages the add-ins add
)";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

// Runs what is queued for this thread until nothing is left.
void PumpUntilIdle()
{
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
}

bool ProfileExists(const std::string& name)
{
    ComPtr<IProfAdmin> admin;
    ComPtr<IMAPITable> table;
    if (FAILED(MAPIAdminProfiles(0, &admin)) || FAILED(admin->GetProfileTable(0, &table))) return false;
    RowSetPtr keep;
    for (const auto& row : TableRows(table.Get(), {PR_DISPLAY_NAME}, keep))
        if (TextOf(row[0]) == name) return true;
    return false;
}

std::string Text(IDispatch* object, const char* name)
{
    CComVariant v;
    if (FAILED(DispGet(object, name, v))) return {};
    CComVariant text;
    return SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)) ? std::string(VariantText(text)) : std::string();
}

void PrintControls(IDispatch* bar, int depth)
{
    ComPtr<IDispatch> controls;
    if (FAILED(DispGetObject(bar, "Controls", controls))) return;
    CComVariant count;
    DispGet(controls.Get(), "Count", count);
    for (LONG i = 1; count.vt == VT_I4 && i <= count.lVal; ++i) {
        CComVariant control;
        if (FAILED(DispCall(controls.Get(), "Item", {CComVariant::Long(i)}, &control)) || control.vt != VT_DISPATCH)
            continue;
        const std::string id = Text(control.pdispVal, "Id");
        const bool builtIn = Text(control.pdispVal, "BuiltIn") == "-1";
        std::printf("%*s%s%s\n", depth * 2, "", Text(control.pdispVal, "Caption").c_str(),
                    builtIn ? (id == "0" ? "" : (" [" + id + "]").c_str()) : " (add-in)");
        ComPtr<IDispatch> popup;
        if (SUCCEEDED(DispGetObject(control.pdispVal, "CommandBar", popup))) PrintControls(popup.Get(), depth + 1);
    }
}

int OpenExplorer(_Application* app)
{
    ComPtr<_NameSpace> ns;
    ComPtr<MAPIFolder> inbox;
    ComPtr<_Explorers> explorers;
    ComPtr<_Explorer> explorer;
    ComPtr<_CommandBars> bars;
    ComPtr<CommandBar> menu;
    HRESULT hr = app->get_Session(&ns);
    if (SUCCEEDED(hr)) hr = ns->GetDefaultFolder(olFolderInbox, &inbox);
    if (SUCCEEDED(hr)) hr = app->get_Explorers(&explorers);
    if (SUCCEEDED(hr)) hr = explorers->Add(CComVariant::Dispatch(inbox.Get()), CComVariant::Missing(), &explorer);
    if (SUCCEEDED(hr)) hr = explorer->Display();
    if (SUCCEEDED(hr)) hr = explorer->get_CommandBars(&bars);
    if (SUCCEEDED(hr)) hr = bars->get_ActiveMenuBar(&menu);
    if (FAILED(hr)) return ReportFailure<IMAPISession>(kCommand, nullptr, hr, "opening a window");
    std::printf("Window \"%s\", menus:\n", Text(explorer.Get(), "Caption").c_str());
    PrintControls(menu.Get(), 1);
    return 0;
}

void PrintFolders(_Folders* folders, int depth)
{
    LONG count = 0;
    folders->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<MAPIFolder> folder;
        if (FAILED(folders->Item(CComVariant::Long(i), &folder))) continue;
        ComPtr<_Items> items;
        LONG messages = 0, unread = 0;
        if (SUCCEEDED(folder->get_Items(&items))) items->get_Count(&messages);
        folder->get_UnReadItemCount(&unread);
        std::printf("%*s%s (%ld, %ld unread)\n", depth * 2, "", Text(folder.Get(), "Name").c_str(),
                    static_cast<long>(messages), static_cast<long>(unread));
        ComPtr<_Folders> children;
        if (SUCCEEDED(folder->get_Folders(&children))) PrintFolders(children.Get(), depth + 1);
    }
}

int ListFolders(_Application* app)
{
    ComPtr<_NameSpace> ns;
    ComPtr<_Folders> tops;
    HRESULT hr = app->get_Session(&ns);
    if (SUCCEEDED(hr)) hr = ns->get_Folders(&tops);
    if (FAILED(hr)) return ReportFailure<IMAPISession>(kCommand, nullptr, hr, "reading the folders");
    PrintFolders(tops.Get(), 0);
    return 0;
}

// The spooler runs on a thread of its own, as a separate spooler would,
// with its own session; this thread pumps meanwhile, so that the add-ins'
// window answers the transports and the store's events reach the add-ins.
int SendAndReceive(const std::string& profile)
{
    int status = 1;
    std::atomic<bool> done{false};
    const DWORD pumping = GetCurrentThreadId();
    std::thread spooler([&] {
        ComPtr<IMAPISession> session;
        if (const HRESULT hr = MAPILogonEx(0, const_cast<LPSTR>(profile.c_str()), nullptr,
                                           MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, &session);
            FAILED(hr)) {
            ReportFailure<IMAPISession>(kCommand, nullptr, hr, "logging on for send and receive");
        } else {
            status = RunSendAndReceive(session.Get(), kCommand);
            session->Logoff(0, 0, 0);
        }
        done = true;
        PostThreadMessage(pumping, WM_NULL, 0, 0);  // wakes the pumping thread for its last round
    });
    while (!done) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        PumpUntilIdle();
    }
    spooler.join();
    PumpUntilIdle();
    return status;
}

int ShowOptions(_Application* app)
{
    std::vector<outlook::OptionsPage> pages;
    if (const HRESULT hr = outlook::CollectOptionsPages(app, pages); FAILED(hr))
        return ReportFailure<IMAPISession>(kCommand, nullptr, hr, "opening the options");
    std::printf("Options pages: %zu\n", pages.size());
    for (const auto& p : pages) {
        if (p.page.vt != VT_BSTR) {
            std::printf("  %s: a page object\n", p.title.c_str());
            continue;
        }
        const std::string progId(VariantText(p.page));
        CLSID clsid{};
        ComPtr<PropertyPage> page;
        HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
        if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PropertyPage, page.AsVoidOut());
        if (SUCCEEDED(hr))
            std::printf("  %s: %s\n", p.title.c_str(), progId.c_str());
        else
            std::printf("  %s: %s cannot be created (0x%08X)\n", p.title.c_str(), progId.c_str(), static_cast<unsigned>(hr));
    }
    return 0;
}

}  // namespace

int RunClientCommand(Args args)
{
    std::string profile;
    std::vector<std::string_view> actions;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--profile" && i + 1 < args.size() && profile.empty())
            profile = std::string(args[++i]);
        else if (args[i] == "--explorer" || args[i] == "--folders" || args[i] == "--sync" || args[i] == "--options")
            actions.push_back(args[i]);
        else
            return Usage();
    }
    if (profile.empty()) return Usage();
    MapiSession mapi;
    if (FAILED(mapi.Result())) return ReportFailure<IMAPISession>(kCommand, nullptr, mapi.Result(), "starting MAPI");
    if (!ProfileExists(profile)) {
        std::fprintf(stderr, "quillory client: there is no profile \"%s\".\n", profile.c_str());
        return 2;
    }
    // The add-ins share this session (MAPI_ALLOW_OTHERS) through their own logons.
    ComPtr<IMAPISession> session;
    if (const HRESULT hr = MAPILogonEx(0, profile.data(), nullptr,
                                       MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS, &session);
        FAILED(hr))
        return ReportFailure<IMAPISession>(kCommand, nullptr, hr, "logging on to the profile '" + profile + "'");
    CHeadlessHost windows;
    ComPtr<_Application> app;
    if (const HRESULT hr = outlook::CreateApplication(session.Get(), &windows, &app); FAILED(hr)) {
        session->Logoff(0, 0, 0);
        return ReportFailure<IMAPISession>(kCommand, nullptr, hr, "opening the profile's stores");
    }
    int status = 0;
    {
        CAddinHost addins(app.Get());
        for (const AddinReport& r : addins.LoadAll()) {
            if (FAILED(r.hr))
                std::printf("add-in %s: %s (0x%08X)\n", r.progId.c_str(), r.outcome.c_str(), static_cast<unsigned>(r.hr));
            else
                std::printf("add-in %s: %s\n", r.progId.c_str(), r.outcome.c_str());
        }
        PumpUntilIdle();
        for (std::string_view action : actions) {
            int result = 0;
            if (action == "--explorer") result = OpenExplorer(app.Get());
            if (action == "--folders") result = ListFolders(app.Get());
            if (action == "--sync") result = SendAndReceive(profile);
            if (action == "--options") result = ShowOptions(app.Get());
            PumpUntilIdle();
            if (result != 0) status = result;
        }
        addins.DisconnectAll();
    }
    outlook::ShutdownApplication(app.Get());
    app = nullptr;
    session->Logoff(0, 0, 0);
    return status;
}

}  // namespace quillory::host

#include "host/addin_host.h"

#include <algorithm>
#include <cstdio>

#include "host/mapi_host.h"
#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/com/classfactory.h"
#include "platform/com/guid.h"

namespace quillory::host {

namespace {

// The ProgIDs listed under the add-in key, in the registry's order.
std::vector<std::string> ListedAddins()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, outlook::kAddinListKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    for (DWORD i = 0;; ++i) {
        char name[REG_MAX_KEY_NAME + 1];
        DWORD length = sizeof name;
        if (RegEnumKeyEx(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

// "LoadBehavior" of an add-in's key; nothing when it is missing or not a DWORD.
std::optional<DWORD> LoadBehaviorOf(const std::string& progId)
{
    const std::string path = std::string(outlook::kAddinListKey) + "\\" + progId;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD value = 0, type = 0, size = sizeof value;
    const LONG rc = RegQueryValueEx(key, outlook::kValLoadBehavior, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
    return value;
}

}  // namespace

AddinReport CAddinHost::Load(const std::string& progId)
{
    AddinReport report{progId, {}, S_OK};
    const auto behavior = LoadBehaviorOf(progId);
    if (!behavior || *behavior != outlook::kLoadAtStartup) {
        report.outcome = behavior ? "not loaded: its LoadBehavior is " + std::to_string(*behavior) + ", not 3"
                                  : "not loaded: it has no LoadBehavior";
        return report;
    }
    CLSID clsid{};
    if ((report.hr = CLSIDFromProgID(progId.c_str(), &clsid)) != S_OK) {
        report.outcome = "not loaded: the ProgID names no registered class";
        return report;
    }
    LoadedAddin loaded{progId, nullptr, false};
    report.hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDTExtensibility2, loaded.addin.AsVoidOut());
    if (FAILED(report.hr)) {
        report.outcome = "not loaded: its class " + GuidToString(clsid) + " cannot be created";
        return report;
    }
    report.hr = loaded.addin->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr);
    if (FAILED(report.hr)) {
        report.outcome = "not loaded: its connection failed";
        return report;  // released: nothing of it stays
    }
    loaded.active = report.hr == S_OK;
    report.outcome = loaded.active ? "connected" : "loaded, inactive in this profile";
    loaded_.push_back(std::move(loaded));
    return report;
}

std::vector<AddinReport> CAddinHost::LoadAll()
{
    std::vector<AddinReport> reports;
    for (const std::string& progId : ListedAddins()) reports.push_back(Load(progId));
    outlook::RaiseStartup(app_.Get());
    for (auto& a : loaded_) a.addin->OnStartupComplete(nullptr);
    return reports;
}

void CAddinHost::DisconnectAll()
{
    for (auto& a : loaded_) a.addin->OnBeginShutdown(nullptr);
    while (!loaded_.empty()) {
        LoadedAddin last = std::move(loaded_.back());
        loaded_.pop_back();
        last.addin->OnDisconnection(ext_dm_HostShutdown, nullptr);
    }
}

void CHeadlessHost::ExecuteBuiltinControl(LONG id, IDispatch*)
{
    executed.push_back(id);
    Trace("quillory client -- command %ld\n", static_cast<long>(id));
}

}  // namespace quillory::host

#include "provider/nntp/dialup.h"

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

#include <strings.h>

#include <cstring>
#include <memory>
#include <string>

namespace quillory::quarnex {
namespace {

constexpr const char* kWininetModule = "wininet.dll";
constexpr const char* kRasModule = "rasapi32.dll";

template <class Fn>
Fn Bind(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
}

// A RASCONNA array on the heap of a byte size that need not be a multiple of
// the entry size.
struct RasBuffer {
    explicit RasBuffer(DWORD bytes)
        : size(bytes < sizeof(RASCONNA) ? static_cast<DWORD>(sizeof(RASCONNA)) : bytes),
          entries(std::make_unique<RASCONNA[]>((size + sizeof(RASCONNA) - 1) / sizeof(RASCONNA)))
    {
        entries[0].dwSize = sizeof(RASCONNA);
    }
    DWORD size;
    std::unique_ptr<RASCONNA[]> entries;
};

}  // namespace

CDialup::~CDialup()
{
    if (wininet_) FreeLibrary(wininet_);
    if (rasapi_) FreeLibrary(rasapi_);
}

bool CDialup::BindDial()
{
    if (!wininet_) wininet_ = LoadLibrary(kWininetModule);
    if (!wininet_) return false;
    if (!dial_) dial_ = Bind<PFN_InternetDialA>(wininet_, "InternetDialA");
    if (!hangUp_) hangUp_ = Bind<PFN_InternetHangUp>(wininet_, "InternetHangUp");
    return dial_ && hangUp_;
}

bool CDialup::BindRas()
{
    if (!rasapi_) rasapi_ = LoadLibrary(kRasModule);
    if (!rasapi_) return false;
    if (!enumConnections_) enumConnections_ = Bind<PFN_RasEnumConnectionsA>(rasapi_, "RasEnumConnectionsA");
    if (!connectStatus_) connectStatus_ = Bind<PFN_RasGetConnectStatusA>(rasapi_, "RasGetConnectStatusA");
    if (!errorString_) errorString_ = Bind<PFN_RasGetErrorStringA>(rasapi_, "RasGetErrorStringA");
    return enumConnections_ && connectStatus_ && errorString_;
}

bool CDialup::IsConnectionUp(std::string_view name)
{
    if (!BindRas()) return false;
    RasBuffer buffer(kRasEnumFirstBufferSize);
    DWORD count = 0;
    DWORD result = ERROR_BUFFER_TOO_SMALL;
    for (int attempt = 0; attempt < kRasEnumAttempts; ++attempt) {
        DWORD size = buffer.size;
        result = enumConnections_(buffer.entries.get(), &size, &count);
        if (result != ERROR_BUFFER_TOO_SMALL) break;
        buffer = RasBuffer(size);
    }
    if (result != 0) {
        Trace("CDialup::IsConnectionUp -- connection list failed (%u)\n", result);
        return false;
    }
    const std::string wanted(name);
    for (DWORD i = 0; i < count && i * sizeof(RASCONNA) < buffer.size; ++i) {
        const RASCONNA& entry = buffer.entries[i];
        if (strncasecmp(entry.szEntryName, wanted.c_str(), sizeof entry.szEntryName) != 0) continue;
        RASCONNSTATUSA status{};
        status.dwSize = sizeof status;
        return connectStatus_(entry.hrasconn, &status) == 0 && status.rasconnstate == RASCS_Connected;
    }
    return false;
}

DWORD CDialup::Dial(std::string_view name, bool unattended, DWORD_PTR& handle)
{
    handle = 0;
    if (!BindDial()) return static_cast<DWORD>(ERROR_PROC_NOT_FOUND);
    std::string connectoid(name);
    const DWORD flags = unattended ? INTERNET_DIAL_UNATTENDED : INTERNET_DIAL_FORCE_PROMPT;
    const DWORD result = dial_(nullptr, connectoid.data(), flags, &handle, 0);
    if (result != 0) {
        handle = 0;
        char text[256] = "";
        if (BindRas() && errorString_(result, text, sizeof text) != 0) text[0] = '\0';
        Trace("CDialup::Dial(%s) -- failed %u %s\n", connectoid.c_str(), result, text);
    }
    return result;
}

void CDialup::HangUp(DWORD_PTR handle)
{
    if (hangUp_) hangUp_(handle, 0);
}

}  // namespace quillory::quarnex

// A message service for the profile tests, built as libqtestsvc32.so and
// named "qtestsvc.dll" in the tests' service lists. Its entry appends one
// line per call to <QUILLORY_HOME>/service-calls.log ("context flags count
// uiParam"), stores configuration values in the service's section, and
// refuses what the environment asks it to (QTESTSVC_REFUSE=<context>).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>

#include "platform/mapi/mapitags.h"
#include "platform/mapi/service_admin_core.h"

namespace {

// The context of the latest create or configure call, in the service's section.
constexpr ULONG kLastContextTag = 0x67000003;

void Log(ULONG context, ULONG flags, ULONG count, ULONG ui)
{
    const char* home = std::getenv("QUILLORY_HOME");
    if (!home) return;
    const std::string path = std::string(home) + "/service-calls.log";
    if (FILE* f = std::fopen(path.c_str(), "a")) {
        std::fprintf(f, "%u %u %u %u\n", context, flags, count, ui);
        std::fclose(f);
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT ServiceEntry(
    HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG ulUIParam, ULONG ulFlags, ULONG ulContext,
    ULONG cValues, LPSPropValue lpProps, LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    static_assert(std::is_same_v<decltype(ServiceEntry), MSGSERVICEENTRY>);
    Log(ulContext, ulFlags, cValues, ulUIParam);
    if (const char* refuse = std::getenv("QTESTSVC_REFUSE"); refuse && std::atoi(refuse) == static_cast<int>(ulContext))
        return MAPI_E_USER_CANCEL;
    if (!hInstance || !lpProviderAdmin) return E_FAIL;
    if (ulContext != MSG_SERVICE_CREATE && ulContext != MSG_SERVICE_CONFIGURE) return S_OK;

    LPPROFSECT section = nullptr;
    HRESULT hr = lpProviderAdmin->OpenProfileSection(nullptr, nullptr, MAPI_MODIFY, &section);
    if (FAILED(hr)) return hr;
    SPropValue last{};
    last.ulPropTag = kLastContextTag;
    last.Value.l = static_cast<LONG>(ulContext);
    hr = section->SetProps(1, &last, nullptr);
    if (SUCCEEDED(hr) && cValues) hr = section->SetProps(cValues, lpProps, nullptr);
    section->Release();
    return hr;
}

#include "provider/entry/service_entry.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "common/regstore.h"
#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"
#include "provider/entry/gui_binding.h"
#include "provider/entry/module_state.h"
#include "provider/settings/account_settings.h"
#include "provider/settings/addin_window.h"

namespace quillory {

namespace {

// What the save callback writes to, and the array its caller holds (which
// the callback replaces when it reads the array back).
struct SaveContext {
    LPMAPIPROP target = nullptr;
    LPSPropValue* current = nullptr;
};

HRESULT SaveToSection(LPSPropValue array, LPSPropValue* newArray, void* context)
{
    auto* ctx = static_cast<SaveContext*>(context);
    if (!ctx || !ctx->target || !array) return E_INVALIDARG;
    if (const HRESULT hr = WriteAccountArray(ctx->target, array); FAILED(hr)) return hr;
    if (!newArray) return S_OK;
    quarnex::ProviderBuffer<SPropValue> fresh;
    if (FAILED(ReadAccountArray(ctx->target, fresh))) return E_FAIL;
    *newArray = fresh.Release();
    if (ctx->current && *ctx->current == array) *ctx->current = *newArray;
    quarnex::FreeBuffer(array);
    return S_OK;
}

// The wizard page's variant: MAPI's own routines, and the two flags cleared.
HRESULT SaveToWizardObject(LPSPropValue array, LPSPropValue* newArray, void* context)
{
    auto* ctx = static_cast<SaveContext*>(context);
    if (!ctx || !ctx->target || !array) return E_INVALIDARG;
    HRESULT hr = ctx->target->SetProps(acct::kCount, array, nullptr);
    if (FAILED(hr)) return hr;
    SPropValue flags[2] = {};
    flags[0].ulPropTag = PR_WIZARD_FLAG_A;
    flags[1].ulPropTag = PR_WIZARD_FLAG_B;
    ctx->target->SetProps(2, flags, nullptr);
    ctx->target->SaveChanges(KEEP_OPEN_READWRITE);
    if (!newArray) return S_OK;
    quarnex::ProviderBuffer<SPropValue> fresh;
    if (FAILED(ReadAccountArray(ctx->target, fresh))) return E_FAIL;
    *newArray = fresh.Release();
    if (ctx->current && *ctx->current == array) *ctx->current = *newArray;
    MAPIFreeBuffer(array);
    return S_OK;
}

std::string ProfileNameOf(LPMAPIPROP section)
{
    quarnex::ProviderBuffer<SPropValue> name;
    if (FAILED(HrGetOneProp(section, PR_PROFILE_NAME, name.Out()))) return {};
    return name->Value.lpszA;
}

// Puts a copy of `text` at `index`, chained to the array.
void SetArrayString(LPSPropValue array, int index, const std::string& text)
{
    void* p = nullptr;
    if (FAILED(quarnex::AllocateMore(static_cast<ULONG>(text.size() + 1), array, &p))) return;
    std::memcpy(p, text.c_str(), text.size() + 1);
    array[index].ulPropTag = acct::kTags[static_cast<std::size_t>(index)];
    array[index].Value.lpszA = static_cast<LPSTR>(p);
}

HRESULT OpenServiceSection(LPPROVIDERADMIN admin, ComPtr<IProfSect>& section)
{
    if (!admin) return E_FAIL;
    if (FAILED(admin->OpenProfileSection(nullptr, nullptr, MAPI_MODIFY, &section)) || !section) return E_FAIL;
    return S_OK;
}

}  // namespace

HRESULT RunAccountWizard(LPMAPIPROP target, bool prefill, bool wizardEntrySave)
{
    CGuiExport wizard(vismora::kWizardGui);
    if (!wizard.Available()) return E_FAIL;
    quarnex::ProviderBuffer<SPropValue> array;
    if (FAILED(ReadAccountArray(target, array))) return E_FAIL;

    std::string profile = ProfileNameOf(target);
    if (prefill) {
        if (const auto text = ReadAddinWindowText(profile)) {
            const AddinWindowText fields = ParseAddinWindowText(*text);
            if (!fields.userName.empty()) {
                SetArrayString(array.Get(), acct::kUserName, fields.userName);
                SetArrayString(array.Get(), acct::kEmailAddress, fields.email);
            }
        }
    }
    array.Get()[acct::kAccountKind].ulPropTag = acct::PR_NNTP_ACCOUNT_KIND;
    array.Get()[acct::kAccountKind].Value.l = acct::kAccountKindNntp;

    LPSPropValue current = array.Release();
    SaveContext ctx{target, &current};
    const int finished = wizard.As<vismora::AccountDialogFn>()(
        current, wizardEntrySave ? &MAPIAllocateMore : quarnex::ModuleAllocators().allocateMore,
        wizardEntrySave ? &SaveToWizardObject : &SaveToSection, &ctx);
    HRESULT hr = MAPI_E_USER_CANCEL;
    if (finished) {
        if (const char* name = AccountString(current, acct::kAccountName)) {
            std::string data(name);
            data.push_back('\0');
            NotifyAddinWindow(profile, kCopyDataAccountCreated, data);
        }
        hr = S_OK;
    }
    if (wizardEntrySave)
        MAPIFreeBuffer(current);
    else
        quarnex::FreeBuffer(current);
    return hr;
}

HRESULT RunSettingsDialog(LPMAPIPROP section)
{
    CGuiExport settings(vismora::kSettingsGui);
    if (!settings.Available()) return E_FAIL;
    quarnex::ProviderBuffer<SPropValue> array;
    if (FAILED(ReadAccountArray(section, array))) return E_FAIL;
    const char* oldName = AccountString(array.Get(), acct::kAccountName);
    const std::string before = oldName ? oldName : "";

    LPSPropValue current = array.Release();
    SaveContext ctx{section, &current};
    const int done = settings.As<vismora::AccountDialogFn>()(current, quarnex::ModuleAllocators().allocateMore,
                                                    &SaveToSection, &ctx);
    array.Reset(current);
    HRESULT hr = MAPI_E_USER_CANCEL;
    if (done) {
        hr = S_OK;
        quarnex::ProviderBuffer<SPropValue> after;
        if (!before.empty() && SUCCEEDED(ReadAccountArray(section, after))) {
            const char* newName = AccountString(after.Get(), acct::kAccountName);
            if (newName && strcasecmp(newName, before.c_str()) != 0) {
                const std::string profile = ProfileNameOf(section);
                DWORD subfolders = kDefaultCreateSubfolders;
                ReadRegDword(ProfileKeyPath(profile), kValCreateSubfolders, subfolders, kDefaultCreateSubfolders);
                if (subfolders != 0) {
                    std::string data = before;
                    data.push_back('\0');
                    data += newName;
                    data.push_back('\0');
                    NotifyAddinWindow(profile, kCopyDataAccountRenamed, data);
                }
            }
        }
    }
    // The spooler may not start the transport until 20 seconds from now.
    quarnex::RecordSettingsClosed();
    return hr;
}

HRESULT ServiceEntryImpl(HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam,
                         ULONG ulFlags, ULONG ulContext, ULONG cValues, LPSPropValue lpProps,
                         LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    quarnex::RememberModuleInstance(hInstance);
    if (lppMapiError) *lppMapiError = nullptr;
    switch (ulContext) {
    case MSG_SERVICE_INSTALL:
    case MSG_SERVICE_UNINSTALL: return S_OK;
    case MSG_SERVICE_PROVIDER_CREATE:
    case MSG_SERVICE_PROVIDER_DELETE: return MAPI_E_NO_SUPPORT;
    default: break;
    }
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (!quarnex::HaveAllocators() && lpMAPISup) {
        quarnex::Allocators given;
        if (FAILED(lpMAPISup->GetMemAllocRoutines(&given.allocateBuffer, &given.allocateMore, &given.freeBuffer)))
            return E_FAIL;
        quarnex::TakeAllocatorsIfMissing(given);
    }
    const bool ui = (ulFlags & (SERVICE_UI_ALWAYS | SERVICE_UI_ALLOWED)) != 0;
    ComPtr<IProfSect> section;
    switch (ulContext) {
    case MSG_SERVICE_CREATE:
        if (!ui) return E_FAIL;
        if (FAILED(OpenServiceSection(lpProviderAdmin, section))) return E_FAIL;
        return RunAccountWizard(section.Get(), true, false);
    case MSG_SERVICE_CONFIGURE:
        if (ui) {
            if (FAILED(OpenServiceSection(lpProviderAdmin, section))) return E_FAIL;
            // A cancelled dialog changed nothing and is no failure; a missing
            // GUI library is.
            const HRESULT hr = RunSettingsDialog(section.Get());
            return hr == E_FAIL ? E_FAIL : S_OK;
        }
        if (!cValues || !lpProps) return E_FAIL;
        if (FAILED(OpenServiceSection(lpProviderAdmin, section))) return E_FAIL;
        return section->SetProps(cValues, lpProps, nullptr);
    default: return S_OK;  // MSG_SERVICE_DELETE
    }
}

}  // namespace quillory

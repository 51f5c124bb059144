// The add-in library's module object (`CtolvaneModule`): its lock count,
// its classes, and the registration of both (the registry scripts it
// carries, with the module's path and AppID filled in, and its type library).
#pragma once

#include <mutex>

#include "platform/com/comobject.h"
#include "platform/com/registrar.h"

namespace quillory::tolvane {

class CtolvaneModule final : public CComModule {
public:
    // The registrar, made with CoCreateInstance on first use and kept; each
    // caller gets a reference of its own.
    HRESULT GetRegistrar(IRegistrar** out);
    // "APPID" = the library's AppID.
    HRESULT AddAppIdReplacement(IRegistrar* registrar);

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
    // The first failure is the answer.
    HRESULT RegisterServer();
    HRESULT UnregisterServer();

    ~CtolvaneModule() override;

private:
    HRESULT RunScript(WORD id, bool doRegister, bool control);

    std::mutex mutex_;
    IRegistrar* registrar_ = nullptr;
};

CtolvaneModule& Module();

}  // namespace quillory::tolvane

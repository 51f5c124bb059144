// The GUI library binding: the library named by the registry value
// "VISMORA" (default "VISMORA.DLL") is loaded for one call of one export and
// freed after it, and the export types the configuration entries call.
#pragma once

#include "platform/base/module.h"
#include "platform/base/wintypes.h"
#include "platform/mapi/mapidefs.h"

namespace quillory {

// Called by the GUI library when the user applies or finishes: stores the
// array; with `newArray` it also reads the array back, hands the fresh one
// out there and frees `array`.
using AccountSaveCallback = HRESULT (*)(LPSPropValue array, LPSPropValue* newArray, void* context);

// "SettingsGUI" and "WizardGUI": (array, AllocateMore chained to the array,
// save callback, its context) -> non-zero when the user finished.
using AccountDialogFn = int (*)(LPSPropValue array, LPALLOCATEMORE allocateMore, AccountSaveCallback save,
                                void* context);
// "LocalizeDlg": (dialog window, string id of its caption) -> 0.
using LocalizeDlgFn = int (*)(HWND dialog, UINT stringId);

inline constexpr char kSettingsGuiExport[] = "SettingsGUI";
inline constexpr char kWizardGuiExport[] = "WizardGUI";
inline constexpr char kLocalizeDlgExport[] = "LocalizeDlg";

// One binding of one export; the library is freed when the binding goes.
class CGuiExport {
public:
    explicit CGuiExport(const char* exportName);
    ~CGuiExport();
    CGuiExport(const CGuiExport&) = delete;
    CGuiExport& operator=(const CGuiExport&) = delete;

    bool Available() const { return proc_ != nullptr; }
    template <class Fn>
    Fn As() const
    {
        return reinterpret_cast<Fn>(proc_);
    }

private:
    HMODULE library_ = nullptr;
    FARPROC proc_ = nullptr;
};

}  // namespace quillory

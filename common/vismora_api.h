// The GUI library's exports ("VISMORA.DLL", found by the registry value
// "VISMORA"): their names and types, one definition for every caller (the
// provider, the add-in) and for the test doubles that stand in for the
// library. Callers load the library by name for a call, bind the export by
// name and free the library after it.
//
// All strings are 8-bit UTF-8. The account array is the provider's 31
// entries (common/account_props.h); strings the library stores into it are
// allocated with the given AllocateMore routine, chained to the array.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/com/unknwn.h"
#include "platform/inetcomm/nntp/nntp_transport.h"
#include "platform/mapi/mapidefs.h"

namespace quillory::vismora {

// Called by the library when the user applies or finishes: stores the array;
// with `newArray` it also reads the array back, hands the fresh one out there
// and frees `array`.
using AccountSaveCallback = HRESULT (*)(LPSPropValue array, LPSPropValue* newArray, void* context);

// "Ok": a box saying that the library loads; the box's answer.
using OkFn = int (*)();
// "ShowWnd": the run-a-library-function entry; "-h" at the end of the
// command line opens the help contents, anything else lists the switches.
using ShowWndFn = int (*)(HWND window, HINSTANCE module, LPCSTR commandLine, int show);
// "ErrorGUI": a modal error box with expandable details over `parent`; 1.
using ErrorGuiFn = int (*)(HWND parent, LPCSTR message, LPCSTR details);
// "FillIS": the server record from the account, and (when `configText` is
// not null) the configuration text, at most kConfigTextSize bytes with its
// NUL; 1.
using FillIsFn = int (*)(LPSPropValue account, INETSERVER* server, LPSTR configText);
// "LocalizeDlg": caption and control texts of a dialog window from the
// string table by id; 0.
using LocalizeDlgFn = int (*)(HWND dialog, UINT stringId);
// "LogonPrompt": asks for user name and password; 1 when the user pressed
// OK (the record then holds them; `saved`, when not null, is 1 when the
// array now remembers them), else 0.
using LogonPromptFn = int (*)(LPSPropValue account, INETSERVER* server, LPALLOCATEMORE allocateMore, ULONG* saved);
// "ProfileGUI": the profile wizard for a MAPI profile; 1 when a base
// folder was chosen and stored.
using ProfileGuiFn = int (*)(LPCSTR profileName, IUnknown* outlook);
// "SettingsGUI" (1 however it closed) and "WizardGUI" (1 on Finish).
using AccountDialogFn = int (*)(LPSPropValue account, LPALLOCATEMORE allocateMore, AccountSaveCallback save,
                                void* context);
// "Subscribe": the subscription dialog over `count` accounts; the newly
// subscribed "account/group" strings come back in `result` (NUL-separated,
// ending with an empty string); 1.
using SubscribeFn = int (*)(ULONG count, LPSPropValue* accounts, ULONG resultSize, LPSTR result);

inline constexpr char kOk[] = "Ok";
inline constexpr char kShowWnd[] = "ShowWnd";
inline constexpr char kErrorGui[] = "ErrorGUI";
inline constexpr char kFillIs[] = "FillIS";
inline constexpr char kLocalizeDlg[] = "LocalizeDlg";
inline constexpr char kLogonPrompt[] = "LogonPrompt";
inline constexpr char kProfileGui[] = "ProfileGUI";
inline constexpr char kSettingsGui[] = "SettingsGUI";
inline constexpr char kSubscribe[] = "Subscribe";
inline constexpr char kWizardGui[] = "WizardGUI";

// The configuration text's room: what every caller gives FillIS.
constexpr std::size_t kConfigTextSize = 1000;

}  // namespace quillory::vismora

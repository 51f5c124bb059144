// The registrar: runs the registry scripts a COM server carries.
//
// A script names keys under a root and the values they hold:
//
//   HKCR
//   {
//       NoRemove AppID
//       {
//           '%APPID%' = s 'tolvane'
//           'tolvane.DLL' { val AppID = s '%APPID%' }
//       }
//   }
//
// Roots: HKCR, HKCU, HKLM (or their long names). A key is a bare word or a
// quoted name ('' inside quotes is one quote); "= s|d|b 'data'" sets its
// default value (string, DWORD in decimal or 0x hex, binary in hex digits);
// "val NAME = ..." sets a named value. Modifiers before a key name:
// NoRemove (kept when unregistering; what is inside is still unregistered),
// ForceRemove (removed whole, then made again, when registering) and Delete
// (removed when registering, untouched when unregistering). Unregistering
// removes every other key whole, and the named values of kept keys.
//
// %NAME% is replaced by the replacement added under NAME, and %% is one %.
// Replacement happens inside the words of the script after they are read,
// so a value holding quotes, braces or '=' (a module path with "'" or "}")
// can never change the script's structure; an unknown NAME fails the script.
// A script is read whole before anything is written: a malformed one
// changes nothing.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/com/oleauto.h"

// The registrar class, created through CoCreateInstance.
constexpr CLSID CLSID_Registrar = {0x4163EF02, 0x3016, 0x4EBD, {0x94, 0xB6, 0x97, 0x35, 0xF2, 0xF4, 0xCB, 0xE3}};
constexpr IID IID_IRegistrar = {0x49E0741B, 0xFDBE, 0x419E, {0xBC, 0xF0, 0x55, 0x72, 0x40, 0xB1, 0x7C, 0xE2}};

class IRegistrar : public IUnknown {
public:
    virtual HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item) = 0;
    virtual HRESULT ClearReplacements() = 0;
    // A script resource of a module (given by path) named by text ("#7300" or a name).
    virtual HRESULT ResourceRegisterSz(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
    virtual HRESULT ResourceUnregisterSz(LPCOLESTR resFileName, LPCOLESTR szID, LPCOLESTR szType) = 0;
    // A script in a file.
    virtual HRESULT FileRegister(LPCOLESTR fileName) = 0;
    virtual HRESULT FileUnregister(LPCOLESTR fileName) = 0;
    // A script given as text.
    virtual HRESULT StringRegister(LPCOLESTR data) = 0;
    virtual HRESULT StringUnregister(LPCOLESTR data) = 0;
    // A script resource of a module named by number.
    virtual HRESULT ResourceRegister(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
    virtual HRESULT ResourceUnregister(LPCOLESTR resFileName, UINT nID, LPCOLESTR szType) = 0;
};

namespace quillory {

using Replacements = std::map<std::string, std::string, std::less<>>;

// Runs a script: S_OK, E_FAIL for a script that does not read (the error
// names the line), or the first registry failure as an HRESULT.
HRESULT RunRegistryScript(std::string_view script, const Replacements& replacements, bool doRegister,
                          std::string* error = nullptr);

// Checks a script without running it (for the fuzz target and tests).
bool ParseRegistryScript(std::string_view script, const Replacements& replacements, std::string* error);

HRESULT CreateRegistrar(REFIID riid, void** ppv);

}  // namespace quillory

// Type information, as small as the system needs it: a type library names
// its interfaces and classes, and an interface's type information answers
// its members' names and dispatch ids.
//
// A library is a text resource (type "TYPELIB") of lines:
//   library {LIBID} MAJOR.MINOR NAME "help string"
//   interface {IID} NAME dual|dispatch "help string"
//   member DISPID NAME method|get|put|getput
//   coclass {CLSID} NAME "help string" DEFAULT-INTERFACE
// '#' starts a comment line; "member" lines belong to the interface above.
//
// RegisterTypeLib writes HKEY_CLASSES_ROOT "TypeLib\{LIBID}\MAJOR.MINOR"
// (help string, "0\linux" = the file, "FLAGS", "HELPDIR") and, for each
// interface, "Interface\{IID}" (name, "ProxyStubClsid32", "TypeLib" with
// "Version"); UnRegisterTypeLib removes exactly those keys and leaves the
// parents "TypeLib" and "Interface" in place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/oleauto.h"

enum TYPEKIND { TKIND_ENUM = 0, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS };

constexpr WORD TYPEFLAG_FDUAL = 0x40;
constexpr WORD TYPEFLAG_FDISPATCHABLE = 0x1000;
constexpr WORD TYPEFLAG_FCANCREATE = 0x2;

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    WORD cFuncs;
    WORD cImplTypes;
    TYPEKIND typekind;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
};

struct TLIBATTR {
    GUID guid;
    LCID lcid;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

enum REGKIND { REGKIND_DEFAULT = 0, REGKIND_REGISTER, REGKIND_NONE };

class ITypeLib;

class ITypeInfo : public IUnknown {
public:
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    // Ids of a member name (compared without regard to ASCII case); named
    // arguments are not described (DISP_E_UNKNOWNNAME).
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    // MEMBERID_NIL (-1) describes the type itself.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
};

class ITypeLib : public IUnknown {
public:
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
    virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
};

constexpr MEMBERID MEMBERID_NIL = -1;

// Loads a library from a module's "TYPELIB" resource 1 (szFile is the
// module's path, "path\N" picks resource N) or from a file holding the
// text. REGKIND_REGISTER registers it as well.
HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib);
HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib);
// Loads the library registered under the id and version.
HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib);
HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
enum SYSKIND { SYS_WIN16 = 0, SYS_WIN32, SYS_MAC, SYS_WIN64 };
HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND syskind);

namespace quillory {

// One member of a described interface.
struct TypeMember {
    std::string name;
    DISPID id = DISPID_UNKNOWN;
    WORD flags = 0;  // DISPATCH_METHOD / DISPATCH_PROPERTYGET / DISPATCH_PROPERTYPUT
};

// Type information over a list of members, for objects that describe
// themselves (their dispatch tables); not part of any library.
HRESULT CreateMemberTypeInfo(REFIID iid, std::string_view name, std::vector<TypeMember> members,
                             ITypeInfo** out);

// Parses library text; the error names the line. For tests and the loader.
HRESULT ParseTypeLibText(std::string_view text, ITypeLib** out, std::string* error);

}  // namespace quillory

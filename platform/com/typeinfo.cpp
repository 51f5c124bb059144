// Type libraries in their text form, their registration, and type
// information over member lists.
#include "platform/com/typeinfo.h"

#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <strings.h>

#include "platform/base/registry.h"
#include "platform/com/com_ptr.h"
#include "platform/com/com_registry.h"
#include "platform/com/guid.h"
#include "platform/com/refcounted.h"

namespace quillory {
namespace {

// The automation marshaler, named as the proxy of every dual interface.
constexpr char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";
constexpr char kPlatformKey[] = "linux";
constexpr char kTypeLibResource[] = "TYPELIB";

HRESULT CopyText(std::string_view text, BSTR* out)
{
    if (!out) return S_OK;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

struct TypeDesc {
    GUID guid{};
    std::string name;
    std::string help;
    TYPEKIND kind = TKIND_DISPATCH;
    WORD flags = 0;
    std::vector<TypeMember> members;
};

struct LibDesc {
    GUID guid{};
    WORD major = 0;
    WORD minor = 0;
    std::string name;
    std::string help;
    std::vector<TypeDesc> types;
};

class CTypeLib;

class CTypeInfo final : public ITypeInfo, public CRefCounted {
public:
    CTypeInfo(TypeDesc desc, ComPtr<ITypeLib> lib, UINT index) : desc_(std::move(desc)), lib_(std::move(lib)), index_(index)
    {
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_ITypeInfo, this}});
    }
    HRESULT GetTypeAttr(TYPEATTR** out) override
    {
        if (!out) return E_POINTER;
        auto* attr = new (std::nothrow) TYPEATTR{};
        if (!attr) return E_OUTOFMEMORY;
        attr->guid = desc_.guid;
        attr->memidConstructor = MEMBERID_NIL;
        attr->memidDestructor = MEMBERID_NIL;
        attr->cFuncs = static_cast<WORD>(desc_.members.size());
        attr->cImplTypes = desc_.kind == TKIND_COCLASS ? 1 : 0;
        attr->typekind = desc_.kind;
        attr->wTypeFlags = desc_.flags;
        *out = attr;
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override
    {
        if (!names || !ids) return E_POINTER;
        if (count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
        for (const auto& m : desc_.members) {
            if (names[0] && strcasecmp(m.name.c_str(), names[0]) == 0) {
                ids[0] = m.id;
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) override
    {
        if (context) *context = 0;
        if (file) *file = nullptr;
        if (id == MEMBERID_NIL) {
            if (FAILED(CopyText(desc_.name, name))) return E_OUTOFMEMORY;
            return CopyText(desc_.help, doc);
        }
        for (const auto& m : desc_.members) {
            if (m.id != id) continue;
            if (doc) *doc = nullptr;
            return CopyText(m.name, name);
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetContainingTypeLib(ITypeLib** out, UINT* index) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!lib_) return E_NOTIMPL;  // described by its object, in no library
        lib_->AddRef();
        *out = lib_.Get();
        if (index) *index = index_;
        return S_OK;
    }

private:
    TypeDesc desc_;
    ComPtr<ITypeLib> lib_;
    UINT index_;
};

class CTypeLib final : public ITypeLib, public CRefCounted {
public:
    explicit CTypeLib(LibDesc desc) : desc_(std::move(desc)) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_ITypeLib, this}});
    }
    UINT GetTypeInfoCount() override { return static_cast<UINT>(desc_.types.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index >= desc_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *out = NewComObject<CTypeInfo>(desc_.types[index], ComPtr<ITypeLib>(this), index);
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        for (UINT i = 0; i < desc_.types.size(); ++i)
            if (desc_.types[i].guid == guid) return GetTypeInfo(i, out);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** out) override
    {
        if (!out) return E_POINTER;
        auto* attr = new (std::nothrow) TLIBATTR{desc_.guid, 0, desc_.major, desc_.minor, 0};
        if (!attr) return E_OUTOFMEMORY;
        *out = attr;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) override
    {
        if (context) *context = 0;
        if (file) *file = nullptr;
        if (index == -1) {
            if (FAILED(CopyText(desc_.name, name))) return E_OUTOFMEMORY;
            return CopyText(desc_.help, doc);
        }
        if (index < 0 || static_cast<std::size_t>(index) >= desc_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
        const TypeDesc& t = desc_.types[static_cast<std::size_t>(index)];
        if (FAILED(CopyText(t.name, name))) return E_OUTOFMEMORY;
        return CopyText(t.help, doc);
    }

    const LibDesc& Desc() const { return desc_; }

private:
    LibDesc desc_;
};

// ---- the text form ----

class LineReader {
public:
    explicit LineReader(std::string_view line) : rest_(line) {}
    // The next word or "quoted text"; false at the end or on an open quote.
    bool Next(std::string& out)
    {
        while (!rest_.empty() && (rest_.front() == ' ' || rest_.front() == '\t')) rest_.remove_prefix(1);
        if (rest_.empty()) return false;
        if (rest_.front() == '"') {
            const std::size_t end = rest_.find('"', 1);
            if (end == std::string_view::npos) return bad_ = true, false;
            out = std::string(rest_.substr(1, end - 1));
            rest_.remove_prefix(end + 1);
            return true;
        }
        std::size_t end = 0;
        while (end < rest_.size() && rest_[end] != ' ' && rest_[end] != '\t') ++end;
        out = std::string(rest_.substr(0, end));
        rest_.remove_prefix(end);
        return true;
    }
    bool Bad() const { return bad_; }
    bool AtEnd()
    {
        std::string ignored;
        return !Next(ignored) && !bad_;
    }

private:
    std::string_view rest_;
    bool bad_ = false;
};

bool ParseVersion(const std::string& text, WORD& major, WORD& minor)
{
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos) return false;
    unsigned a = 0, b = 0;
    const char* s = text.data();
    auto r1 = std::from_chars(s, s + dot, a);
    auto r2 = std::from_chars(s + dot + 1, s + text.size(), b);
    if (r1.ec != std::errc{} || r1.ptr != s + dot || r2.ec != std::errc{} || r2.ptr != s + text.size() || a > 0xFFFF ||
        b > 0xFFFF)
        return false;
    major = static_cast<WORD>(a);
    minor = static_cast<WORD>(b);
    return true;
}

bool ParseMemberKind(const std::string& text, WORD& flags)
{
    if (text == "method") flags = DISPATCH_METHOD;
    else if (text == "get") flags = DISPATCH_PROPERTYGET;
    else if (text == "put") flags = DISPATCH_PROPERTYPUT;
    else if (text == "getput") flags = DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT;
    else return false;
    return true;
}

// One line into the description; the error says what is wrong with it.
bool ParseLine(std::string_view line, LibDesc& lib, bool& haveLib, std::string& error)
{
    LineReader r(line);
    std::string word, a, b, c, d;
    if (!r.Next(word)) return r.Bad() ? (error = "a quote is not closed", false) : true;
    if (word[0] == '#') return true;
    if (word == "library") {
        if (haveLib || !r.Next(a) || !r.Next(b) || !r.Next(c) || !r.Next(d) || !r.AtEnd()) return error = "bad library line", false;
        const auto guid = ParseGuid(a);
        if (!guid || !ParseVersion(b, lib.major, lib.minor)) return error = "bad library id or version", false;
        lib.guid = *guid;
        lib.name = c;
        lib.help = d;
        haveLib = true;
        return true;
    }
    if (!haveLib) return error = "the library line must come first", false;
    if (word == "interface") {
        if (!r.Next(a) || !r.Next(b) || !r.Next(c) || !r.Next(d) || !r.AtEnd()) return error = "bad interface line", false;
        const auto guid = ParseGuid(a);
        if (!guid || (c != "dual" && c != "dispatch")) return error = "bad interface id or kind", false;
        TypeDesc t;
        t.guid = *guid;
        t.name = b;
        t.help = d;
        t.kind = TKIND_DISPATCH;
        t.flags = TYPEFLAG_FDISPATCHABLE | (c == "dual" ? TYPEFLAG_FDUAL : 0);
        lib.types.push_back(std::move(t));
        return true;
    }
    if (word == "member") {
        if (lib.types.empty() || lib.types.back().kind != TKIND_DISPATCH) return error = "a member outside an interface", false;
        if (!r.Next(a) || !r.Next(b) || !r.Next(c) || !r.AtEnd()) return error = "bad member line", false;
        long id = 0;
        const auto res = std::from_chars(a.data(), a.data() + a.size(), id);
        WORD flags = 0;
        if (res.ec != std::errc{} || res.ptr != a.data() + a.size() || !ParseMemberKind(c, flags))
            return error = "bad member id or kind", false;
        lib.types.back().members.push_back(TypeMember{b, static_cast<DISPID>(id), flags});
        return true;
    }
    if (word == "coclass") {
        if (!r.Next(a) || !r.Next(b) || !r.Next(c) || !r.Next(d) || !r.AtEnd()) return error = "bad coclass line", false;
        const auto guid = ParseGuid(a);
        if (!guid) return error = "bad class id", false;
        TypeDesc t;
        t.guid = *guid;
        t.name = b;
        t.help = c;
        t.kind = TKIND_COCLASS;
        t.flags = TYPEFLAG_FCANCREATE;
        lib.types.push_back(std::move(t));
        return true;
    }
    return error = "unknown line '" + word + "'", false;
}

std::string TypeLibKey(REFGUID lib, WORD major, WORD minor)
{
    return "TypeLib\\" + GuidToString(lib) + "\\" + std::to_string(major) + "." + std::to_string(minor);
}

// "module\N" names resource N of the module.
void SplitResourceIndex(const std::string& file, std::string& module, std::string& resource)
{
    module = file;
    resource = "#1";
    const std::size_t slash = file.rfind('\\');
    if (slash == std::string::npos || slash + 1 >= file.size()) return;
    const std::string tail = file.substr(slash + 1);
    if (tail.find_first_not_of("0123456789") != std::string::npos) return;
    module = file.substr(0, slash);
    resource = "#" + tail;
}

}  // namespace

HRESULT ParseTypeLibText(std::string_view text, ITypeLib** out, std::string* error)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    LibDesc lib;
    bool haveLib = false;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string why;
        if (!ParseLine(line, lib, haveLib, why)) {
            if (error) *error = "line " + std::to_string(number) + ": " + why;
            return TYPE_E_INVALIDSTATE;
        }
    }
    if (!haveLib) {
        if (error) *error = "no library line";
        return TYPE_E_INVALIDSTATE;
    }
    *out = NewComObject<CTypeLib>(std::move(lib));
    return S_OK;
}

HRESULT CreateMemberTypeInfo(REFIID iid, std::string_view name, std::vector<TypeMember> members, ITypeInfo** out)
{
    if (!out) return E_POINTER;
    TypeDesc t;
    t.guid = iid;
    t.name = std::string(name);
    t.kind = TKIND_DISPATCH;
    t.flags = TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FDUAL;
    t.members = std::move(members);
    *out = NewComObject<CTypeInfo>(std::move(t), nullptr, 0);
    return S_OK;
}

}  // namespace quillory

using quillory::GuidToString;

HRESULT LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib)
{
    if (!szFile || !pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    std::string module, resource, text;
    quillory::SplitResourceIndex(szFile, module, resource);
    if (!quillory::com_detail::ReadModuleResource(module, resource.c_str(), quillory::kTypeLibResource, text)) {
        // Not a module of ours: the file holds the text itself.
        std::ifstream in(szFile, std::ios::binary);
        if (!in) return TYPE_E_CANTLOADLIBRARY;
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
        module = szFile;
    }
    HRESULT hr = quillory::ParseTypeLibText(text, pptlib, nullptr);
    if (FAILED(hr)) return TYPE_E_CANTLOADLIBRARY;
    if (regkind == REGKIND_REGISTER) {
        hr = RegisterTypeLib(*pptlib, szFile, nullptr);
        if (FAILED(hr)) {
            (*pptlib)->Release();
            *pptlib = nullptr;
        }
    }
    return hr;
}

HRESULT LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) { return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib); }

HRESULT LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID, ITypeLib** pptlib)
{
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    const std::string key = quillory::TypeLibKey(rguid, wVerMajor, wVerMinor) + "\\0\\" + quillory::kPlatformKey;
    HKEY h = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return TYPE_E_LIBNOTREGISTERED;
    char path[4096] = {};
    DWORD type = 0, size = sizeof path - 1;
    const LONG rc = RegQueryValueEx(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLib(path, pptlib);
}

HRESULT RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    if (!ptlib || !szFullPath) return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    if (FAILED(ptlib->GetLibAttr(&attr))) return E_FAIL;
    const GUID libId = attr->guid;
    const WORD major = attr->wMajorVerNum, minor = attr->wMinorVerNum;
    ptlib->ReleaseTLibAttr(attr);
    using quillory::com_detail::SetRegText;

    quillory::CComBSTR name, help;
    ptlib->GetDocumentation(-1, &name, &help, nullptr, nullptr);
    const std::string key = quillory::TypeLibKey(libId, major, minor);
    std::string helpDir = szHelpDir ? szHelpDir : std::string(szFullPath);
    if (!szHelpDir) {
        const std::size_t slash = helpDir.find_last_of('/');
        helpDir = slash == std::string::npos ? std::string() : helpDir.substr(0, slash);
    }
    LONG rc = SetRegText(HKEY_CLASSES_ROOT, key, nullptr, help.View());
    if (rc == ERROR_SUCCESS) rc = SetRegText(HKEY_CLASSES_ROOT, key + "\\0\\" + quillory::kPlatformKey, nullptr, szFullPath);
    if (rc == ERROR_SUCCESS) rc = SetRegText(HKEY_CLASSES_ROOT, key + "\\FLAGS", nullptr, "0");
    if (rc == ERROR_SUCCESS) rc = SetRegText(HKEY_CLASSES_ROOT, key + "\\HELPDIR", nullptr, helpDir);
    const std::string version = std::to_string(major) + "." + std::to_string(minor);
    for (UINT i = 0; rc == ERROR_SUCCESS && i < ptlib->GetTypeInfoCount(); ++i) {
        quillory::ComPtr<ITypeInfo> info;
        TYPEATTR* t = nullptr;
        if (FAILED(ptlib->GetTypeInfo(i, &info)) || FAILED(info->GetTypeAttr(&t))) return E_FAIL;
        const bool itf = t->typekind == TKIND_DISPATCH || t->typekind == TKIND_INTERFACE;
        const std::string itfKey = "Interface\\" + GuidToString(t->guid);
        info->ReleaseTypeAttr(t);
        if (!itf) continue;
        quillory::CComBSTR itfName;
        info->GetDocumentation(MEMBERID_NIL, &itfName, nullptr, nullptr, nullptr);
        rc = SetRegText(HKEY_CLASSES_ROOT, itfKey, nullptr, itfName.View());
        if (rc == ERROR_SUCCESS) rc = SetRegText(HKEY_CLASSES_ROOT, itfKey + "\\ProxyStubClsid32", nullptr, quillory::kAutomationProxy);
        if (rc == ERROR_SUCCESS) rc = SetRegText(HKEY_CLASSES_ROOT, itfKey + "\\TypeLib", nullptr, GuidToString(libId));
        if (rc == ERROR_SUCCESS) rc = SetRegText(HKEY_CLASSES_ROOT, itfKey + "\\TypeLib", "Version", version);
    }
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

HRESULT UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND)
{
    quillory::ComPtr<ITypeLib> lib;
    // The interfaces to remove are those of the registered library.
    if (HRESULT hr = LoadRegTypeLib(libID, wVerMajor, wVerMinor, lcid, &lib); FAILED(hr)) return hr;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        quillory::ComPtr<ITypeInfo> info;
        TYPEATTR* t = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)) || FAILED(info->GetTypeAttr(&t))) continue;
        const bool itf = t->typekind == TKIND_DISPATCH || t->typekind == TKIND_INTERFACE;
        const std::string key = "Interface\\" + GuidToString(t->guid);
        info->ReleaseTypeAttr(t);
        if (itf) RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
    }
    const std::string libKey = "TypeLib\\" + GuidToString(libID);
    if (RegDeleteTree(HKEY_CLASSES_ROOT, quillory::TypeLibKey(libID, wVerMajor, wVerMinor).c_str()) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    // The library's key goes with its last version.
    HKEY h = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, libKey.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS) {
        DWORD subKeys = 0;
        RegQueryInfoKey(h, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr);
        RegCloseKey(h);
        if (subKeys == 0) RegDeleteTree(HKEY_CLASSES_ROOT, libKey.c_str());
    }
    return S_OK;
}

#include "platform/mapi/mapisvc_inf.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "platform/base/environment.h"
#include "platform/base/trace.h"
#include "platform/mapi/mapitags.h"

namespace quillory {

namespace {

// A service list is a small text file; anything far larger is not one.
constexpr std::uintmax_t kMaxFileBytes = 4u << 20;
constexpr std::string_view kFileName = "MAPISVC.INF";

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

void SetError(std::string* error, std::string text)
{
    Trace("MAPISVC.INF: %s\n", text.c_str());
    if (error) *error = std::move(text);
}

struct NamedTag {
    std::string_view name;
    ULONG tag;
};

// The property names a service list may use.
constexpr NamedTag kTagNames[] = {
    {"PR_DISPLAY_NAME", PR_DISPLAY_NAME},
    {"PR_COMMENT", PR_COMMENT},
    {"PR_SERVICE_NAME", PR_SERVICE_NAME},
    {"PR_SERVICE_DLL_NAME", PR_SERVICE_DLL_NAME},
    {"PR_SERVICE_ENTRY_NAME", PR_SERVICE_ENTRY_NAME},
    {"PR_SERVICE_SUPPORT_FILES", PR_SERVICE_SUPPORT_FILES},
    {"PR_SERVICE_DELETE_FILES", PR_SERVICE_DELETE_FILES},
    {"PR_SERVICE_INSTALL_ID", PR_SERVICE_INSTALL_ID},
    {"PR_RESOURCE_FLAGS", PR_RESOURCE_FLAGS},
    {"PR_RESOURCE_TYPE", PR_RESOURCE_TYPE},
    {"PR_RESOURCE_PATH", PR_RESOURCE_PATH},
    {"PR_PROVIDER_DLL_NAME", PR_PROVIDER_DLL_NAME},
    {"PR_PROVIDER_DISPLAY", PR_PROVIDER_DISPLAY},
    {"PR_PROVIDER_ORDINAL", PR_PROVIDER_ORDINAL},
    {"PR_IDENTITY_DISPLAY", PR_IDENTITY_DISPLAY},
};

struct NamedValue {
    std::string_view name;
    ULONG value;
};

// Symbolic numbers that values of numeric properties may use.
constexpr NamedValue kValueNames[] = {
    {"MAPI_STORE_PROVIDER", MAPI_STORE_PROVIDER},
    {"MAPI_AB", MAPI_AB},
    {"MAPI_AB_PROVIDER", MAPI_AB_PROVIDER},
    {"MAPI_TRANSPORT_PROVIDER", MAPI_TRANSPORT_PROVIDER},
    {"MAPI_SPOOLER", MAPI_SPOOLER},
    {"MAPI_PROFILE_PROVIDER", MAPI_PROFILE_PROVIDER},
    {"MAPI_SUBSYSTEM", MAPI_SUBSYSTEM},
    {"MAPI_HOOK_PROVIDER", MAPI_HOOK_PROVIDER},
    {"SERVICE_DEFAULT_STORE", SERVICE_DEFAULT_STORE},
    {"SERVICE_SINGLE_COPY", SERVICE_SINGLE_COPY},
    {"SERVICE_CREATE_WITH_STORE", SERVICE_CREATE_WITH_STORE},
    {"SERVICE_PRIMARY_IDENTITY", SERVICE_PRIMARY_IDENTITY},
    {"SERVICE_NO_PRIMARY_IDENTITY", SERVICE_NO_PRIMARY_IDENTITY},
    {"STATUS_DEFAULT_OUTBOUND", STATUS_DEFAULT_OUTBOUND},
    {"STATUS_DEFAULT_STORE", STATUS_DEFAULT_STORE},
    {"STATUS_PRIMARY_IDENTITY", STATUS_PRIMARY_IDENTITY},
    {"STATUS_SIMPLE_STORE", STATUS_SIMPLE_STORE},
    {"STATUS_XP_PREFER_LAST", STATUS_XP_PREFER_LAST},
    {"STATUS_NO_PRIMARY_IDENTITY", STATUS_NO_PRIMARY_IDENTITY},
    {"STATUS_NO_DEFAULT_STORE", STATUS_NO_DEFAULT_STORE},
    {"STATUS_TEMP_SECTION", STATUS_TEMP_SECTION},
    {"STATUS_OWN_STORE", STATUS_OWN_STORE},
    {"STATUS_NEED_IPM_TREE", STATUS_NEED_IPM_TREE},
    {"STATUS_PRIMARY_STORE", STATUS_PRIMARY_STORE},
    {"STATUS_SECONDARY_STORE", STATUS_SECONDARY_STORE},
};

std::optional<LONGLONG> ParseInteger(std::string_view text)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    unsigned long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    if (value > 0xFFFFFFFFFFFFFFFFull / 2 + (negative ? 1 : 0)) return std::nullopt;
    return negative ? -static_cast<LONGLONG>(value) : static_cast<LONGLONG>(value);
}

// A 32-bit value: a number, or symbolic names joined by '|' (or ',').
std::optional<ULONG> ParseFlags(std::string_view text)
{
    text = Trim(text);
    if (text.empty()) return std::nullopt;
    ULONG result = 0;
    while (!text.empty()) {
        const std::size_t cut = text.find_first_of("|,");
        const std::string_view part = Trim(text.substr(0, cut));
        text = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
        if (part.empty()) return std::nullopt;
        if (auto n = ParseInteger(part)) {
            if (*n < -0x80000000LL || *n > 0xFFFFFFFFLL) return std::nullopt;
            result |= static_cast<ULONG>(*n);
            continue;
        }
        auto it = std::find_if(std::begin(kValueNames), std::end(kValueNames),
                               [&](const NamedValue& v) { return EqualNoCase(v.name, part); });
        if (it == std::end(kValueNames)) return std::nullopt;
        result |= it->value;
    }
    return result;
}

std::vector<std::string> SplitList(std::string_view text)
{
    std::vector<std::string> items;
    while (true) {
        const std::size_t cut = text.find(',');
        const std::string_view item = Trim(text.substr(0, cut));
        if (!item.empty()) items.emplace_back(item);
        if (cut == std::string_view::npos) break;
        text.remove_prefix(cut + 1);
    }
    return items;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A property from its key and value text; an error sentence when the value
// does not fit the tag's type.
std::optional<InfProp> MakeProp(ULONG tag, std::string_view key, std::string_view value, std::string& why)
{
    InfProp p;
    switch (PROP_TYPE(tag)) {
    case PT_STRING8:
    case PT_UNICODE:
        // Strings are 8-bit on this platform whatever the file names.
        p.tag = CHANGE_PROP_TYPE(tag, PT_STRING8);
        p.strings.emplace_back(value);
        return p;
    case PT_MV_STRING8:
    case MV_FLAG | PT_UNICODE:
        p.tag = CHANGE_PROP_TYPE(tag, PT_MV_STRING8);
        p.strings = SplitList(value);
        if (p.strings.empty()) break;
        return p;
    case PT_LONG:
    case PT_I2: {
        auto n = ParseFlags(value);
        if (!n) break;
        if (PROP_TYPE(tag) == PT_I2 && static_cast<LONG>(*n) != static_cast<short>(*n)) break;
        p.tag = tag;
        p.number = static_cast<LONG>(*n);
        return p;
    }
    case PT_BOOLEAN: {
        const std::string_view v = Trim(value);
        p.tag = tag;
        if (EqualNoCase(v, "TRUE")) {
            p.number = 1;
        } else if (EqualNoCase(v, "FALSE")) {
            p.number = 0;
        } else if (auto n = ParseInteger(v)) {
            p.number = *n != 0;
        } else {
            break;
        }
        return p;
    }
    case PT_I8: {
        auto n = ParseInteger(value);
        if (!n) break;
        p.tag = tag;
        p.number64 = *n;
        return p;
    }
    case PT_BINARY: {
        const std::string_view v = Trim(value);
        if (v.size() % 2 != 0) break;
        p.tag = tag;
        for (std::size_t i = 0; i < v.size(); i += 2) {
            const int hi = HexDigit(v[i]), lo = HexDigit(v[i + 1]);
            if (hi < 0 || lo < 0) return why = "'" + std::string(key) + "' is not hexadecimal", std::nullopt;
            p.bytes.push_back(static_cast<BYTE>(hi * 16 + lo));
        }
        return p;
    }
    default:
        why = "'" + std::string(key) + "' has a property type the service list cannot hold";
        return std::nullopt;
    }
    why = "'" + std::string(key) + "=" + std::string(value) + "' is not a valid value for its property";
    return std::nullopt;
}

const InfProp* FindProp(const std::vector<InfProp>& props, ULONG tag)
{
    for (const auto& p : props)
        if (p.tag == tag) return &p;
    return nullptr;
}

std::string StringProp(const std::vector<InfProp>& props, ULONG tag)
{
    const InfProp* p = FindProp(props, tag);
    return p && !p->strings.empty() ? p->strings.front() : std::string();
}

// UTF-16LE text to the 8-bit code page: code units above 0xFF have no
// single-byte form and become '?'.
std::optional<std::string> NarrowUtf16(std::string_view bytes)
{
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        text.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    return text;
}

}  // namespace

// ---- InfProp ------------------------------------------------------------------

SPropValue InfProp::View() const
{
    SPropValue v{};
    v.ulPropTag = tag;
    switch (PROP_TYPE(tag)) {
    case PT_STRING8:
        v.Value.lpszA = const_cast<char*>(strings.empty() ? "" : strings.front().c_str());
        break;
    case PT_MV_STRING8:
        pointers_.clear();
        for (const auto& s : strings) pointers_.push_back(const_cast<char*>(s.c_str()));
        v.Value.MVszA.cValues = static_cast<ULONG>(pointers_.size());
        v.Value.MVszA.lppszA = pointers_.data();
        break;
    case PT_I2: v.Value.i = static_cast<short>(number); break;
    case PT_BOOLEAN: v.Value.b = static_cast<unsigned short>(number != 0); break;
    case PT_I8: v.Value.li.QuadPart = number64; break;
    case PT_BINARY:
        v.Value.bin.cb = static_cast<ULONG>(bytes.size());
        v.Value.bin.lpb = const_cast<BYTE*>(bytes.data());
        break;
    default: v.Value.l = number; break;
    }
    return v;
}

// ---- Names --------------------------------------------------------------------

std::optional<ULONG> InfKeyTag(std::string_view key)
{
    key = Trim(key);
    for (const auto& n : kTagNames)
        if (EqualNoCase(n.name, key)) return n.tag;
    if (key.size() == 10 && key[0] == '0' && (key[1] == 'x' || key[1] == 'X')) {
        ULONG tag = 0;
        auto [end, ec] = std::from_chars(key.data() + 2, key.data() + key.size(), tag, 16);
        if (ec == std::errc() && end == key.data() + key.size()) return tag;
    }
    return std::nullopt;
}

std::string ProviderLibraryName(std::string_view dllName)
{
    const std::size_t slash = dllName.find_last_of("/\\");
    const std::size_t dot = dllName.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return std::string(dllName) + "32";
    return std::string(dllName.substr(0, dot)) + "32" + std::string(dllName.substr(dot));
}

const InfService& BuiltInStoreService()
{
    static const InfService service = [] {
        InfService s;
        s.name = kStoreServiceName;
        s.display = kStoreServiceDisplay;
        s.builtIn = true;
        s.resourceFlags = SERVICE_DEFAULT_STORE;  // a profile may hold several stores
        InfProp display;
        display.tag = PR_DISPLAY_NAME;
        display.strings = {std::string(kStoreServiceDisplay)};
        InfProp flags;
        flags.tag = PR_RESOURCE_FLAGS;
        flags.number = static_cast<LONG>(s.resourceFlags);
        s.props = {display, flags};

        InfProvider p;
        p.section = kStoreProviderSection;
        p.resourceType = MAPI_STORE_PROVIDER;
        p.display = kStoreServiceDisplay;
        InfProp type;
        type.tag = PR_RESOURCE_TYPE;
        type.number = MAPI_STORE_PROVIDER;
        InfProp pdisplay;
        pdisplay.tag = PR_PROVIDER_DISPLAY;
        pdisplay.strings = {std::string(kStoreServiceDisplay)};
        InfProp pflags;
        pflags.tag = PR_RESOURCE_FLAGS;
        pflags.number = static_cast<LONG>(STATUS_DEFAULT_STORE | STATUS_PRIMARY_STORE);
        p.props = {type, pdisplay, display, pflags};
        s.providers.push_back(std::move(p));
        return s;
    }();
    return service;
}

// ---- ServiceList ----------------------------------------------------------------

std::filesystem::path ServiceList::DefaultPath()
{
    char dir[MAX_PATH] = {};
    const UINT n = GetSystemDirectory(dir, sizeof dir);
    std::filesystem::path base = (n > 0 && n < sizeof dir) ? std::filesystem::path(dir) : EnvironmentRoot();
    std::filesystem::path exact = base / kFileName;
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    // File names keep their case here; the list is found whatever case it was written in.
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        if (EqualNoCase(entry.path().filename().string(), kFileName)) return entry.path();
    }
    return exact;
}

HRESULT ServiceList::Load(ServiceList& out, std::string* error) { return LoadFile(DefaultPath(), out, error); }

HRESULT ServiceList::LoadFile(const std::filesystem::path& file, ServiceList& out, std::string* error)
{
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (!std::filesystem::exists(status)) {
        SetError(error, "The service list " + file.string() + " does not exist");
        return MAPI_E_NOT_FOUND;
    }
    if (!std::filesystem::is_regular_file(status)) {
        SetError(error, "The service list " + file.string() + " is not a file");
        return MAPI_E_CORRUPT_DATA;
    }
    const auto size = std::filesystem::file_size(file, ec);
    if (!ec && size > kMaxFileBytes) {
        SetError(error, "The service list " + file.string() + " is too large to be one");
        return MAPI_E_CORRUPT_DATA;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        SetError(error, "The service list " + file.string() + " cannot be opened");
        return MAPI_E_DISK_ERROR;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        SetError(error, "The service list " + file.string() + " cannot be read");
        return MAPI_E_DISK_ERROR;
    }
    std::string why;
    const HRESULT hr = Parse(bytes, out, &why);
    if (FAILED(hr)) SetError(error, "The service list " + file.string() + " is damaged: " + why);
    return hr;
}

HRESULT ServiceList::Parse(std::string_view bytes, ServiceList& out, std::string* error)
{
    out.sections_.clear();
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        auto narrow = NarrowUtf16(bytes.substr(2));
        if (!narrow) {
            if (error) *error = "its UTF-16 text has an odd length";
            return MAPI_E_CORRUPT_DATA;
        }
        text = std::move(*narrow);
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = bytes.substr(3);
    } else {
        text = bytes;
    }
    if (text.find('\0') != std::string::npos) {
        if (error) *error = "it holds binary data";
        return MAPI_E_CORRUPT_DATA;
    }

    std::size_t current = SIZE_MAX;  // index: the vector grows
    bool strayContent = false;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            line.remove_prefix(1);
            if (!line.empty() && line.back() == ']') line.remove_suffix(1);
            line = Trim(line);
            auto it = std::find_if(out.sections_.begin(), out.sections_.end(),
                                   [&](const Section& s) { return EqualNoCase(s.name, line); });
            if (it == out.sections_.end()) {
                out.sections_.push_back(Section{std::string(line), {}});
                current = out.sections_.size() - 1;
            } else {
                current = static_cast<std::size_t>(it - out.sections_.begin());  // duplicate sections merge
            }
            continue;
        }
        if (current == SIZE_MAX) {
            strayContent = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = Trim(line.substr(0, eq));
        if (key.empty()) continue;
        const std::string_view value = Trim(line.substr(eq + 1));
        auto& entries = out.sections_[current].entries;
        const bool known = std::any_of(entries.begin(), entries.end(),
                                       [&](const InfKeyValue& e) { return EqualNoCase(e.key, key); });
        if (!known) entries.push_back(InfKeyValue{std::string(key), std::string(value)});
    }
    if (out.sections_.empty() && strayContent) {
        if (error) *error = "it has text but no section";
        return MAPI_E_CORRUPT_DATA;
    }
    return S_OK;
}

const ServiceList::Section* ServiceList::FindSection(std::string_view name) const
{
    for (const auto& s : sections_)
        if (EqualNoCase(s.name, name)) return &s;
    return nullptr;
}

std::vector<std::string> ServiceList::KeysOf(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const Section* s = FindSection(section))
        for (const auto& e : s->entries) keys.push_back(e.key);
    return keys;
}

std::optional<std::string> ServiceList::Value(std::string_view section, std::string_view key) const
{
    if (const Section* s = FindSection(section))
        for (const auto& e : s->entries)
            if (EqualNoCase(e.key, key)) return e.value;
    return std::nullopt;
}

namespace {

// The typed properties of a section, and the keys that are not properties.
bool ReadProps(const std::vector<InfKeyValue>& entries, std::vector<InfProp>& props,
               std::vector<InfKeyValue>* others, std::string& why)
{
    for (const auto& e : entries) {
        auto tag = InfKeyTag(e.key);
        if (!tag) {
            if (e.key.size() > 3 && EqualNoCase(std::string_view(e.key).substr(0, 3), "PR_"))
                Trace("MAPISVC.INF: property name %s is not known here; ignored\n", e.key.c_str());
            else if (others)
                others->push_back(e);
            continue;
        }
        auto prop = MakeProp(*tag, e.key, e.value, why);
        if (!prop) return false;
        props.push_back(std::move(*prop));
    }
    return true;
}

}  // namespace

HRESULT ServiceList::FindProvider(std::string_view section, InfProvider& out, std::string* error) const
{
    const Section* s = FindSection(section);
    if (!s) {
        SetError(error, "The provider section [" + std::string(section) + "] is missing");
        return MAPI_E_CORRUPT_DATA;
    }
    InfProvider p;
    p.section = s->name;
    std::string why;
    if (!ReadProps(s->entries, p.props, nullptr, why)) {
        SetError(error, "In [" + s->name + "]: " + why);
        return MAPI_E_CORRUPT_DATA;
    }
    if (const InfProp* type = FindProp(p.props, PR_RESOURCE_TYPE)) p.resourceType = static_cast<ULONG>(type->number);
    if (p.resourceType == 0) {
        SetError(error, "The provider section [" + s->name + "] names no PR_RESOURCE_TYPE");
        return MAPI_E_CORRUPT_DATA;
    }
    p.dllName = StringProp(p.props, PR_PROVIDER_DLL_NAME);
    p.display = StringProp(p.props, PR_PROVIDER_DISPLAY);
    out = std::move(p);
    return S_OK;
}

HRESULT ServiceList::FindService(std::string_view name, InfService& out, std::string* error) const
{
    const Section* services = FindSection("Services");
    const InfKeyValue* listed = nullptr;
    if (services)
        for (const auto& e : services->entries)
            if (EqualNoCase(e.key, name)) listed = &e;
    if (!listed) {
        SetError(error, "The message service '" + std::string(name) + "' is not in the service list");
        return MAPI_E_NOT_FOUND;
    }
    const Section* s = FindSection(listed->key);
    if (!s) {
        SetError(error, "The service section [" + listed->key + "] is missing");
        return MAPI_E_CORRUPT_DATA;
    }
    InfService svc;
    svc.name = listed->key;
    std::string why;
    if (!ReadProps(s->entries, svc.props, &svc.otherKeys, why)) {
        SetError(error, "In [" + s->name + "]: " + why);
        return MAPI_E_CORRUPT_DATA;
    }
    svc.display = StringProp(svc.props, PR_DISPLAY_NAME);
    if (svc.display.empty()) svc.display = listed->value;
    svc.dllName = StringProp(svc.props, PR_SERVICE_DLL_NAME);
    svc.entryName = StringProp(svc.props, PR_SERVICE_ENTRY_NAME);
    if (const InfProp* f = FindProp(svc.props, PR_RESOURCE_FLAGS)) svc.resourceFlags = static_cast<ULONG>(f->number);
    for (const auto& kv : svc.otherKeys) {
        if (EqualNoCase(kv.key, "WIZARD_ENTRY_NAME")) svc.wizardEntryName = kv.value;
        if (!EqualNoCase(kv.key, "Providers")) continue;
        for (const auto& section : SplitList(kv.value)) {
            InfProvider p;
            if (const HRESULT hr = FindProvider(section, p, error); FAILED(hr)) return hr;
            svc.providers.push_back(std::move(p));
        }
    }
    if (!svc.dllName.empty() && svc.entryName.empty()) {
        SetError(error, "The service section [" + s->name + "] names a library but no PR_SERVICE_ENTRY_NAME");
        return MAPI_E_CORRUPT_DATA;
    }
    out = std::move(svc);
    return S_OK;
}

HRESULT LookupService(std::string_view name, InfService& out, std::string* error)
{
    if (EqualNoCase(name, kStoreServiceName)) {
        out = BuiltInStoreService();
        return S_OK;
    }
    ServiceList list;
    if (const HRESULT hr = ServiceList::Load(list, error); FAILED(hr)) return hr;
    return list.FindService(name, out, error);
}

}  // namespace quillory

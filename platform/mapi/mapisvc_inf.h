// The service list MAPISVC.INF: which message services exist, the providers
// each one brings, and the properties their profile sections start with.
// The file lives in the system directory; one service, the embedded message
// store, is known without it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapix.h"

// Resource types (PR_RESOURCE_TYPE).
constexpr ULONG MAPI_STORE_PROVIDER = 33;
constexpr ULONG MAPI_AB = 34;
constexpr ULONG MAPI_AB_PROVIDER = 35;
constexpr ULONG MAPI_TRANSPORT_PROVIDER = 36;
constexpr ULONG MAPI_SPOOLER = 37;
constexpr ULONG MAPI_PROFILE_PROVIDER = 38;
constexpr ULONG MAPI_SUBSYSTEM = 39;
constexpr ULONG MAPI_HOOK_PROVIDER = 40;

// PR_RESOURCE_FLAGS of a message service.
constexpr ULONG SERVICE_DEFAULT_STORE = 0x00000001;
constexpr ULONG SERVICE_SINGLE_COPY = 0x00000002;
constexpr ULONG SERVICE_CREATE_WITH_STORE = 0x00000004;
constexpr ULONG SERVICE_PRIMARY_IDENTITY = 0x00000008;
constexpr ULONG SERVICE_NO_PRIMARY_IDENTITY = 0x00000020;

// PR_RESOURCE_FLAGS of a provider.
constexpr ULONG STATUS_DEFAULT_OUTBOUND = 0x00000001;
constexpr ULONG STATUS_DEFAULT_STORE = 0x00000002;
constexpr ULONG STATUS_PRIMARY_IDENTITY = 0x00000004;
constexpr ULONG STATUS_SIMPLE_STORE = 0x00000008;
constexpr ULONG STATUS_XP_PREFER_LAST = 0x00000010;
constexpr ULONG STATUS_NO_PRIMARY_IDENTITY = 0x00000020;
constexpr ULONG STATUS_NO_DEFAULT_STORE = 0x00000040;
constexpr ULONG STATUS_TEMP_SECTION = 0x00000080;
constexpr ULONG STATUS_OWN_STORE = 0x00000100;
constexpr ULONG STATUS_NEED_IPM_TREE = 0x00000800;
constexpr ULONG STATUS_PRIMARY_STORE = 0x00001000;
constexpr ULONG STATUS_SECONDARY_STORE = 0x00002000;

namespace quillory {

// One property of a service or provider section, typed by its tag.
struct InfProp {
    ULONG tag = PR_NULL;
    LONG number = 0;                   // PT_LONG, PT_I2, PT_BOOLEAN
    LONGLONG number64 = 0;             // PT_I8
    std::vector<std::string> strings;  // PT_STRING8 (one) and PT_MV_STRING8
    std::vector<BYTE> bytes;           // PT_BINARY

    // A view of the value; its data points into this object, which must stay
    // alive and unchanged while the view is used.
    SPropValue View() const;

private:
    mutable std::vector<char*> pointers_;
};

struct InfKeyValue {
    std::string key;
    std::string value;
};

// A provider section ([QUARNEX_XPP]).
struct InfProvider {
    std::string section;
    std::vector<InfProp> props;
    ULONG resourceType = 0;   // PR_RESOURCE_TYPE, 0 when absent
    std::string dllName;      // PR_PROVIDER_DLL_NAME, as written
    std::string display;      // PR_PROVIDER_DISPLAY
};

// A message service: its [Services] entry, its section and its providers.
struct InfService {
    std::string name;          // key under [Services]
    std::string display;       // PR_DISPLAY_NAME of the section, else the [Services] value
    std::vector<InfProp> props;
    std::vector<InfKeyValue> otherKeys;  // keys that are not properties (Providers, WIZARD_ENTRY_NAME ...)
    std::string dllName;       // PR_SERVICE_DLL_NAME, as written; empty: no library
    std::string entryName;     // PR_SERVICE_ENTRY_NAME
    std::string wizardEntryName;  // WIZARD_ENTRY_NAME
    ULONG resourceFlags = 0;   // PR_RESOURCE_FLAGS
    std::vector<InfProvider> providers;
    bool builtIn = false;      // the embedded message store
};

// The embedded message store service every profile starts with.
inline constexpr std::string_view kStoreServiceName = "QuilloryStore";
inline constexpr std::string_view kStoreServiceDisplay = "Personal Folders";
inline constexpr std::string_view kStoreProviderSection = "QuilloryStore_MSP";
const InfService& BuiltInStoreService();

// The library file MAPI loads for a DLL name of the service list: the base
// name gets "32" before its extension ("quarnex.dll" -> "quarnex32.dll").
std::string ProviderLibraryName(std::string_view dllName);

// A parsed service list. Sections and keys compare case-insensitively; the
// first of duplicate keys counts.
class ServiceList {
public:
    // <system directory>/MAPISVC.INF. MAPI_E_NOT_FOUND when there is no such
    // file, MAPI_E_CORRUPT_DATA when it is not a service list, MAPI_E_DISK_ERROR
    // when it cannot be read. *error (optional) receives a sentence.
    static HRESULT Load(ServiceList& out, std::string* error = nullptr);
    static HRESULT LoadFile(const std::filesystem::path& file, ServiceList& out, std::string* error = nullptr);
    // Text in the system code page, or UTF-16LE after an FF FE mark.
    static HRESULT Parse(std::string_view bytes, ServiceList& out, std::string* error = nullptr);
    static std::filesystem::path DefaultPath();

    // Names listed under [Services] and [Default Services], in file order.
    std::vector<std::string> ServiceNames() const { return KeysOf("Services"); }
    std::vector<std::string> DefaultServiceNames() const { return KeysOf("Default Services"); }

    // The service with its providers. MAPI_E_NOT_FOUND when [Services] does
    // not list it; MAPI_E_CORRUPT_DATA when its section, a provider section or
    // a property value is missing or malformed.
    HRESULT FindService(std::string_view name, InfService& out, std::string* error = nullptr) const;
    // One provider section by name (for CreateProvider).
    HRESULT FindProvider(std::string_view section, InfProvider& out, std::string* error = nullptr) const;

    // Raw access, for callers that read keys of their own.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

private:
    struct Section {
        std::string name;
        std::vector<InfKeyValue> entries;
    };
    const Section* FindSection(std::string_view name) const;
    std::vector<std::string> KeysOf(std::string_view section) const;

    std::vector<Section> sections_;
};

// Looks a service up: the embedded store by its name, anything else in the
// system directory's service list.
HRESULT LookupService(std::string_view name, InfService& out, std::string* error = nullptr);

// The tag a service-list key names: "PR_..." names this platform knows and
// hexadecimal tags written "0x3D0A001E". Nothing for other keys.
std::optional<ULONG> InfKeyTag(std::string_view key);

}  // namespace quillory

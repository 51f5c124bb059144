// Access to the registry store shared by the provider, the GUI library and
// the add-in: the main key "Software\Tarnel Ltd\Corvane" under
// HKEY_CURRENT_USER and one key per MAPI profile below it.
//
// A missing key or value always gives the default; registry failures other
// than "not found" go to the trace sink and are otherwise treated as missing.
#pragma once

#include "platform/base/registry.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace quillory {

constexpr std::string_view kMainKey = "Software\\Tarnel Ltd\\Corvane";
// Per-profile key: main key, profile name.
constexpr const char* kProfileKeyFormat = "%s\\Profiles\\%s";

// Values of the main key.
constexpr const char* kValDir = "DIR";
constexpr const char* kValVismora = "VISMORA";
constexpr const char* kValCnpLog = "CNPLOG";
constexpr const char* kValDisableCache = "DisableCache";
constexpr const char* kValNewNewsgroupsTime = "NewNewsgroupsTime";
constexpr const char* kValSetLastError = "SetLastError";
constexpr const char* kValDisableMapping = "DisableMapping";

// Values of the per-profile key.
constexpr const char* kValPostUnsubscribed = "PostUnsubscribed";
constexpr const char* kValLastMessages = "LastMessages";
constexpr const char* kValLastMessagesCount = "LastMessagesCount";
constexpr const char* kValCreateSubfolders = "CreateSubfolders";
constexpr const char* kValBaseFolder = "BaseFolder";
constexpr const char* kValBaseFolderCB = "BaseFolderCB";
constexpr const char* kValBaseFolderBIN = "BaseFolderBIN";
constexpr const char* kValBaseFolderStoreCB = "BaseFolderStoreCB";
constexpr const char* kValBaseFolderStoreBIN = "BaseFolderStoreBIN";

// Defaults.
constexpr std::string_view kDefaultVismora = "VISMORA.DLL";
constexpr DWORD kDefaultNewNewsgroupsMinutes = 10080;  // a week
constexpr DWORD kDefaultPostUnsubscribed = 0;
constexpr DWORD kDefaultLastMessages = 1;
constexpr DWORD kDefaultLastMessagesCount = 300;
constexpr DWORD kDefaultCreateSubfolders = 1;
constexpr DWORD kDisableValueOn = 1;  // "DisableCache" / "DisableMapping" switched on

// Buffer sizes (bytes, terminating NUL included for strings).
constexpr std::size_t kDirBufferSize = 500;
constexpr std::size_t kVismoraBufferSize = 299;
constexpr std::size_t kCnpLogBufferSize = 299;
constexpr std::size_t kBaseFolderNameBufferSize = 300;
constexpr std::size_t kBinaryValueSize = 1000;

// "Software\Tarnel Ltd\Corvane\Profiles\<profile>".
std::string ProfileKeyPath(std::string_view profileName);

// Reads a string value from `keyPath` under HKEY_CURRENT_USER, else under
// HKEY_LOCAL_MACHINE, else takes `def`. At most buffer.size() - 1 bytes are
// copied (a longer value is cut) and the text is always NUL-terminated inside
// the buffer. A value of another type counts as missing. Returns whether a
// value was found.
bool ReadRegString(std::string_view keyPath, std::string_view name, std::span<char> buffer,
                   std::string_view def);
// The same into a string, cut to bufferSize - 1 bytes like a buffer of that size.
bool ReadRegString(std::string_view keyPath, std::string_view name, std::string& out,
                   std::size_t bufferSize, std::string_view def);

// Reads a REG_DWORD from HKEY_CURRENT_USER only; a missing key or value or a
// value of another type stores `def`. Returns whether the value was found.
bool ReadRegDword(std::string_view keyPath, std::string_view name, DWORD& out, DWORD def);

// Reads a REG_BINARY from HKEY_CURRENT_USER into `buffer`, zero-filling the
// bytes after it. Missing, of another type or longer than the buffer (a cut
// entry ID would be garbage): the buffer is all zeros and false is returned.
// `length` (optional) receives the value's length, 0 when not found.
bool ReadRegBinary(std::string_view keyPath, std::string_view name, std::span<BYTE> buffer,
                   DWORD* length = nullptr);

// Writes, creating the key when needed. One registry write each; the result
// is the registry's (ERROR_SUCCESS when written).
LONG WriteRegString(std::string_view keyPath, std::string_view name, std::string_view value,
                    HKEY root = HKEY_CURRENT_USER);
LONG WriteRegDword(std::string_view keyPath, std::string_view name, DWORD value,
                   HKEY root = HKEY_CURRENT_USER);
LONG WriteRegBinary(std::string_view keyPath, std::string_view name, std::span<const BYTE> value,
                    HKEY root = HKEY_CURRENT_USER);

// The data directory ("DIR", ending with '/'), empty when not set, and a file
// in it: the name is appended to the directory as it stands.
std::string ReadDataDirectory();
std::string DataFilePath(std::string_view fileName);

// The per-profile settings that the provider and the add-in read together.
struct ProfileSettings {
    DWORD postUnsubscribed = kDefaultPostUnsubscribed;
    DWORD lastMessages = kDefaultLastMessages;
    DWORD lastMessagesCount = kDefaultLastMessagesCount;
    DWORD createSubfolders = kDefaultCreateSubfolders;

    DWORD HeaderLimit() const;
};

ProfileSettings ReadProfileSettings(std::string_view profileName);

// The number of newest articles a header download takes per group: the count
// while limiting is on, where a count of 0 or less (as a signed value) means
// the default 300; 0 (no limit) when limiting is off.
DWORD HeaderLimit(DWORD lastMessages, DWORD lastMessagesCount);

// The base folder's entry ID and its store's entry ID as the registry keeps
// them for a profile.
struct RegBaseFolder {
    DWORD folderCb = 0;
    std::array<BYTE, kBinaryValueSize> folder{};
    DWORD storeCb = 0;
    std::array<BYTE, kBinaryValueSize> store{};

    std::span<const BYTE> FolderEntryId() const { return {folder.data(), folderCb}; }
    std::span<const BYTE> StoreEntryId() const { return {store.data(), storeCb}; }
};

// Reads the base folder of a profile. True only when "BaseFolderCB" is
// present and non-zero and "BaseFolderBIN", "BaseFolderStoreCB" and
// "BaseFolderStoreBIN" are all present, with both lengths within 1 to 1000
// bytes. Otherwise both lengths are 0 and false is returned.
bool ReadBaseFolder(std::string_view profileName, RegBaseFolder& out);

// Writes the five base-folder values of a profile; the first failing write's
// result, or ERROR_SUCCESS. Entry IDs longer than 1000 bytes are refused
// (ERROR_INVALID_PARAMETER) since no reader could take them.
LONG WriteBaseFolder(std::string_view profileName, std::string_view displayName,
                     std::span<const BYTE> folderEntryId, std::span<const BYTE> storeEntryId);

}  // namespace quillory

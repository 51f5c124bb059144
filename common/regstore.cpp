#include "common/regstore.h"

#include "platform/base/trace.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace quillory {

namespace {

// An open registry key, closed when it goes out of scope.
class CRegKeyHolder {
public:
    CRegKeyHolder() = default;
    ~CRegKeyHolder()
    {
        if (key_) RegCloseKey(key_);
    }
    CRegKeyHolder(const CRegKeyHolder&) = delete;
    CRegKeyHolder& operator=(const CRegKeyHolder&) = delete;

    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// A value read whole: its type and bytes.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

void TraceFailure(const char* what, HKEY root, const std::string& keyPath, const std::string& name,
                  LONG rc)
{
    if (rc == ERROR_FILE_NOT_FOUND) return;  // absent: the default applies, nothing to report
    Trace("RegStore -- %s %s\\%s [%s] failed: %ld\n", what,
          root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU", keyPath.c_str(), name.c_str(),
          static_cast<long>(rc));
}

std::optional<RawValue> QueryRaw(HKEY root, std::string_view keyPath, std::string_view name)
{
    const std::string path(keyPath);
    const std::string valueName(name);
    CRegKeyHolder key;
    LONG rc = RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, key.Out());
    if (rc != ERROR_SUCCESS) {
        TraceFailure("open", root, path, valueName, rc);
        return std::nullopt;
    }
    // The value may grow between asking its size and reading it; ask again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        RawValue value;
        DWORD size = 0;
        rc = RegQueryValueEx(key.Get(), valueName.c_str(), nullptr, &value.type, nullptr, &size);
        if (rc != ERROR_SUCCESS) break;
        value.data.resize(size);
        rc = RegQueryValueEx(key.Get(), valueName.c_str(), nullptr, &value.type,
                             value.data.empty() ? nullptr : value.data.data(), &size);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) break;
        value.data.resize(std::min<std::size_t>(size, value.data.size()));
        return value;
    }
    TraceFailure("query", root, path, valueName, rc);
    return std::nullopt;
}

std::optional<std::string> QueryString(HKEY root, std::string_view keyPath, std::string_view name)
{
    std::optional<RawValue> raw = QueryRaw(root, keyPath, name);
    if (!raw) return std::nullopt;
    if (raw->type != REG_SZ && raw->type != REG_EXPAND_SZ) {
        Trace("RegStore -- %.*s is not a string (type %u)\n", static_cast<int>(name.size()),
              name.data(), static_cast<unsigned>(raw->type));
        return std::nullopt;
    }
    std::string text(raw->data.begin(), raw->data.end());
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
}

// Copies `text` into `buffer`, cut at its first NUL and at buffer.size() - 1
// bytes, and terminates it.
void CopyCut(std::string_view text, std::span<char> buffer)
{
    if (buffer.empty()) return;
    text = text.substr(0, text.find('\0'));
    const std::size_t n = std::min(text.size(), buffer.size() - 1);
    std::copy_n(text.data(), n, buffer.data());
    buffer[n] = '\0';
}

LONG WriteRaw(HKEY root, std::string_view keyPath, std::string_view name, DWORD type,
              const BYTE* data, std::size_t size)
{
    const std::string path(keyPath);
    const std::string valueName(name);
    if (size > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
    CRegKeyHolder key;
    LONG rc = RegCreateKeyEx(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                             nullptr, key.Out(), nullptr);
    if (rc == ERROR_SUCCESS)
        rc = RegSetValueEx(key.Get(), valueName.c_str(), 0, type, data, static_cast<DWORD>(size));
    if (rc != ERROR_SUCCESS) TraceFailure("write", root, path, valueName, rc);
    return rc;
}

}  // namespace

std::string ProfileKeyPath(std::string_view profileName)
{
    // Same text as kProfileKeyFormat with the main key and the profile name.
    std::string path(kMainKey);
    path += "\\Profiles\\";
    path += profileName;
    return path;
}

bool ReadRegString(std::string_view keyPath, std::string_view name, std::span<char> buffer,
                   std::string_view def)
{
    std::optional<std::string> value = QueryString(HKEY_CURRENT_USER, keyPath, name);
    if (!value) value = QueryString(HKEY_LOCAL_MACHINE, keyPath, name);
    CopyCut(value ? std::string_view(*value) : def, buffer);
    return value.has_value();
}

bool ReadRegString(std::string_view keyPath, std::string_view name, std::string& out,
                   std::size_t bufferSize, std::string_view def)
{
    std::vector<char> buffer(std::max<std::size_t>(bufferSize, 1));
    const bool found = ReadRegString(keyPath, name, std::span<char>(buffer.data(), bufferSize), def);
    out.assign(buffer.data(), bufferSize == 0 ? 0 : std::char_traits<char>::length(buffer.data()));
    return found;
}

bool ReadRegDword(std::string_view keyPath, std::string_view name, DWORD& out, DWORD def)
{
    out = def;
    const std::optional<RawValue> raw = QueryRaw(HKEY_CURRENT_USER, keyPath, name);
    if (!raw) return false;
    if (raw->type != REG_DWORD || raw->data.size() != sizeof(DWORD)) {
        Trace("RegStore -- %.*s is not a DWORD (type %u, %zu bytes)\n", static_cast<int>(name.size()),
              name.data(), static_cast<unsigned>(raw->type), raw->data.size());
        return false;
    }
    // Registry DWORDs are little-endian.
    out = static_cast<DWORD>(raw->data[0]) | static_cast<DWORD>(raw->data[1]) << 8 |
          static_cast<DWORD>(raw->data[2]) << 16 | static_cast<DWORD>(raw->data[3]) << 24;
    return true;
}

bool ReadRegBinary(std::string_view keyPath, std::string_view name, std::span<BYTE> buffer,
                   DWORD* length)
{
    std::fill(buffer.begin(), buffer.end(), BYTE{0});
    if (length) *length = 0;
    const std::optional<RawValue> raw = QueryRaw(HKEY_CURRENT_USER, keyPath, name);
    if (!raw) return false;
    if (raw->type != REG_BINARY || raw->data.size() > buffer.size()) {
        Trace("RegStore -- %.*s is not binary data of at most %zu bytes (type %u, %zu bytes)\n",
              static_cast<int>(name.size()), name.data(), buffer.size(),
              static_cast<unsigned>(raw->type), raw->data.size());
        return false;
    }
    std::copy(raw->data.begin(), raw->data.end(), buffer.begin());
    if (length) *length = static_cast<DWORD>(raw->data.size());
    return true;
}

LONG WriteRegString(std::string_view keyPath, std::string_view name, std::string_view value, HKEY root)
{
    std::string data(value);  // stored with its terminating NUL
    return WriteRaw(root, keyPath, name, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                    data.size() + 1);
}

LONG WriteRegDword(std::string_view keyPath, std::string_view name, DWORD value, HKEY root)
{
    const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                          static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return WriteRaw(root, keyPath, name, REG_DWORD, data, sizeof data);
}

LONG WriteRegBinary(std::string_view keyPath, std::string_view name, std::span<const BYTE> value,
                    HKEY root)
{
    return WriteRaw(root, keyPath, name, REG_BINARY, value.data(), value.size());
}

std::string ReadDataDirectory()
{
    std::string dir;
    ReadRegString(kMainKey, kValDir, dir, kDirBufferSize, "");
    return dir;
}

std::string DataFilePath(std::string_view fileName)
{
    std::string path = ReadDataDirectory();
    path += fileName;
    return path;
}

DWORD HeaderLimit(DWORD lastMessages, DWORD lastMessagesCount)
{
    if (lastMessages == 0) return 0;
    return static_cast<LONG>(lastMessagesCount) <= 0 ? kDefaultLastMessagesCount : lastMessagesCount;
}

DWORD ProfileSettings::HeaderLimit() const
{
    return quillory::HeaderLimit(lastMessages, lastMessagesCount);
}

ProfileSettings ReadProfileSettings(std::string_view profileName)
{
    const std::string key = ProfileKeyPath(profileName);
    ProfileSettings s;
    ReadRegDword(key, kValPostUnsubscribed, s.postUnsubscribed, kDefaultPostUnsubscribed);
    ReadRegDword(key, kValLastMessages, s.lastMessages, kDefaultLastMessages);
    ReadRegDword(key, kValLastMessagesCount, s.lastMessagesCount, kDefaultLastMessagesCount);
    ReadRegDword(key, kValCreateSubfolders, s.createSubfolders, kDefaultCreateSubfolders);
    return s;
}

bool ReadBaseFolder(std::string_view profileName, RegBaseFolder& out)
{
    out = RegBaseFolder{};
    const std::string key = ProfileKeyPath(profileName);
    DWORD folderCb = 0;
    if (!ReadRegDword(key, kValBaseFolderCB, folderCb, 0) || folderCb == 0) return false;

    DWORD storeCb = 0;
    const bool all = ReadRegBinary(key, kValBaseFolderBIN, out.folder) &&
                     ReadRegDword(key, kValBaseFolderStoreCB, storeCb, 0) &&
                     ReadRegBinary(key, kValBaseFolderStoreBIN, out.store);
    // A length beyond the value buffer cannot describe what was stored; using
    // it would read past the buffer.
    const bool sane = folderCb <= kBinaryValueSize && storeCb != 0 && storeCb <= kBinaryValueSize;
    if (!all || !sane) {
        if (all)
            Trace("RegStore -- base folder lengths %u/%u out of range\n",
                  static_cast<unsigned>(folderCb), static_cast<unsigned>(storeCb));
        out = RegBaseFolder{};
        return false;
    }
    out.folderCb = folderCb;
    out.storeCb = storeCb;
    return true;
}

LONG WriteBaseFolder(std::string_view profileName, std::string_view displayName,
                     std::span<const BYTE> folderEntryId, std::span<const BYTE> storeEntryId)
{
    if (folderEntryId.size() > kBinaryValueSize || storeEntryId.size() > kBinaryValueSize)
        return ERROR_INVALID_PARAMETER;
    const std::string key = ProfileKeyPath(profileName);
    LONG rc = WriteRegString(key, kValBaseFolder, displayName);
    if (rc == ERROR_SUCCESS)
        rc = WriteRegDword(key, kValBaseFolderCB, static_cast<DWORD>(folderEntryId.size()));
    if (rc == ERROR_SUCCESS) rc = WriteRegBinary(key, kValBaseFolderBIN, folderEntryId);
    if (rc == ERROR_SUCCESS)
        rc = WriteRegDword(key, kValBaseFolderStoreCB, static_cast<DWORD>(storeEntryId.size()));
    if (rc == ERROR_SUCCESS) rc = WriteRegBinary(key, kValBaseFolderStoreBIN, storeEntryId);
    return rc;
}

}  // namespace quillory

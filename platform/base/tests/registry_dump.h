// A registry subtree as a sorted set of lines, for tests that check exactly
// which keys and values a step leaves: "path" for a key, "path|name=type:data"
// for a value (the default value's name is empty).
#pragma once

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "platform/base/registry.h"

namespace quillory::testing {

inline void DumpKey(HKEY parent, const std::string& path, std::set<std::string>& out)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(parent, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    if (!path.empty()) out.insert(path);
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLen = sizeof name;
        BYTE data[8192];
        DWORD dataLen = sizeof data;
        DWORD type = 0;
        if (RegEnumValue(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS) break;
        std::string text;
        if (type == REG_SZ) {
            text.assign(reinterpret_cast<const char*>(data), dataLen);
            while (!text.empty() && text.back() == '\0') text.pop_back();
        } else if (type == REG_DWORD && dataLen == 4) {
            DWORD v = 0;
            std::memcpy(&v, data, 4);
            text = std::to_string(v);
        } else {
            for (DWORD b = 0; b < dataLen; ++b) {
                char hex[3];
                std::snprintf(hex, sizeof hex, "%02X", data[b]);
                text += hex;
            }
        }
        out.insert(path + "|" + std::string(name, nameLen) + "=" + std::to_string(type) + ":" + text);
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD nameLen = sizeof name;
        if (RegEnumKeyEx(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DumpKey(parent, path.empty() ? std::string(name, nameLen) : path + "\\" + std::string(name, nameLen), out);
    }
    RegCloseKey(key);
}

// Every key and value at and below root\path.
inline std::set<std::string> RegistryTree(HKEY root, const std::string& path = {})
{
    std::set<std::string> out;
    DumpKey(root, path, out);
    return out;
}

}  // namespace quillory::testing

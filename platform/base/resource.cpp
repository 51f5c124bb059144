#include "platform/base/resource.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

namespace quillory {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// A type or name as asked for: an id, or a string ("#123" is the id 123).
struct Key {
    bool isId = false;
    WORD id = 0;
    std::string_view text;
};

Key KeyOf(LPCSTR p)
{
    Key k;
    if (IS_INTRESOURCE(p)) {
        k.isId = true;
        k.id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(p));
        return k;
    }
    k.text = p;
    if (k.text.size() > 1 && k.text.size() <= 6 && k.text[0] == '#') {
        unsigned long v = 0;
        bool digits = true;
        for (char c : k.text.substr(1)) {
            if (c < '0' || c > '9') digits = false;
            else v = v * 10 + static_cast<unsigned long>(c - '0');
        }
        if (digits && v <= 0xFFFF) {
            k.isId = true;
            k.id = static_cast<WORD>(v);
        }
    }
    return k;
}

bool Matches(const Key& k, WORD id, const char* text)
{
    if (k.isId) return text == nullptr && id == k.id;
    return text != nullptr && EqualNoCase(k.text, text);
}

const ResourceTable* TableOf(HMODULE module)
{
    if (!module) module = GetModuleHandle(nullptr);
    if (!module) return nullptr;
    // GetProcAddress takes only the module's own export, never a dependency's.
    auto* table = reinterpret_cast<const ResourceTable*>(GetProcAddress(module, kResourceTableSymbol));
    if (!table || table->layoutSize != sizeof(ResourceEntry)) {
        if (table) Trace("FindResource: resource table of another layout (%u)\n", table->layoutSize);
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return table;
}

}  // namespace
}  // namespace quillory

using namespace quillory;

HRSRC FindResource(HMODULE module, LPCSTR name, LPCSTR type)
{
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const ResourceTable* table = TableOf(module);
    if (!table) return nullptr;
    const Key typeKey = KeyOf(type), nameKey = KeyOf(name);
    bool typeSeen = false;
    for (DWORD i = 0; i < table->count; ++i) {
        const ResourceEntry& e = table->entries[i];
        if (!Matches(typeKey, e.typeId, e.typeName)) continue;
        typeSeen = true;
        if (Matches(nameKey, e.nameId, e.name))
            return reinterpret_cast<HRSRC>(const_cast<ResourceEntry*>(&e));
    }
    SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource)
{
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const auto* e = reinterpret_cast<const ResourceEntry*>(resource);
    return reinterpret_cast<HGLOBAL>(const_cast<unsigned char*>(e->data));
}

void* LockResource(HGLOBAL data) { return reinterpret_cast<void*>(data); }

DWORD SizeofResource(HMODULE, HRSRC resource)
{
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<const ResourceEntry*>(resource)->size;
}

int LoadString(HINSTANCE instance, UINT id, LPSTR buffer, int size)
{
    if (!buffer || size <= 0 || id > 0xFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    HRSRC found = FindResource(instance, MAKEINTRESOURCE(static_cast<WORD>(id)), RT_STRING);
    if (!found) return 0;
    const auto* e = reinterpret_cast<const ResourceEntry*>(found);
    const std::size_t n = std::min<std::size_t>(e->size, static_cast<std::size_t>(size) - 1);
    if (n) std::memcpy(buffer, e->data, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

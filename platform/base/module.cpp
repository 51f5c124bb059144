#include "platform/base/module.h"

#include "platform/base/trace.h"
#include "platform/base/winerror.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

namespace quillory {
namespace {

constexpr std::string_view kPlatformLibraryName = "libqbase.so";

// A home system module and the platform library that serves it; those other
// than this library sit beside it.
struct SystemModule {
    std::string_view name;
    std::string_view library;
};
constexpr std::array<SystemModule, 8> kSystemModules = {{
    {"kernel32", kPlatformLibraryName},
    {"user32", kPlatformLibraryName},
    {"advapi32", kPlatformLibraryName},
    {"shell32", kPlatformLibraryName},
    {"version", kPlatformLibraryName},
    {"mapi32", "libqmapi.so"},
    {"wininet", "libinetcomm.so"},   // the dialling services live in the news component
    {"rasapi32", "libinetcomm.so"},
}};
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;
constexpr std::uintptr_t kLowestName = 0x10000;  // smaller "names" are ordinals

thread_local std::string t_moduleError;

// Handles this loader has handed out, with the path each was found at and the
// LoadLibrary references not yet undone.
struct Entry {
    std::string path;
    long loads = 0;
    bool main = false;
};

struct Table {
    std::mutex lock;
    std::unordered_map<void*, Entry> entries;
};

Table& TheTable()
{
    static Table table;
    return table;
}

void Fail(DWORD code, std::string_view call, std::string_view name, std::string_view why)
{
    t_moduleError.assign(why);
    Trace("%.*s(%.*s): %.*s\n", static_cast<int>(call.size()), call.data(), static_cast<int>(name.size()),
          name.data(), static_cast<int>(why.size()), why.data());
    SetLastError(code);
}

std::string DlError()
{
    const char* e = dlerror();
    return e ? e : "unknown loader error";
}

std::string ToLower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EndsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::string_view BaseName(std::string_view name)
{
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

std::string Absolute(std::string_view path)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (ec) return std::string(path);
    return p.lexically_normal().string();
}

const std::string& ExecutablePath()
{
    static const std::string path = [] {
        std::error_code ec;
        const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
        return ec ? std::string() : p.string();
    }();
    return path;
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void* MainProgramHandle()
{
    void* h = dlopen(nullptr, RTLD_NOW);
    if (h) dlclose(h);  // the main program stays; keep its count as it was
    return h;
}

void Remember(void* handle, const std::string& path, bool load, bool main = false)
{
    Table& t = TheTable();
    std::lock_guard g(t.lock);
    Entry& e = t.entries[handle];
    if (e.path.empty() || e.loads == 0) {
        e.path = path;
        e.main = main;
    }
    if (load) ++e.loads;
}

// The known entry of a handle that is still loaded, or false.
bool Lookup(void* handle, Entry& out)
{
    Table& t = TheTable();
    {
        std::lock_guard g(t.lock);
        const auto it = t.entries.find(handle);
        if (it == t.entries.end()) return false;
        out = it->second;
        if (out.loads > 0) return true;
    }
    // Not held by LoadLibrary: make sure the module did not go meanwhile.
    void* now = out.main ? MainProgramHandle() : dlopen(out.path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (now && !out.main) dlclose(now);
    if (now == handle) return true;
    std::lock_guard g(t.lock);
    const auto it = t.entries.find(handle);
    if (it != t.entries.end() && it->second.loads == 0) t.entries.erase(it);
    return false;
}

// Paths of the loaded objects in load order; the main program comes first
// with an empty name.
std::vector<std::string> LoadedObjects()
{
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            static_cast<std::vector<std::string>*>(data)->emplace_back(info->dlpi_name ? info->dlpi_name : "");
            return 0;
        },
        &names);
    return names;
}

// The link map of the object that holds an address, or null. Found through
// the loader's own index of object ranges: dladdr would search the object's
// symbol table, which is slow on every GetProcAddress.
link_map* OwnerOf(const void* address)
{
    dl_find_object found{};
    if (!address || _dl_find_object(const_cast<void*>(address), &found) != 0) return nullptr;
    return found.dlfo_link_map;
}

// The link map of the module a handle stands for.
link_map* LinkMapOf(void* handle)
{
    link_map* map = nullptr;
    return dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 ? map : nullptr;
}

// The system module a name designates, or null.
const SystemModule* FindSystemModule(std::string_view name)
{
    std::string base = ToLower(BaseName(name));
    if (EndsWith(base, ".dll")) base.resize(base.size() - 4);
    const auto it = std::find_if(kSystemModules.begin(), kSystemModules.end(),
                                 [&base](const SystemModule& m) { return m.name == base; });
    return it == kSystemModules.end() ? nullptr : &*it;
}

// Where the platform library serving a system module lives.
std::string SystemModulePath(const SystemModule& module)
{
    if (module.library == kPlatformLibraryName) return PlatformLibraryPath();
    return (std::filesystem::path(PlatformLibraryPath()).parent_path() / module.library).string();
}

}  // namespace

bool IsSystemModuleName(std::string_view name) { return FindSystemModule(name) != nullptr; }

std::string SharedObjectName(std::string_view name)
{
    const std::string_view base = BaseName(name);
    const std::string_view dir = name.substr(0, name.size() - base.size());
    if (EndsWith(base, ".so") || base.find(".so.") != std::string_view::npos) return std::string(name);
    if (const SystemModule* system = FindSystemModule(base)) return std::string(system->library);
    std::string stem = ToLower(base);
    if (EndsWith(stem, ".dll")) stem.resize(stem.size() - 4);
    return std::string(dir) + "lib" + stem + ".so";
}

std::string ModulePathOf(const void* address)
{
    const link_map* map = OwnerOf(address);
    if (!map) return {};
    if (!map->l_name || !*map->l_name) return ExecutablePath();
    return Absolute(map->l_name);
}

std::string PlatformLibraryPath()
{
    static const std::string path = ModulePathOf(reinterpret_cast<const void*>(&PlatformLibraryPath));
    return path;
}

HMODULE ModuleHandleOf(const void* address)
{
    const std::string path = ModulePathOf(address);
    if (path.empty()) {
        Fail(ERROR_MOD_NOT_FOUND, "ModuleHandleOf", "", "no module contains the address");
        return nullptr;
    }
    return GetModuleHandle(path == ExecutablePath() ? nullptr : path.c_str());
}

std::vector<std::string> ModuleSearchPath(const void* caller)
{
    std::vector<std::string> dirs;
    auto add = [&dirs](std::string dir) {
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        if (!dir.empty() && std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(std::move(dir));
    };
    if (const std::string self = ModulePathOf(caller); !self.empty())
        add(std::filesystem::path(self).parent_path().string());
    if (const char* list = std::getenv("QUILLORY_LIBPATH")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            add(Absolute(rest.substr(0, colon)));  // empty entries add nothing
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    add(QUILLORY_LIBDIR);
    return dirs;
}

HMODULE LoadLibraryFor(LPCSTR name, const void* caller)
{
    TheTable();  // built before any module, so it outlives their destructors
    if (!name || !*name) {
        Fail(ERROR_INVALID_PARAMETER, "LoadLibrary", "", "no module name");
        return nullptr;
    }
    const std::string mapped = SharedObjectName(name);
    std::vector<std::string> candidates;
    if (const SystemModule* system = FindSystemModule(name)) {
        candidates.push_back(SystemModulePath(*system));
    } else if (mapped.find('/') != std::string::npos) {
        candidates.push_back(Absolute(mapped));
    } else {
        for (const std::string& dir : ModuleSearchPath(caller)) candidates.push_back(dir + "/" + mapped);
    }

    for (const std::string& path : candidates) {
        if (!IsRegularFile(path)) continue;
        // The first file found is the module: a broken one is an error, not
        // a reason to take another of the same name.
        void* handle = dlopen(path.c_str(), kOpenFlags);
        if (!handle) {
            Fail(ERROR_MOD_NOT_FOUND, "LoadLibrary", name, DlError());
            return nullptr;
        }
        Remember(handle, path, true);
        return static_cast<HMODULE>(handle);
    }
    std::string why = mapped + " not found in";
    for (const std::string& path : candidates) {
        why += ' ';
        why += std::filesystem::path(path).parent_path().string();
    }
    Fail(ERROR_MOD_NOT_FOUND, "LoadLibrary", name, why);
    return nullptr;
}

std::string LastModuleError() { return t_moduleError; }

}  // namespace quillory

using namespace quillory;

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (!module) {
        Fail(ERROR_INVALID_HANDLE, "GetProcAddress", name && reinterpret_cast<std::uintptr_t>(name) >= kLowestName ? name : "",
             "no module");
        return nullptr;
    }
    if (reinterpret_cast<std::uintptr_t>(name) < kLowestName) {
        const auto ordinal = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
        const auto* table = reinterpret_cast<const OrdinalTable*>(GetProcAddress(module, kOrdinalTableSymbol));
        for (DWORD i = 0; table && i < table->count; ++i)
            if (table->entries[i].ordinal == ordinal) return GetProcAddress(module, table->entries[i].name);
        Fail(ERROR_PROC_NOT_FOUND, "GetProcAddress", "#" + std::to_string(ordinal), "no export of that ordinal");
        return nullptr;
    }
    Entry entry;
    if (!Lookup(module, entry)) {
        Fail(ERROR_INVALID_HANDLE, "GetProcAddress", name, "not a loaded module's handle");
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(module, name);
    if (!symbol) {
        Fail(ERROR_PROC_NOT_FOUND, "GetProcAddress", name, DlError());
        return nullptr;
    }
    // dlsym also searches the module's dependencies; an export must be the
    // module's own.
    const link_map* owner = OwnerOf(symbol);
    if (!owner || owner != LinkMapOf(module)) {
        Fail(ERROR_PROC_NOT_FOUND, "GetProcAddress", name, "defined by another module, not exported by " + entry.path);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    {
        Table& t = TheTable();
        std::lock_guard g(t.lock);
        const auto it = module ? t.entries.find(module) : t.entries.end();
        if (it == t.entries.end() || it->second.loads == 0) {
            t_moduleError = "not a handle from LoadLibrary";
            Trace("FreeLibrary(%p): not a handle from LoadLibrary\n", static_cast<void*>(module));
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        --it->second.loads;
    }
    // Outside the lock: the module's destructors may load or free others.
    if (dlclose(module) != 0) {
        Fail(ERROR_INVALID_HANDLE, "FreeLibrary", "", DlError());
        return FALSE;
    }
    return TRUE;
}

HMODULE GetModuleHandle(LPCSTR name)
{
    if (!name) {
        void* h = MainProgramHandle();
        if (h) Remember(h, ExecutablePath(), false, true);
        return static_cast<HMODULE>(h);
    }
    if (!*name) {
        Fail(ERROR_INVALID_PARAMETER, "GetModuleHandle", "", "no module name");
        return nullptr;
    }
    if (name[0] == '/' && Absolute(name) == ExecutablePath()) return GetModuleHandle(nullptr);
    const std::string mapped = SharedObjectName(name);
    std::string path;
    if (const SystemModule* system = FindSystemModule(name)) {
        path = SystemModulePath(*system);
    } else if (mapped.find('/') != std::string::npos) {
        path = Absolute(mapped);
    } else {
        const std::vector<std::string> loaded = LoadedObjects();
        for (std::size_t i = 0; i < loaded.size() && path.empty(); ++i) {
            const std::string full = i == 0 && loaded[i].empty() ? ExecutablePath() : loaded[i];
            if (BaseName(full) == mapped) {
                if (i == 0) return GetModuleHandle(nullptr);
                path = Absolute(full);
            }
        }
    }
    void* h = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) {
        Fail(ERROR_MOD_NOT_FOUND, "GetModuleHandle", name, mapped + " is not loaded");
        return nullptr;
    }
    dlclose(h);  // RTLD_NOLOAD counted a reference; a module handle counts none
    Remember(h, path, false);
    return static_cast<HMODULE>(h);
}

DWORD GetModuleFileName(HMODULE module, LPSTR buffer, DWORD size)
{
    std::string path;
    if (!module) {
        path = ExecutablePath();
    } else {
        Entry entry;
        if (!Lookup(module, entry)) {
            Fail(ERROR_MOD_NOT_FOUND, "GetModuleFileName", "", "not a loaded module's handle");
            return 0;
        }
        path = entry.path;
    }
    if (path.empty()) {
        Fail(ERROR_MOD_NOT_FOUND, "GetModuleFileName", "", "path unknown");
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// `quillory reg`: shows and edits the registry the way reg.exe does at home,
// with the same switches, output layout and prompts.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/commands.h"
#include "platform/base/registry.h"

namespace quillory::host {
namespace {

constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kDone = "The operation completed successfully.";
constexpr const char* kCancelled = "The operation was cancelled by the user.";
constexpr const char* kDefaultName = "(Default)";
constexpr std::size_t kValueNameBuffer = REG_MAX_VALUE_NAME + 1;

constexpr const char* kUsage = R"(usage:
  quillory reg query  KEY [/v NAME | /ve] [/s]
  quillory reg add    KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD|REG_BINARY] [/d DATA] [/f]
  quillory reg delete KEY [/v NAME | /ve | /va] [/f]

  KEY    ROOT[\SUBKEY], ROOT one of HKCU, HKLM, HKCR, HKEY_CURRENT_USER,
         HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT
  /v     the value NAME;  /ve  the key's default value;  /va  all values
  /s     query the key and everything below it
  /t     the value's type (REG_SZ when not given)
  /d     the data: text, a DWORD in decimal or 0x-hex, or binary as hex digits
  /f     do not ask before overwriting or deleting
)";

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// ---- Parsing --------------------------------------------------------------

struct KeyPath {
    HKEY root = nullptr;
    std::string rootName;  // the full name, as printed
    std::string sub;       // "" for the hive itself

    std::string Display() const { return sub.empty() ? rootName : rootName + "\\" + sub; }
};

std::optional<KeyPath> ParseKeyPath(std::string_view text)
{
    struct Root {
        std::string_view shortName, fullName;
        HKEY key;
    };
    const Root roots[] = {{"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                          {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                          {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};
    if (!text.empty() && text.back() == '\\') text.remove_suffix(1);
    const std::size_t sep = text.find('\\');
    const std::string_view rootText = text.substr(0, sep);
    const std::string_view sub = sep == std::string_view::npos ? std::string_view() : text.substr(sep + 1);
    // Empty names inside the path are not names.
    if (sep != std::string_view::npos && (sub.empty() || sub.front() == '\\' ||
                                          sub.find("\\\\") != std::string_view::npos))
        return std::nullopt;
    for (const Root& r : roots)
        if (EqualsIgnoreCase(rootText, r.shortName) || EqualsIgnoreCase(rootText, r.fullName))
            return KeyPath{r.key, std::string(r.fullName), std::string(sub)};
    return std::nullopt;
}

struct Request {
    std::string operation;  // "query", "add" or "delete", lower case
    KeyPath key;
    std::optional<std::string> valueName;  // "" is the default value
    bool allValues = false;
    bool recurse = false;
    bool force = false;
    std::optional<std::string> type;
    std::optional<std::string> data;
};

// Parses the arguments after `reg`; on failure returns the message to show.
std::optional<std::string> ParseRequest(Args args, Request* req)
{
    if (args.empty()) return "ERROR: Invalid syntax. Name an operation: query, add or delete.";
    for (const char* op : {"query", "add", "delete"})
        if (EqualsIgnoreCase(args[0], op)) req->operation = op;
    if (req->operation.empty()) return "ERROR: Invalid syntax. Unknown operation: " + std::string(args[0]);
    if (args.size() < 2) return "ERROR: Invalid syntax. A key name is missing.";
    std::optional<KeyPath> key = ParseKeyPath(args[1]);
    if (!key) return "ERROR: Invalid key name.";
    req->key = *key;

    const bool query = req->operation == "query", add = req->operation == "add",
               del = req->operation == "delete";
    auto bad = [](std::string_view what) { return "ERROR: Invalid syntax. " + std::string(what); };
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        std::string sw(arg);
        if (!sw.empty() && sw[0] == '-') sw[0] = '/';
        auto takeNext = [&](std::optional<std::string>* into) -> std::optional<std::string> {
            if (into->has_value()) return bad("Switch " + std::string(arg) + " given twice.");
            if (i + 1 >= args.size()) return bad("Switch " + std::string(arg) + " needs an argument.");
            *into = std::string(args[++i]);
            return std::nullopt;
        };
        std::optional<std::string> err;
        if (EqualsIgnoreCase(sw, "/v")) {
            err = takeNext(&req->valueName);
        } else if (EqualsIgnoreCase(sw, "/ve")) {
            if (req->valueName) return bad("Use only one of /v and /ve.");
            req->valueName = "";
        } else if (EqualsIgnoreCase(sw, "/va") && del) {
            req->allValues = true;
        } else if (EqualsIgnoreCase(sw, "/s") && query) {
            req->recurse = true;
        } else if (EqualsIgnoreCase(sw, "/t") && add) {
            err = takeNext(&req->type);
        } else if (EqualsIgnoreCase(sw, "/d") && add) {
            err = takeNext(&req->data);
        } else if (EqualsIgnoreCase(sw, "/f") && (add || del)) {
            req->force = true;
        } else {
            return bad("Unknown switch or argument: " + std::string(arg));
        }
        if (err) return err;
    }
    if (req->allValues && req->valueName) return bad("Use only one of /v, /ve and /va.");
    // Type or data without a name set the default value.
    if (add && !req->valueName && (req->type || req->data)) req->valueName = "";
    return std::nullopt;
}

std::optional<DWORD> ParseType(std::string_view text)
{
    for (auto [name, type] : {std::pair{"REG_SZ", REG_SZ}, {"REG_DWORD", REG_DWORD}, {"REG_BINARY", REG_BINARY}})
        if (EqualsIgnoreCase(text, name)) return type;
    return std::nullopt;
}

// Decimal, or hexadecimal after "0x"; must fit 32 bits.
std::optional<DWORD> ParseDword(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty() || text[0] == '+' || text[0] == '-') return std::nullopt;
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<DWORD>(v);
}

std::optional<std::vector<BYTE>> ParseHex(std::string_view text)
{
    if (text.size() % 2) return std::nullopt;
    std::vector<BYTE> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto [end, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, out[i], 16);
        if (ec != std::errc() || end != text.data() + 2 * i + 2) return std::nullopt;
    }
    return out;
}

// The bytes to store for a value of the given type; an error message otherwise.
std::optional<std::string> EncodeData(DWORD type, const std::string& text, std::vector<BYTE>* out)
{
    if (type == REG_DWORD) {
        std::optional<DWORD> v = ParseDword(text.empty() ? "0" : text);
        if (!v) return "ERROR: Invalid data for REG_DWORD (decimal or 0x-hexadecimal, 32 bits): " + text;
        out->resize(sizeof(DWORD));
        for (std::size_t i = 0; i < sizeof(DWORD); ++i) (*out)[i] = static_cast<BYTE>(*v >> (8 * i));
    } else if (type == REG_BINARY) {
        std::optional<std::vector<BYTE>> bytes = ParseHex(text);
        if (!bytes) return "ERROR: Invalid data for REG_BINARY (an even number of hex digits): " + text;
        *out = std::move(*bytes);
    } else {
        out->assign(text.begin(), text.end());
        out->push_back(0);  // strings are stored with their NUL
    }
    return std::nullopt;
}

// ---- Formatting -----------------------------------------------------------

std::string TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(type));
        return buf;
    }
    }
}

std::string FormatData(DWORD type, std::span<const BYTE> data)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text(data.begin(), data.end());
        return text.substr(0, text.find('\0'));
    }
    char buf[16];
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD v = 0;
        for (std::size_t i = 0; i < sizeof(DWORD); ++i) v |= static_cast<DWORD>(data[i]) << (8 * i);
        std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(v));
        return buf;
    }
    std::string hex;
    for (BYTE b : data) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(b));
        hex += buf;
    }
    return hex;
}

std::string DisplayName(const std::string& name) { return name.empty() ? kDefaultName : name; }

std::string FormatValueLine(const std::string& name, DWORD type, std::span<const BYTE> data)
{
    return "    " + DisplayName(name) + "    " + TypeName(type) + "    " + FormatData(type, data);
}

std::string ErrorText(LONG rc)
{
    switch (rc) {
    case ERROR_FILE_NOT_FOUND: return kNotFound;
    case ERROR_ACCESS_DENIED: return "ERROR: Access is denied.";
    case ERROR_KEY_DELETED: return "ERROR: The key was deleted meanwhile.";
    case ERROR_BADDB: return "ERROR: The registry database " + RegistryFile().string() + " is damaged or cannot be opened.";
    case ERROR_CANTWRITE: return "ERROR: The registry database could not be written.";
    case ERROR_INVALID_PARAMETER: return "ERROR: Invalid key or value name.";
    default: return "ERROR: Registry failure " + std::to_string(rc) + ".";
    }
}

// ---- Registry access ------------------------------------------------------

class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle()
    {
        if (h_) RegCloseKey(h_);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* out() { return &h_; }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

struct Value {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

LONG ReadValue(HKEY key, const std::string& name, Value* out)
{
    out->name = name;
    while (true) {
        DWORD cb = static_cast<DWORD>(out->data.size());
        LONG rc = RegQueryValueEx(key, name.c_str(), nullptr, &out->type, out->data.data(), &cb);
        if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && out->data.empty() && cb > 0)) {
            out->data.resize(cb);  // first call, or the value grew meanwhile
            continue;
        }
        if (rc == ERROR_SUCCESS) out->data.resize(cb);
        return rc;
    }
}

LONG ReadValues(HKEY key, std::vector<Value>* out)
{
    std::vector<char> name(kValueNameBuffer);
    for (DWORD i = 0;; ++i) {
        DWORD cch = static_cast<DWORD>(name.size());
        LONG rc = RegEnumValue(key, i, name.data(), &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return rc;
        Value v;
        if (rc = ReadValue(key, std::string(name.data(), cch), &v); rc != ERROR_SUCCESS) return rc;
        out->push_back(std::move(v));
    }
}

LONG ReadSubKeys(HKEY key, std::vector<std::string>* out)
{
    char name[REG_MAX_KEY_NAME + 1];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof name;
        LONG rc = RegEnumKeyEx(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (rc != ERROR_SUCCESS) return rc;
        out->emplace_back(name, cch);
    }
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
}

// Asks on stdout and reads one line from stdin; only "y"/"yes" agree.
bool Confirm(const std::string& question)
{
    std::printf("%s ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    const bool answered = static_cast<bool>(std::getline(std::cin, answer));
    // A typed answer ends its line on the terminal; a piped one does not.
    if (!answered || !isatty(STDIN_FILENO)) std::printf("\n");
    if (!answered) return false;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    while (!answer.empty() && answer.front() == ' ') answer.erase(0, 1);
    return EqualsIgnoreCase(answer, "y") || EqualsIgnoreCase(answer, "yes");
}

// ---- Operations -----------------------------------------------------------

// Prints one key (and with /s everything below it); counts what matched.
LONG QueryKey(HKEY key, const std::string& path, const Request& req, int* matches)
{
    std::vector<Value> values;
    if (LONG rc = ReadValues(key, &values); rc != ERROR_SUCCESS) return rc;
    // The one value asked for, printed with its name as stored.
    if (req.valueName)
        std::erase_if(values, [&](const Value& v) { return !EqualsIgnoreCase(v.name, *req.valueName); });
    std::vector<std::string> subKeys;
    if (!req.valueName || req.recurse)
        if (LONG rc = ReadSubKeys(key, &subKeys); rc != ERROR_SUCCESS) return rc;

    if (!req.valueName || !values.empty()) {
        std::printf("\n%s\n", path.c_str());
        for (const Value& v : values) std::printf("%s\n", FormatValueLine(v.name, v.type, v.data).c_str());
        *matches += req.valueName ? static_cast<int>(values.size()) : 1;
    }
    if (!req.recurse) {
        if (!subKeys.empty()) std::printf("\n");
        for (const std::string& s : subKeys) std::printf("%s\\%s\n", path.c_str(), s.c_str());
        return ERROR_SUCCESS;
    }
    for (const std::string& s : subKeys) {
        KeyHandle sub;
        LONG rc = RegOpenKeyEx(key, s.c_str(), 0, KEY_READ, sub.out());
        if (rc == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
        if (rc != ERROR_SUCCESS) return rc;
        if (rc = QueryKey(sub.get(), path + "\\" + s, req, matches); rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

int Query(const Request& req)
{
    KeyHandle key;
    if (LONG rc = RegOpenKeyEx(req.key.root, req.key.sub.c_str(), 0, KEY_READ, key.out()); rc != ERROR_SUCCESS)
        return Fail(ErrorText(rc));
    int matches = 0;
    if (LONG rc = QueryKey(key.get(), req.key.Display(), req, &matches); rc != ERROR_SUCCESS)
        return Fail(ErrorText(rc));
    if (req.valueName && matches == 0) return Fail(kNotFound);
    return 0;
}

int Add(const Request& req)
{
    std::vector<BYTE> bytes;
    DWORD type = REG_SZ;
    if (req.type) {
        std::optional<DWORD> t = ParseType(*req.type);
        if (!t) return Fail("ERROR: Invalid type " + *req.type + " (REG_SZ, REG_DWORD or REG_BINARY).");
        type = *t;
    }
    if (auto err = EncodeData(type, req.data.value_or(""), &bytes)) return Fail(*err);

    if (req.valueName && !req.force) {
        KeyHandle existing;
        if (RegOpenKeyEx(req.key.root, req.key.sub.c_str(), 0, KEY_READ, existing.out()) == ERROR_SUCCESS &&
            RegQueryValueEx(existing.get(), req.valueName->c_str(), nullptr, nullptr, nullptr, nullptr) ==
                ERROR_SUCCESS &&
            !Confirm("Value " + DisplayName(*req.valueName) + " exists, overwrite(Yes/No)?")) {
            std::printf("%s\n", kCancelled);
            return 0;
        }
    }
    KeyHandle key;
    LONG rc = RegCreateKeyEx(req.key.root, req.key.sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_WRITE, nullptr, key.out(), nullptr);
    if (rc == ERROR_SUCCESS && req.valueName)
        rc = RegSetValueEx(key.get(), req.valueName->c_str(), 0, type, bytes.data(),
                           static_cast<DWORD>(bytes.size()));
    if (rc != ERROR_SUCCESS) return Fail(ErrorText(rc));
    std::printf("%s\n", kDone);
    return 0;
}

int Delete(const Request& req)
{
    const bool wholeKey = !req.valueName && !req.allValues;
    if (wholeKey && req.key.sub.empty()) return Fail("ERROR: A hive root cannot be deleted.");
    KeyHandle key;
    if (LONG rc = RegOpenKeyEx(req.key.root, req.key.sub.c_str(), 0, KEY_ALL_ACCESS, key.out());
        rc != ERROR_SUCCESS)
        return Fail(ErrorText(rc));

    std::string question;
    if (req.valueName) {
        LONG rc = RegQueryValueEx(key.get(), req.valueName->c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) return Fail(ErrorText(rc));
        question = "Delete the registry value " + DisplayName(*req.valueName) + " (Yes/No)?";
    } else if (req.allValues) {
        question = "Delete all values under the registry key " + req.key.Display() + " (Yes/No)?";
    } else {
        question = "Permanently delete the registry key " + req.key.Display() + " (Yes/No)?";
    }
    if (!req.force && !Confirm(question)) {
        std::printf("%s\n", kCancelled);
        return 0;
    }

    LONG rc = ERROR_SUCCESS;
    if (req.valueName) {
        rc = RegDeleteValue(key.get(), req.valueName->c_str());
    } else if (req.allValues) {
        std::vector<Value> values;
        rc = ReadValues(key.get(), &values);
        for (std::size_t i = 0; rc == ERROR_SUCCESS && i < values.size(); ++i) {
            rc = RegDeleteValue(key.get(), values[i].name.c_str());
            if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;  // gone meanwhile
        }
    } else {
        rc = RegDeleteTree(req.key.root, req.key.sub.c_str());
    }
    if (rc != ERROR_SUCCESS) return Fail(ErrorText(rc));
    std::printf("%s\n", kDone);
    return 0;
}

}  // namespace

int RunRegCommand(Args args)
{
    for (std::string_view a : args)
        if (a == "/?" || a == "-?" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    Request req;
    if (std::optional<std::string> err = ParseRequest(args, &req)) {
        std::fprintf(stderr, "%s\nType \"quillory reg /?\" for usage.\n", err->c_str());
        return 1;
    }
    if (req.operation == "query") return Query(req);
    if (req.operation == "add") return Add(req);
    return Delete(req);
}

}  // namespace quillory::host

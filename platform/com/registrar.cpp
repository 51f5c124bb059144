#include "platform/com/registrar.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <strings.h>
#include <vector>

#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/com/com_registry.h"
#include "platform/com/refcounted.h"

namespace quillory {
namespace {

// Nesting deeper than this is no script of ours.
constexpr int kMaxDepth = 64;
constexpr char kScriptResourceType[] = "REGISTRY";

struct Token {
    enum class Kind { Word, Quoted, Open, Close, Equals, End } kind = Kind::End;
    std::string text;
    int line = 0;
};

class Lexer {
public:
    Lexer(std::string_view s, const Replacements& r) : s_(s), repl_(r) {}

    bool Next(Token& t, std::string& error)
    {
        SkipBlanks();
        t = Token{};
        t.line = line_;
        if (pos_ >= s_.size()) return true;
        const char c = s_[pos_];
        if (c == '{' && BracedName()) {
            // A class or application id written bare: "{XXXXXXXX-...}".
            t.kind = Token::Kind::Word;
            const std::size_t end = s_.find('}', pos_);
            std::string raw(s_.substr(pos_, end + 1 - pos_));
            pos_ = end + 1;
            return Substitute(raw, t.text, error);
        }
        if (c == '{' || c == '}' || c == '=') {
            ++pos_;
            t.kind = c == '{' ? Token::Kind::Open : c == '}' ? Token::Kind::Close : Token::Kind::Equals;
            return true;
        }
        std::string raw;
        if (c == '\'') {
            t.kind = Token::Kind::Quoted;
            ++pos_;
            for (;;) {
                if (pos_ >= s_.size()) return Fail(error, "a quoted name is not closed");
                const char q = s_[pos_++];
                if (q == '\n') ++line_;
                if (q == '\'') {
                    if (pos_ < s_.size() && s_[pos_] == '\'') {
                        raw += '\'';
                        ++pos_;
                        continue;
                    }
                    break;
                }
                raw += q;
            }
        } else {
            t.kind = Token::Kind::Word;
            while (pos_ < s_.size() && !std::isspace(static_cast<unsigned char>(s_[pos_])) && s_[pos_] != '{' &&
                   s_[pos_] != '}' && s_[pos_] != '=' && s_[pos_] != '\'')
                raw += s_[pos_++];
        }
        return Substitute(raw, t.text, error);
    }

    int Line() const { return line_; }

private:
    // A '{' that starts a name rather than a block: text up to a '}' with
    // no blank, brace or quote in between.
    bool BracedName() const
    {
        for (std::size_t i = pos_ + 1; i < s_.size(); ++i) {
            const char c = s_[i];
            if (c == '}') return i > pos_ + 1;
            if (std::isspace(static_cast<unsigned char>(c)) || c == '{' || c == '\'' || c == '=') return false;
        }
        return false;
    }

    void SkipBlanks()
    {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) {
            if (s_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    bool Fail(std::string& error, const std::string& why)
    {
        error = "line " + std::to_string(line_) + ": " + why;
        return false;
    }

    // Replaces %NAME% inside one word; the values are taken as they are.
    bool Substitute(const std::string& raw, std::string& out, std::string& error)
    {
        out.clear();
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '%') {
                out += raw[i];
                continue;
            }
            const std::size_t end = raw.find('%', i + 1);
            if (end == std::string::npos) return Fail(error, "a replacement is not closed");
            if (end == i + 1) {
                out += '%';
            } else {
                const std::string name = raw.substr(i + 1, end - i - 1);
                const auto it = FindReplacement(name);
                if (it == repl_.end()) return Fail(error, "no replacement for %" + name + "%");
                out += it->second;
            }
            i = end;
        }
        return true;
    }

    Replacements::const_iterator FindReplacement(const std::string& name) const
    {
        for (auto it = repl_.begin(); it != repl_.end(); ++it)
            if (strcasecmp(it->first.c_str(), name.c_str()) == 0) return it;
        return repl_.end();
    }

    std::string_view s_;
    const Replacements& repl_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

struct Value {
    DWORD type = REG_SZ;
    std::vector<BYTE> data;
};

struct Key {
    enum class Mode { Plain, NoRemove, ForceRemove, Delete } mode = Mode::Plain;
    std::string name;
    std::optional<Value> defaultValue;
    std::vector<std::pair<std::string, Value>> values;
    std::vector<Key> subkeys;
};

struct Root {
    HKEY hive = nullptr;
    std::vector<Key> keys;
};

bool HiveOf(const std::string& name, HKEY& hive)
{
    struct Name {
        const char* shortName;
        const char* longName;
        HKEY hive;
    };
    const Name names[] = {{"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                          {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                          {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}};
    for (const auto& n : names) {
        if (strcasecmp(name.c_str(), n.shortName) == 0 || strcasecmp(name.c_str(), n.longName) == 0) {
            hive = n.hive;
            return true;
        }
    }
    return false;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>& out)
{
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned v = 0;
        const auto r = std::from_chars(text.data() + i, text.data() + i + 2, v, 16);
        if (r.ec != std::errc{} || r.ptr != text.data() + i + 2) return false;
        out.push_back(static_cast<BYTE>(v));
    }
    return true;
}

class Parser {
public:
    Parser(std::string_view script, const Replacements& r) : lex_(script, r) {}

    bool Parse(std::vector<Root>& roots, std::string& error)
    {
        if (!Advance(error)) return false;
        while (tok_.kind != Token::Kind::End) {
            Root root;
            if (tok_.kind != Token::Kind::Word || !HiveOf(tok_.text, root.hive)) return Fail(error, "a root key (HKCR, HKCU, HKLM) is expected");
            if (!Advance(error) || !Expect(Token::Kind::Open, "'{'", error)) return false;
            if (!ParseBody(root.keys, nullptr, 1, error)) return false;
            roots.push_back(std::move(root));
        }
        return true;
    }

private:
    bool Advance(std::string& error) { return lex_.Next(tok_, error); }

    bool Fail(std::string& error, const std::string& why)
    {
        error = "line " + std::to_string(tok_.line) + ": " + why;
        return false;
    }

    bool Expect(Token::Kind kind, const char* what, std::string& error)
    {
        if (tok_.kind != kind) return Fail(error, std::string(what) + " is expected");
        return Advance(error);
    }

    bool IsName() const { return tok_.kind == Token::Kind::Word || tok_.kind == Token::Kind::Quoted; }

    // Keys (and, inside a key, values) up to the closing brace.
    bool ParseBody(std::vector<Key>& keys, Key* owner, int depth, std::string& error)
    {
        if (depth > kMaxDepth) return Fail(error, "keys are nested too deep");
        while (tok_.kind != Token::Kind::Close) {
            if (tok_.kind == Token::Kind::End) return Fail(error, "'}' is missing");
            if (owner && tok_.kind == Token::Kind::Word && strcasecmp(tok_.text.c_str(), "val") == 0) {
                if (!Advance(error) || !IsName()) return Fail(error, "a value name is expected");
                std::string name = tok_.text;
                Value v;
                if (!Advance(error) || !Expect(Token::Kind::Equals, "'='", error) || !ParseValue(v, error)) return false;
                owner->values.emplace_back(std::move(name), std::move(v));
                continue;
            }
            Key key;
            if (!ParseKey(key, depth, error)) return false;
            keys.push_back(std::move(key));
        }
        return Advance(error);
    }

    bool ParseKey(Key& key, int depth, std::string& error)
    {
        while (tok_.kind == Token::Kind::Word) {
            if (strcasecmp(tok_.text.c_str(), "NoRemove") == 0)
                key.mode = Key::Mode::NoRemove;
            else if (strcasecmp(tok_.text.c_str(), "ForceRemove") == 0)
                key.mode = Key::Mode::ForceRemove;
            else if (strcasecmp(tok_.text.c_str(), "Delete") == 0)
                key.mode = Key::Mode::Delete;
            else
                break;
            if (!Advance(error)) return false;
        }
        if (!IsName()) return Fail(error, "a key name is expected");
        key.name = tok_.text;
        if (key.name.empty() || key.name.find('\\') != std::string::npos)
            return Fail(error, "a key name is empty or holds '\\'");
        if (!Advance(error)) return false;
        if (tok_.kind == Token::Kind::Equals) {
            Value v;
            if (!Advance(error) || !ParseValue(v, error)) return false;
            key.defaultValue = std::move(v);
        }
        if (tok_.kind == Token::Kind::Open) {
            if (!Advance(error)) return false;
            return ParseBody(key.subkeys, &key, depth + 1, error);
        }
        return true;
    }

    bool ParseValue(Value& v, std::string& error)
    {
        if (tok_.kind != Token::Kind::Word || tok_.text.size() != 1) return Fail(error, "a value type (s, d, b) is expected");
        const char type = static_cast<char>(std::tolower(static_cast<unsigned char>(tok_.text[0])));
        if (!Advance(error)) return false;
        if (!IsName()) return Fail(error, "value data is expected");
        const std::string data = tok_.text;
        if (type == 's') {
            v.type = REG_SZ;
            v.data.assign(data.begin(), data.end());
            v.data.push_back(0);
        } else if (type == 'd') {
            unsigned long n = 0;
            const bool hex = data.size() > 2 && data[0] == '0' && (data[1] == 'x' || data[1] == 'X');
            const char* first = data.data() + (hex ? 2 : 0);
            const auto r = std::from_chars(first, data.data() + data.size(), n, hex ? 16 : 10);
            if (r.ec != std::errc{} || r.ptr != data.data() + data.size() || n > 0xFFFFFFFFul)
                return Fail(error, "a DWORD value is not a number");
            const DWORD dw = static_cast<DWORD>(n);
            v.type = REG_DWORD;
            v.data.assign(reinterpret_cast<const BYTE*>(&dw), reinterpret_cast<const BYTE*>(&dw) + sizeof dw);
        } else if (type == 'b') {
            v.type = REG_BINARY;
            if (!ParseHexBytes(data, v.data)) return Fail(error, "a binary value is not hex digits");
        } else {
            return Fail(error, "a value type (s, d, b) is expected");
        }
        return Advance(error);
    }

    Lexer lex_;
    Token tok_;
};

LONG SetValue(HKEY key, const char* name, const Value& v)
{
    return RegSetValueEx(key, name, 0, v.type, v.data.data(), static_cast<DWORD>(v.data.size()));
}

LONG RegisterKey(HKEY parent, const Key& k)
{
    if (k.mode == Key::Mode::Delete || k.mode == Key::Mode::ForceRemove) {
        const LONG rc = RegDeleteTree(parent, k.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
        if (k.mode == Key::Mode::Delete) return ERROR_SUCCESS;
    }
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(parent, k.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (k.defaultValue) rc = SetValue(key, nullptr, *k.defaultValue);
    for (std::size_t i = 0; rc == ERROR_SUCCESS && i < k.values.size(); ++i)
        rc = SetValue(key, k.values[i].first.c_str(), k.values[i].second);
    for (std::size_t i = 0; rc == ERROR_SUCCESS && i < k.subkeys.size(); ++i) rc = RegisterKey(key, k.subkeys[i]);
    RegCloseKey(key);
    return rc;
}

LONG UnregisterKey(HKEY parent, const Key& k)
{
    if (k.mode == Key::Mode::Delete) return ERROR_SUCCESS;
    if (k.mode != Key::Mode::NoRemove) {
        const LONG rc = RegDeleteTree(parent, k.name.c_str());
        return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }
    HKEY key = nullptr;
    LONG rc = RegOpenKeyEx(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    for (const auto& [name, value] : k.values) {
        const LONG drc = RegDeleteValue(key, name.c_str());
        if (drc != ERROR_SUCCESS && drc != ERROR_FILE_NOT_FOUND && rc == ERROR_SUCCESS) rc = drc;
    }
    for (const Key& sub : k.subkeys) {
        const LONG src = UnregisterKey(key, sub);
        if (src != ERROR_SUCCESS && rc == ERROR_SUCCESS) rc = src;
    }
    RegCloseKey(key);
    return rc;
}

class CRegistrar final : public IRegistrar, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IRegistrar, this}});
    }
    HRESULT AddReplacement(LPCOLESTR key, LPCOLESTR item) override
    {
        if (!key || !item || !*key) return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        replacements_[key] = item;
        return S_OK;
    }
    HRESULT ClearReplacements() override
    {
        std::lock_guard lock(mutex_);
        replacements_.clear();
        return S_OK;
    }
    HRESULT ResourceRegisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override
    {
        return RunResource(file, id, type, true);
    }
    HRESULT ResourceUnregisterSz(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type) override
    {
        return RunResource(file, id, type, false);
    }
    HRESULT FileRegister(LPCOLESTR file) override { return RunFile(file, true); }
    HRESULT FileUnregister(LPCOLESTR file) override { return RunFile(file, false); }
    HRESULT StringRegister(LPCOLESTR data) override { return Run(data ? data : "", true); }
    HRESULT StringUnregister(LPCOLESTR data) override { return Run(data ? data : "", false); }
    HRESULT ResourceRegister(LPCOLESTR file, UINT id, LPCOLESTR type) override
    {
        return RunResource(file, ("#" + std::to_string(id)).c_str(), type, true);
    }
    HRESULT ResourceUnregister(LPCOLESTR file, UINT id, LPCOLESTR type) override
    {
        return RunResource(file, ("#" + std::to_string(id)).c_str(), type, false);
    }

private:
    HRESULT Run(std::string_view script, bool doRegister)
    {
        Replacements r;
        {
            std::lock_guard lock(mutex_);
            r = replacements_;
        }
        std::string error;
        const HRESULT hr = RunRegistryScript(script, r, doRegister, &error);
        if (!error.empty()) Trace("CRegistrar -- %s\n", error.c_str());
        return hr;
    }
    HRESULT RunResource(LPCOLESTR file, LPCOLESTR id, LPCOLESTR type, bool doRegister)
    {
        if (!file || !id) return E_INVALIDARG;
        std::string script;
        if (!com_detail::ReadModuleResource(file, id, type ? type : kScriptResourceType, script))
            return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
        return Run(script, doRegister);
    }
    HRESULT RunFile(LPCOLESTR file, bool doRegister)
    {
        if (!file) return E_INVALIDARG;
        std::ifstream in(file, std::ios::binary);
        if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        std::ostringstream all;
        all << in.rdbuf();
        return Run(all.str(), doRegister);
    }

    std::mutex mutex_;
    Replacements replacements_;
};

}  // namespace

bool ParseRegistryScript(std::string_view script, const Replacements& replacements, std::string* error)
{
    std::vector<Root> roots;
    std::string why;
    const bool ok = Parser(script, replacements).Parse(roots, why);
    if (error) *error = why;
    return ok;
}

HRESULT RunRegistryScript(std::string_view script, const Replacements& replacements, bool doRegister,
                          std::string* error)
{
    std::vector<Root> roots;
    std::string why;
    if (!Parser(script, replacements).Parse(roots, why)) {
        if (error) *error = why;
        return E_FAIL;
    }
    for (const Root& root : roots) {
        for (const Key& key : root.keys) {
            const LONG rc = doRegister ? RegisterKey(root.hive, key) : UnregisterKey(root.hive, key);
            if (rc != ERROR_SUCCESS) {
                if (error) *error = "key '" + key.name + "': registry error " + std::to_string(rc);
                return HRESULT_FROM_WIN32(rc);
            }
        }
    }
    return S_OK;
}

HRESULT CreateRegistrar(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* registrar = NewComObject<CRegistrar>();
    const HRESULT hr = registrar->QueryInterface(riid, ppv);
    registrar->Release();
    return hr;
}

}  // namespace quillory

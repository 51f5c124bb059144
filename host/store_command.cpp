// `quillory store`: shows what a profile's message store holds — its folder
// tree, the messages of a folder as a table, and one message with every
// property, recipient and attachment — through the same MAPI calls a mail
// client makes.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "host/commands.h"
#include "host/mapi_host.h"
#include "host/store_format.h"
#include "host/store_tags.h"
#include "host/store_threads.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace quillory::host {
namespace {

constexpr const char* kUsage = R"(usage:
  quillory store folders  [--all] [OPTIONS]
  quillory store messages FOLDER [--columns TAG,TAG,...] [--limit N] [--where TAG=VALUE]... [OPTIONS]
  quillory store show     ENTRYID [--profile NAME]
  quillory store threads  [FOLDER] [OPTIONS]

  folders   the folder tree below "Top of Information Store" (--all: below the
            store's root): name, messages, whether it has sub-folders, entry ID
  messages  the messages of FOLDER, a path below "Top of Information Store"
            such as Inbox/Newsgroups/comp.lang.c (names in any case; a '/' in
            a name is written \/), one tab-separated row each
  show      one message (or folder) with every property, then its recipients
            and attachments; ENTRYID in hex as the other commands print it
  threads   the messages of FOLDER (without one: of every folder that has
            messages) as threads, each answer indented under the message it
            answers, with subject, sender and date

  TAG       a name such as PR_SUBJECT, or a tag in hex such as 0x0037001E;
            the default columns are PR_SUBJECT, PR_SENDER_NAME,
            PR_MESSAGE_DELIVERY_TIME and PR_MESSAGE_FLAGS (add PR_ENTRYID for
            the entry IDs that show takes)
  --where   only messages whose TAG equals VALUE: text, a number (decimal or
            0x-hex), true/false, or hex bytes, as the tag's type asks; several
            must all hold

OPTIONS
  --profile NAME   the profile to log on to (default: the default profile)
  --store NAME     the message store of the profile (default: its default store)
)";

// Rows are read from tables in batches of this many.
constexpr LONG kBatchRows = 256;
constexpr ULONG kNoLimit = 0xFFFFFFFF;

int Error(const std::string& message)
{
    std::fprintf(stderr, "ERROR: %s\n", EscapeText(message).c_str());
    return 1;
}

// A MAPI failure with the object's own explanation when it has one.
template <class Object>
int MapiError(Object* object, HRESULT hr, const std::string& what)
{
    std::string text = what + ": " + ScodeText(hr);
    LPMAPIERROR err = nullptr;
    if (object && SUCCEEDED(object->GetLastError(hr, 0, &err)) && err && err->lpszError)
        text += std::string(" - ") + err->lpszError;
    MAPIFreeBuffer(err);
    if (!object && !ExplainWithoutObject(hr).empty()) text += " - " + ExplainWithoutObject(hr);
    return Error(text);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// ---- Arguments ---------------------------------------------------------------------

struct Options {
    std::string verb;
    std::vector<std::string> operands;
    std::optional<std::string> profile, store, columns, limit;
    std::vector<std::string> where;
    bool all = false;
};

// "--name value" or "--name=value"; the options each verb takes.
std::optional<std::string> ParseOptions(Args args, Options* o)
{
    o->verb = std::string(args[0]);
    const bool listing = o->verb == "folders", messages = o->verb == "messages", threads = o->verb == "threads";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a.size() < 2 || a.substr(0, 2) != "--") {
            o->operands.emplace_back(a);
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string_view name = a.substr(0, eq);
        if (name == "--all" && listing && eq == std::string_view::npos) {
            o->all = true;
            continue;
        }
        std::optional<std::string>* single = nullptr;
        if (name == "--profile")
            single = &o->profile;
        else if (name == "--store" && o->verb != "show")
            single = &o->store;
        else if (name == "--columns" && messages)
            single = &o->columns;
        else if (name == "--limit" && messages)
            single = &o->limit;
        else if (name != "--where" || !messages)
            return "unknown option " + std::string(name) + " for 'store " + o->verb + "'";
        std::string value;
        if (eq != std::string_view::npos) {
            value = std::string(a.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            value = std::string(args[++i]);
        } else {
            return std::string(name) + " needs a value";
        }
        if (!single) {
            o->where.push_back(std::move(value));
        } else if (*single) {
            return std::string(name) + " was given twice";
        } else {
            *single = std::move(value);
        }
    }
    if (threads) {
        if (o->operands.size() > 1) return std::string("'store threads' takes at most one FOLDER");
        return std::nullopt;
    }
    const std::size_t wanted = listing ? 0 : 1;
    if (o->operands.size() != wanted)
        return listing ? "'store folders' takes no operand"
                       : "'store " + o->verb + "' takes exactly one " + (messages ? "FOLDER" : "ENTRYID");
    return std::nullopt;
}

std::optional<std::vector<ULONG>> ParseColumns(std::string_view text, std::string* bad)
{
    std::vector<ULONG> tags;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const auto tag = ParseTag(item);
        if (!tag) {
            *bad = std::string(item);
            return std::nullopt;
        }
        tags.push_back(*tag);
        if (comma == std::string_view::npos) return tags;
        text.remove_prefix(comma + 1);
    }
}

template <class Int>
std::optional<Int> ParseInteger(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && Lower(text[1]) == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    // Flags are often written as unsigned hex: allow the unsigned range too.
    using Unsigned = std::make_unsigned_t<Int>;
    if (negative) {
        if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<Int>::max()) + 1) return std::nullopt;
        return static_cast<Int>(0 - static_cast<Unsigned>(magnitude));
    }
    if (magnitude > std::numeric_limits<Unsigned>::max()) return std::nullopt;
    return static_cast<Int>(static_cast<Unsigned>(magnitude));
}

// One --where condition; the value's data lives here.
struct Condition {
    SPropValue value{};
    std::string text;
    std::vector<BYTE> bytes;
};

std::optional<std::string> ParseCondition(std::string_view spec, Condition* c)
{
    const std::size_t eq = spec.find('=');
    if (eq == std::string_view::npos) return "bad --where '" + std::string(spec) + "': expected TAG=VALUE";
    const std::string_view name = spec.substr(0, eq), value = spec.substr(eq + 1);
    const auto tag = ParseTag(name);
    if (!tag) return "bad --where '" + std::string(spec) + "': unknown property " + std::string(name);
    c->value.ulPropTag = *tag;
    const auto bad = [&](const char* expected) {
        return "bad --where '" + std::string(spec) + "': " + TagLabel(*tag) + " takes " + expected;
    };
    switch (PROP_TYPE(*tag)) {
    case PT_STRING8:
        c->text = std::string(value);
        c->value.Value.lpszA = c->text.data();
        return std::nullopt;
    case PT_I2:
        if (auto n = ParseInteger<short>(value)) {
            c->value.Value.i = *n;
            return std::nullopt;
        }
        return bad("a 16-bit number");
    case PT_LONG:
        if (auto n = ParseInteger<LONG>(value)) {
            c->value.Value.l = *n;
            return std::nullopt;
        }
        return bad("a 32-bit number");
    case PT_I8:
        if (auto n = ParseInteger<LONGLONG>(value)) {
            c->value.Value.li.QuadPart = *n;
            return std::nullopt;
        }
        return bad("a 64-bit number");
    case PT_BOOLEAN:
        if (EqualNoCase(value, "true") || value == "1")
            c->value.Value.b = 1;
        else if (EqualNoCase(value, "false") || value == "0")
            c->value.Value.b = 0;
        else
            return bad("true or false");
        return std::nullopt;
    case PT_BINARY:
        if (auto b = quillory::HexToBin(value); b && !value.empty()) {
            c->bytes = std::move(*b);
            c->value.Value.bin = SBinary{static_cast<ULONG>(c->bytes.size()), c->bytes.data()};
            return std::nullopt;
        }
        return bad("hex bytes");
    default:
        return "bad --where '" + std::string(spec) + "': values of type " + PropTypeName(PROP_TYPE(*tag)) +
               " cannot be compared here";
    }
}

// ---- Session and store -------------------------------------------------------------

// MAPI stays initialised, and the session logged on, while the command runs.
class MapiScope {
public:
    MapiScope() : hr_(MAPIInitialize(nullptr)) {}
    ~MapiScope()
    {
        if (session_) session_->Logoff(0, 0, 0);
        session_.Reset();
        if (SUCCEEDED(hr_)) MAPIUninitialize();
    }
    MapiScope(const MapiScope&) = delete;
    MapiScope& operator=(const MapiScope&) = delete;
    HRESULT Result() const { return hr_; }
    ComPtr<IMAPISession>& Session() { return session_; }

private:
    HRESULT hr_;
    ComPtr<IMAPISession> session_;
};

int Logon(const Options& o, MapiScope& mapi)
{
    if (FAILED(mapi.Result())) return MapiError<IMAPISession>(nullptr, mapi.Result(), "MAPI cannot be initialised");
    std::string name = o.profile.value_or("");
    const ULONG flags =
        MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL | (o.profile ? MAPI_EXPLICIT_PROFILE : MAPI_USE_DEFAULT);
    const HRESULT hr = MAPILogonEx(0, o.profile ? name.data() : nullptr, nullptr, flags, &mapi.Session());
    if (hr == MAPI_E_LOGON_FAILED)
        return Error(o.profile ? "unknown profile: " + name : std::string("there is no default profile"));
    if (FAILED(hr)) return MapiError<IMAPISession>(nullptr, hr, "cannot log on to the profile");
    return 0;
}

std::string Text(const SPropValue& v) { return PROP_TYPE(v.ulPropTag) == PT_STRING8 ? v.Value.lpszA : ""; }

// Reads rows of a table in batches until it ends or limit rows were seen;
// each batch is freed before the next.
template <class Each>
HRESULT ForEachRow(IMAPITable* table, ULONG limit, Each each)
{
    ULONG seen = 0;
    while (seen < limit) {
        RowSetPtr rows;
        const LONG want = static_cast<LONG>(std::min<ULONG>(limit - seen, kBatchRows));
        if (const HRESULT hr = table->QueryRows(want, 0, &rows); FAILED(hr)) return hr;
        if (!rows || rows->cRows == 0) return S_OK;
        for (ULONG i = 0; i < rows->cRows && seen < limit; ++i, ++seen) each(rows->aRow[i]);
    }
    return S_OK;
}

HRESULT SetColumns(IMAPITable* table, const std::vector<ULONG>& tags)
{
    std::vector<BYTE> storage(CbNewSPropTagArray(static_cast<ULONG>(tags.size())));
    auto* array = reinterpret_cast<SPropTagArray*>(storage.data());
    array->cValues = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), array->aulPropTag);
    return table->SetColumns(array, 0);
}

int OpenStore(const Options& o, IMAPISession* session, ComPtr<IMsgStore>& store)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(0, &table);
    if (SUCCEEDED(hr)) hr = SetColumns(table.Get(), {PR_DISPLAY_NAME, PR_ENTRYID, PR_DEFAULT_STORE});
    std::optional<std::vector<BYTE>> entryId;
    std::vector<std::string> names;
    if (SUCCEEDED(hr))
        hr = ForEachRow(table.Get(), kNoLimit, [&](const SRow& row) {
            if (row.cValues < 3) return;
            const std::string name = Text(row.lpProps[0]);
            names.push_back(name);
            const bool chosen = o.store ? EqualNoCase(name, *o.store)
                                        : PROP_TYPE(row.lpProps[2].ulPropTag) == PT_BOOLEAN && row.lpProps[2].Value.b;
            if (chosen && !entryId && PROP_TYPE(row.lpProps[1].ulPropTag) == PT_BINARY)
                entryId.emplace(row.lpProps[1].Value.bin.lpb,
                                row.lpProps[1].Value.bin.lpb + row.lpProps[1].Value.bin.cb);
        });
    if (FAILED(hr)) return MapiError(session, hr, "cannot read the profile's message stores");
    if (!entryId) {
        if (!o.store) return Error("the profile has no default message store");
        std::string known;
        for (const auto& n : names) known += (known.empty() ? "" : ", ") + n;
        return Error("no message store named '" + *o.store +
                     "' (the profile has: " + (known.empty() ? std::string("none") : known) + ")");
    }
    hr = session->OpenMsgStore(0, static_cast<ULONG>(entryId->size()), reinterpret_cast<LPENTRYID>(entryId->data()),
                               nullptr, MDB_NO_DIALOG | MAPI_BEST_ACCESS, &store);
    if (FAILED(hr)) return MapiError(session, hr, "cannot open the message store");
    return 0;
}

HRESULT OpenFolder(IMsgStore* store, const std::vector<BYTE>& entryId, ComPtr<IMAPIFolder>& folder)
{
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    HRESULT hr =
        store->OpenEntry(static_cast<ULONG>(entryId.size()),
                         reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(entryId.data())), nullptr, 0, &type, &unk);
    if (FAILED(hr)) return hr;
    if (type != MAPI_FOLDER) return MAPI_E_INVALID_ENTRYID;
    return unk.As(IID_IMAPIFolder, folder);
}

// The IPM subtree, or with root the store's root folder.
int OpenTop(IMsgStore* store, bool root, ComPtr<IMAPIFolder>& folder)
{
    std::vector<BYTE> entryId;  // empty: the root folder
    if (!root) {
        MapiBuffer<SPropValue> v;
        HRESULT hr = HrGetOneProp(store, PR_IPM_SUBTREE_ENTRYID, &v);
        if (FAILED(hr)) return MapiError(store, hr, "the store names no \"Top of Information Store\"");
        entryId.assign(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
    }
    if (const HRESULT hr = OpenFolder(store, entryId, folder); FAILED(hr))
        return MapiError(store, hr,
                         root ? "cannot open the store's root folder" : "cannot open \"Top of Information Store\"");
    return 0;
}

// ---- store folders -----------------------------------------------------------------

struct FolderLine {
    ULONG depth = 0;
    std::string name;
    std::string count;
    bool subfolders = false;
    std::string entryId;
};

// Columns are padded by characters, not bytes.
std::size_t DisplayWidth(std::string_view s)
{
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

FolderLine LineOf(const SPropValue* v, ULONG depth)
{
    // v: PR_DISPLAY_NAME, PR_CONTENT_COUNT, PR_SUBFOLDERS, PR_ENTRYID
    FolderLine line;
    line.depth = depth;
    line.name = PROP_TYPE(v[0].ulPropTag) == PT_STRING8 ? EscapeText(v[0].Value.lpszA) : "";
    if (line.name.empty()) line.name = depth == 0 ? "(root)" : "(no name)";
    line.count = PROP_TYPE(v[1].ulPropTag) == PT_LONG ? std::to_string(v[1].Value.l) : "?";
    line.subfolders = PROP_TYPE(v[2].ulPropTag) == PT_BOOLEAN && v[2].Value.b;
    if (PROP_TYPE(v[3].ulPropTag) == PT_BINARY)
        line.entryId = quillory::BinToHex({v[3].Value.bin.lpb, v[3].Value.bin.cb});
    return line;
}

int Folders(const Options& o, IMsgStore* store)
{
    ComPtr<IMAPIFolder> top;
    if (int rc = OpenTop(store, o.all, top)) return rc;
    const std::vector<ULONG> columns = {PR_DISPLAY_NAME, PR_CONTENT_COUNT, PR_SUBFOLDERS, PR_ENTRYID, PR_DEPTH};
    std::vector<FolderLine> lines;
    {
        auto tags = MakeTagArray({PR_DISPLAY_NAME, PR_CONTENT_COUNT, PR_SUBFOLDERS, PR_ENTRYID});
        ULONG count = 0;
        MapiBuffer<SPropValue> values;
        const HRESULT hr = tags ? top->GetProps(tags.Get(), 0, &count, &values) : MAPI_E_NOT_ENOUGH_MEMORY;
        if (FAILED(hr) || count != 4)
            return MapiError(top.Get(), FAILED(hr) ? hr : MAPI_E_CALL_FAILED, "cannot read the folder");
        lines.push_back(LineOf(values.Get(), 0));
    }
    ComPtr<IMAPITable> table;
    HRESULT hr = top->GetHierarchyTable(CONVENIENT_DEPTH, &table);
    if (SUCCEEDED(hr)) hr = SetColumns(table.Get(), columns);
    if (SUCCEEDED(hr))
        hr = ForEachRow(table.Get(), kNoLimit, [&](const SRow& row) {
            if (row.cValues < columns.size()) return;
            const ULONG depth = PROP_TYPE(row.lpProps[4].ulPropTag) == PT_LONG ? row.lpProps[4].Value.ul : 1;
            lines.push_back(LineOf(row.lpProps, depth));
        });
    if (FAILED(hr)) return MapiError(top.Get(), hr, "cannot read the folder tree");

    constexpr std::size_t kIndent = 2;
    std::size_t nameWidth = std::string_view("FOLDER").size(), countWidth = std::string_view("MESSAGES").size();
    for (const auto& l : lines) {
        nameWidth = std::max(nameWidth, l.depth * kIndent + DisplayWidth(l.name));
        countWidth = std::max(countWidth, l.count.size());
    }
    std::printf("%-*s  %*s  %-10s  %s\n", static_cast<int>(nameWidth), "FOLDER", static_cast<int>(countWidth),
                "MESSAGES", "SUBFOLDERS", "ENTRYID");
    for (const auto& l : lines) {
        const std::size_t used = l.depth * kIndent + DisplayWidth(l.name);
        std::printf("%*s%s%*s  %*s  %-10s  %s\n", static_cast<int>(l.depth * kIndent), "", l.name.c_str(),
                    static_cast<int>(nameWidth - used), "", static_cast<int>(countWidth), l.count.c_str(),
                    l.subfolders ? "yes" : "no", l.entryId.c_str());
    }
    return 0;
}

// ---- store messages ----------------------------------------------------------------

// "Inbox/Newsgroups/comp.lang.c" into its names; "\/" is a '/' inside a
// name and "\\" a backslash. Empty names (doubled or outer slashes) are
// skipped.
std::vector<std::string> SplitFolderPath(std::string_view path)
{
    std::vector<std::string> names(1);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\' && i + 1 < path.size() && (path[i + 1] == '/' || path[i + 1] == '\\')) {
            names.back() += path[++i];
        } else if (c == '/') {
            names.emplace_back();
        } else {
            names.back() += c;
        }
    }
    std::erase_if(names, [](const std::string& n) { return n.empty(); });
    return names;
}

// The sub-folder of parent with the name, an exact match before one that
// differs in case only. MAPI_E_NOT_FOUND when there is none.
HRESULT FindSubfolder(IMsgStore* store, IMAPIFolder* parent, const std::string& name, ComPtr<IMAPIFolder>& out)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = parent->GetHierarchyTable(0, &table);
    if (SUCCEEDED(hr)) hr = SetColumns(table.Get(), {PR_DISPLAY_NAME, PR_ENTRYID});
    std::optional<std::vector<BYTE>> exact, folded;
    if (SUCCEEDED(hr))
        hr = ForEachRow(table.Get(), kNoLimit, [&](const SRow& row) {
            if (row.cValues < 2 || PROP_TYPE(row.lpProps[1].ulPropTag) != PT_BINARY) return;
            const std::string n = Text(row.lpProps[0]);
            const SBinary& b = row.lpProps[1].Value.bin;
            if (n == name && !exact)
                exact.emplace(b.lpb, b.lpb + b.cb);
            else if (EqualNoCase(n, name) && !folded)
                folded.emplace(b.lpb, b.lpb + b.cb);
        });
    if (FAILED(hr)) return hr;
    if (!exact && !folded) return MAPI_E_NOT_FOUND;
    return OpenFolder(store, exact ? *exact : *folded, out);
}

// The folder at a path below "Top of Information Store".
int OpenFolderPath(IMsgStore* store, const std::string& path, ComPtr<IMAPIFolder>& folder)
{
    if (int rc = OpenTop(store, false, folder)) return rc;
    for (const auto& name : SplitFolderPath(path)) {
        ComPtr<IMAPIFolder> sub;
        const HRESULT hr = FindSubfolder(store, folder.Get(), name, sub);
        if (hr == MAPI_E_NOT_FOUND) return Error("folder not found: " + path);
        if (FAILED(hr)) return MapiError(folder.Get(), hr, "cannot open folder '" + name + "'");
        folder = std::move(sub);
    }
    return 0;
}

int Messages(const Options& o, IMsgStore* store)
{
    std::vector<ULONG> columns = {PR_SUBJECT, PR_SENDER_NAME, PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_FLAGS};
    if (o.columns) {
        std::string bad;
        auto parsed = ParseColumns(*o.columns, &bad);
        if (!parsed) return Error("unknown column: " + bad + " (a PR_ name or a tag such as 0x0037001E)");
        columns = std::move(*parsed);
    }
    ULONG limit = kNoLimit;
    if (o.limit) {
        const std::string& t = *o.limit;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), limit);
        if (t.empty() || ec != std::errc() || end != t.data() + t.size() || limit == kNoLimit)
            return Error("bad --limit: " + t + " (a number of messages)");
    }
    std::deque<Condition> conditions;  // stable addresses for the restriction
    for (const auto& w : o.where)
        if (auto err = ParseCondition(w, &conditions.emplace_back())) return Error(*err);

    ComPtr<IMAPIFolder> folder;
    if (int rc = OpenFolderPath(store, o.operands[0], folder)) return rc;

    ComPtr<IMAPITable> table;
    HRESULT hr = folder->GetContentsTable(0, &table);
    if (SUCCEEDED(hr)) hr = SetColumns(table.Get(), columns);
    std::vector<SRestriction> terms(conditions.size());
    for (std::size_t i = 0; i < conditions.size(); ++i) {
        terms[i].rt = RES_PROPERTY;
        terms[i].res.resProperty = SPropertyRestriction{RELOP_EQ, conditions[i].value.ulPropTag, &conditions[i].value};
    }
    SRestriction all{};
    all.rt = RES_AND;
    all.res.resAnd = SAndRestriction{static_cast<ULONG>(terms.size()), terms.data()};
    if (SUCCEEDED(hr) && !terms.empty()) hr = table->Restrict(terms.size() == 1 ? terms.data() : &all, 0);
    if (FAILED(hr) && table) return MapiError(table.Get(), hr, "cannot read the folder's messages");
    if (FAILED(hr)) return MapiError(folder.Get(), hr, "cannot read the folder's messages");

    std::string header;
    for (ULONG tag : columns) header += (header.empty() ? "" : "\t") + TagLabel(tag);
    std::printf("%s\n", header.c_str());
    hr = ForEachRow(table.Get(), limit, [&](const SRow& row) {
        std::string line;
        for (ULONG i = 0; i < row.cValues; ++i) line += (i ? "\t" : "") + FormatValue(row.lpProps[i], ValueStyle::Cell);
        std::printf("%s\n", line.c_str());
    });
    if (FAILED(hr)) return MapiError(table.Get(), hr, "cannot read the folder's messages");
    return 0;
}

// ---- store threads -----------------------------------------------------------------

int PrintThreads(IMAPIFolder* folder, const std::string& path)
{
    std::vector<ThreadEntry> entries;
    if (const HRESULT hr = ReadThreadEntries(folder, entries); FAILED(hr))
        return MapiError(folder, hr, "cannot read the messages of " + path);
    std::printf("== %s (%zu message%s)\n", path.c_str(), entries.size(), entries.size() == 1 ? "" : "s");
    for (const auto& line : ArrangeThreads(entries))
        std::printf("%s\n", EscapeText(FormatThreadLine(*line.entry, line.depth)).c_str());
    return 0;
}

// Every folder below "Top of Information Store" that holds messages, by path.
int Threads(const Options& o, IMsgStore* store)
{
    if (!o.operands.empty()) {
        ComPtr<IMAPIFolder> folder;
        if (int rc = OpenFolderPath(store, o.operands[0], folder)) return rc;
        return PrintThreads(folder.Get(), o.operands[0]);
    }
    ComPtr<IMAPIFolder> top;
    if (int rc = OpenTop(store, false, top)) return rc;
    const std::vector<ULONG> columns = {PR_DISPLAY_NAME, PR_CONTENT_COUNT, PR_ENTRYID, PR_DEPTH};
    struct Found {
        std::string path;
        std::vector<BYTE> entryId;
    };
    std::vector<Found> found;
    std::vector<std::string> names;  // the path of the row being read, by depth
    ComPtr<IMAPITable> table;
    HRESULT hr = top->GetHierarchyTable(CONVENIENT_DEPTH, &table);
    if (SUCCEEDED(hr)) hr = SetColumns(table.Get(), columns);
    if (SUCCEEDED(hr))
        hr = ForEachRow(table.Get(), kNoLimit, [&](const SRow& row) {
            if (row.cValues < columns.size()) return;
            const ULONG depth = PROP_TYPE(row.lpProps[3].ulPropTag) == PT_LONG ? row.lpProps[3].Value.ul : 1;
            names.resize(std::max<ULONG>(depth, 1) - 1);
            // Written as a path operand is: escaped, and a '/' in a name as "\/".
            std::string escaped;
            for (char c : EscapeText(Text(row.lpProps[0])))
                escaped += c == '/' ? std::string("\\/") : std::string(1, c);
            names.push_back(escaped);
            const bool hasMessages = PROP_TYPE(row.lpProps[1].ulPropTag) == PT_LONG && row.lpProps[1].Value.l > 0;
            if (!hasMessages || PROP_TYPE(row.lpProps[2].ulPropTag) != PT_BINARY) return;
            std::string path;
            for (const auto& n : names) path += (path.empty() ? "" : "/") + n;
            const SBinary& b = row.lpProps[2].Value.bin;
            found.push_back({path, std::vector<BYTE>(b.lpb, b.lpb + b.cb)});
        });
    if (FAILED(hr)) return MapiError(top.Get(), hr, "cannot read the folder tree");
    if (found.empty()) std::printf("No folder holds messages.\n");
    for (const auto& f : found) {
        ComPtr<IMAPIFolder> folder;
        if (hr = OpenFolder(store, f.entryId, folder); FAILED(hr))
            return MapiError(store, hr, "cannot open folder " + f.path);
        if (int rc = PrintThreads(folder.Get(), f.path)) return rc;
    }
    return 0;
}

// ---- store show --------------------------------------------------------------------

// Prints values as aligned lines: tag, name, type, value.
void PrintValues(const SPropValue* values, ULONG count, const char* indent, bool skipMissing)
{
    std::vector<const SPropValue*> shown;
    for (ULONG i = 0; i < count; ++i)
        if (!(skipMissing && PROP_TYPE(values[i].ulPropTag) == PT_ERROR && values[i].Value.err == MAPI_E_NOT_FOUND))
            shown.push_back(&values[i]);
    std::size_t nameWidth = 0, typeWidth = 0;
    for (const auto* v : shown) {
        nameWidth = std::max(nameWidth, TagName(v->ulPropTag).size());
        typeWidth = std::max(typeWidth, PropTypeName(PROP_TYPE(v->ulPropTag)).size());
    }
    for (const auto* v : shown) {
        const std::string name(TagName(v->ulPropTag));
        std::printf("%s%s  %-*s  %-*s  %s\n", indent, TagHex(v->ulPropTag).c_str(), static_cast<int>(nameWidth),
                    name.c_str(), static_cast<int>(typeWidth), PropTypeName(PROP_TYPE(v->ulPropTag)).c_str(),
                    FormatValue(*v, ValueStyle::Detail).c_str());
    }
}

int PrintTable(const char* title, IMAPITable* table)
{
    ULONG count = 0;
    if (const HRESULT hr = table->GetRowCount(0, &count); FAILED(hr))
        return MapiError(table, hr, std::string("cannot read the ") + title);
    std::printf("\n%s (%u):\n", title, static_cast<unsigned>(count));
    ULONG n = 0;
    const HRESULT hr = ForEachRow(table, kNoLimit, [&](const SRow& row) {
        std::printf("  #%u\n", static_cast<unsigned>(++n));
        PrintValues(row.lpProps, row.cValues, "    ", true);
    });
    if (FAILED(hr)) return MapiError(table, hr, std::string("cannot read the ") + title);
    return 0;
}

int Show(const Options& o, IMAPISession* session)
{
    const std::string& hex = o.operands[0];
    auto entryId = quillory::HexToBin(hex);
    if (!entryId || entryId->empty()) return Error("bad entry ID '" + hex + "': expected an even number of hex digits");
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    HRESULT hr = session->OpenEntry(static_cast<ULONG>(entryId->size()), reinterpret_cast<LPENTRYID>(entryId->data()),
                                    nullptr, 0, &type, &unk);
    if (hr == MAPI_E_NOT_FOUND || hr == MAPI_E_INVALID_ENTRYID || hr == MAPI_E_UNKNOWN_ENTRYID)
        return Error("no entry with the ID " + hex + ": " + ScodeText(hr));
    if (FAILED(hr)) return MapiError(session, hr, "cannot open the entry " + hex);
    ComPtr<IMAPIProp> prop;
    if (hr = unk.As(IID_IMAPIProp, prop); FAILED(hr))
        return MapiError<IMAPIProp>(nullptr, hr, "the entry has no properties");

    MapiBuffer<SPropTagArray> tags;
    hr = prop->GetPropList(0, &tags);
    ULONG count = 0;
    MapiBuffer<SPropValue> values;
    if (SUCCEEDED(hr)) {
        std::sort(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        hr = tags->cValues ? prop->GetProps(tags.Get(), 0, &count, &values) : S_OK;
    }
    if (FAILED(hr)) return MapiError(prop.Get(), hr, "cannot read the entry's properties");

    const char* kind = type == MAPI_MESSAGE  ? "Message"
                       : type == MAPI_FOLDER ? "Folder"
                       : type == MAPI_STORE  ? "Store"
                                             : "Entry";
    std::printf("%s %s\n\nProperties (%u):\n", kind, quillory::BinToHex(*entryId).c_str(),
                static_cast<unsigned>(count));
    PrintValues(values.Get(), count, "  ", false);
    if (type != MAPI_MESSAGE) return 0;

    ComPtr<IMessage> message;
    if (hr = unk.As(IID_IMessage, message); FAILED(hr))
        return MapiError<IMessage>(nullptr, hr, "the entry is no message");
    ComPtr<IMAPITable> recipients, attachments;
    if (hr = message->GetRecipientTable(0, &recipients); FAILED(hr))
        return MapiError(message.Get(), hr, "cannot read the recipients");
    if (int rc = PrintTable("Recipients", recipients.Get())) return rc;
    if (hr = message->GetAttachmentTable(0, &attachments); FAILED(hr))
        return MapiError(message.Get(), hr, "cannot read the attachments");
    return PrintTable("Attachments", attachments.Get());
}

}  // namespace

int RunStoreCommand(Args args)
{
    for (std::string_view a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    if (args.empty() ||
        (args[0] != "folders" && args[0] != "messages" && args[0] != "show" && args[0] != "threads")) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    Options o;
    if (auto err = ParseOptions(args, &o)) {
        Error(*err);
        std::fprintf(stderr, "Type \"quillory store --help\" for usage.\n");
        return 1;
    }
    MapiScope mapi;
    if (int rc = Logon(o, mapi)) return rc;
    IMAPISession* session = mapi.Session().Get();
    if (o.verb == "show") return Show(o, session);
    ComPtr<IMsgStore> store;
    if (int rc = OpenStore(o, session, store)) return rc;
    if (o.verb == "threads") return Threads(o, store.Get());
    return o.verb == "folders" ? Folders(o, store.Get()) : Messages(o, store.Get());
}

}  // namespace quillory::host

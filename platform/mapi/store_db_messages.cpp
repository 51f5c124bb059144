// Messages in the store's database: records, properties, recipients,
// attachments, copies and moves; the outgoing queue, receive folders and the
// store's own properties.
#include <sqlite3.h>

#include <algorithm>
#include <limits>

#include "platform/mapi/propcodec.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/store_db_ops.h"

namespace quillory::store {
namespace {

constexpr const char* kSelectMessage =
    "SELECT id, folder, assoc, flags, status, size, created, modified, large FROM messages WHERE id=?1";

MessageRecord ReadMessage(Stmt& s)
{
    MessageRecord m;
    m.id = s.Int(0);
    m.folder = s.Int(1);
    m.associated = s.Int(2) != 0;
    m.flags = static_cast<ULONG>(s.Int(3));
    m.status = static_cast<ULONG>(s.Int(4));
    m.size = static_cast<ULONG>(s.Int(5));
    m.created = s.Int(6);
    m.modified = s.Int(7);
    m.large = static_cast<ULONG>(s.Int(8));
    return m;
}

void DecodeInto(std::span<const BYTE> bytes, CPropertyBag& bag)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(DecodePropValue(bytes, &v))) throw DbError(MAPI_E_CORRUPT_STORE, "damaged property value");
    if (const SCODE sc = bag.Set(*v.Get()); FAILED(sc)) throw DbError(sc, "stored property");
}

bool MatchesTag(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
}

// The message's values split for storing: one array of the small ones and
// the large ones each encoded alone.
struct Encoded {
    std::vector<BYTE> inline_;
    std::vector<std::pair<ULONG, std::vector<BYTE>>> large;
    std::vector<SPropValue> values;  // everything stored, for the index
    std::uint64_t size = 0;
};

Encoded Encode(const CPropertyBag& bag)
{
    Encoded e;
    std::vector<SPropValue> small;
    std::vector<BYTE> one;
    bag.ForEach([&](const SPropValue& v) {
        if (v.ulPropTag == PR_MESSAGE_FLAGS) return;  // kept in its column
        e.values.push_back(v);
        one.clear();
        if (const SCODE sc = EncodePropValue(v, one); FAILED(sc)) throw DbError(sc, "message property");
        e.size += one.size();
        if (one.size() > kInlineValueBytes) e.large.emplace_back(v.ulPropTag, std::move(one));
        else small.push_back(v);
    });
    e.inline_ = EncodeArray(small);
    return e;
}

void WriteLarge(StoreDb& db, RowId id, const Encoded& e)
{
    for (const auto& [tag, bytes] : e.large) {
        Stmt(db, "INSERT INTO message_large(message, tag, value) VALUES(?1, ?2, ?3)")
            .Bind(1, id)
            .Bind(2, std::int64_t{tag})
            .Bind(3, std::span<const BYTE>(bytes))
            .Run();
    }
}

// Index entries and large values of a message follow it everywhere; this
// drops them (the entries are found from the values they were made of).
void DropMessageParts(StoreDb& db, RowId id, RowId folder)
{
    UnindexMessage(db, id, folder);
    Stmt(db, "DELETE FROM message_large WHERE message=?1").Bind(1, id).Run();
}

}  // namespace

const SPropValue* PropArray::Find(ULONG tag) const
{
    for (ULONG i = 0; i < count; ++i) {
        if (props.Get()[i].ulPropTag == tag) return &props.Get()[i];
    }
    return nullptr;
}

PropArray DecodeArray(std::span<const BYTE> bytes)
{
    PropArray a;
    if (FAILED(DecodePropArray(bytes, &a.count, &a.props)))
        throw DbError(MAPI_E_CORRUPT_STORE, "damaged property array");
    return a;
}

std::vector<BYTE> EncodeArray(std::span<const SPropValue> values)
{
    std::vector<BYTE> out;
    if (const SCODE sc = EncodePropArray(values, out); FAILED(sc)) throw DbError(sc, "property array");
    return out;
}

std::vector<BYTE> EncodeBag(const CPropertyBag& bag, ULONG skipTag)
{
    std::vector<SPropValue> values;
    bag.ForEach([&](const SPropValue& v) {
        if (v.ulPropTag != skipTag) values.push_back(v);
    });
    return EncodeArray(values);
}

// ---- Stored values -----------------------------------------------------------------------

bool StoredValues::Load(StoreDb& db, RowId id, MessageRecord* record)
{
    Stmt s(db, "SELECT id, folder, assoc, flags, status, size, created, modified, large, props "
               "FROM messages WHERE id=?1");
    s.Bind(1, id);
    if (!s.Step()) return false;
    const MessageRecord m = ReadMessage(s);
    if (record) *record = m;
    const auto blob = s.Blob(9);
    db_ = &db;
    id_ = id;
    large_ = m.large;
    blob_.assign(blob.begin(), blob.end());
    return true;
}

void StoredValues::Find(ULONG tag, void* lpBase, std::vector<SPropValue>& out, bool firstOnly)
{
    // The array is walked without decoding what is not wanted.
    std::span<const BYTE> rest(blob_);
    if (rest.size() < 4) throw DbError(MAPI_E_CORRUPT_STORE, "damaged message values");
    ULONG n = static_cast<ULONG>(rest[0] | rest[1] << 8 | rest[2] << 16 | std::uint32_t{rest[3]} << 24);
    rest = rest.subspan(4);
    for (ULONG i = 0; i < n; ++i) {
        ULONG t = 0;
        std::size_t size = 0;
        if (FAILED(PeekPropValue(rest, &t, &size))) throw DbError(MAPI_E_CORRUPT_STORE, "damaged message values");
        if (MatchesTag(tag, t)) {
            SPropValue v{};
            if (FAILED(DecodePropValue(rest.subspan(0, size), lpBase, &v, nullptr)))
                throw DbError(MAPI_E_CORRUPT_STORE, "damaged message value");
            out.push_back(v);
            if (firstOnly) return;
        }
        rest = rest.subspan(size);
    }
    if (!large_ || (PROP_TYPE(tag) != PT_UNSPECIFIED && PROP_TYPE(tag) != PT_STRING8 && PROP_TYPE(tag) != PT_BINARY &&
                    !(PROP_TYPE(tag) & MV_FLAG)))
        return;  // only values with data can be large
    const bool byId = PROP_TYPE(tag) == PT_UNSPECIFIED;
    Stmt s(*db_, byId ? "SELECT value FROM message_large WHERE message=?1 AND tag>=?2 AND tag<=?3"
                      : "SELECT value FROM message_large WHERE message=?1 AND tag=?2");
    s.Bind(1, id_).Bind(2, std::int64_t{byId ? PROP_TAG(0, PROP_ID(tag)) : tag});
    if (byId) s.Bind(3, std::int64_t{PROP_TAG(0xFFFF, PROP_ID(tag))});
    while (s.Step()) {
        SPropValue v{};
        if (FAILED(DecodePropValue(s.Blob(0), lpBase, &v, nullptr)))
            throw DbError(MAPI_E_CORRUPT_STORE, "damaged message value");
        out.push_back(v);
        if (firstOnly) return;
    }
}

void StoredValues::All(void* lpBase, std::vector<SPropValue>& out)
{
    ULONG n = 0;
    MapiBuffer<SPropValue> array;
    if (FAILED(DecodePropArray(blob_, &n, &array))) throw DbError(MAPI_E_CORRUPT_STORE, "damaged message values");
    for (ULONG i = 0; i < n; ++i) {
        SPropValue v{};
        if (FAILED(PropCopyMore(&v, &array.Get()[i], MAPIAllocateMore, lpBase)))
            throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "message values");
        out.push_back(v);
    }
    if (!large_) return;
    Stmt s(*db_, "SELECT value FROM message_large WHERE message=?1");
    s.Bind(1, id_);
    while (s.Step()) {
        SPropValue v{};
        if (FAILED(DecodePropValue(s.Blob(0), lpBase, &v, nullptr)))
            throw DbError(MAPI_E_CORRUPT_STORE, "damaged message value");
        out.push_back(v);
    }
}

// ---- Reading ----------------------------------------------------------------------

std::optional<MessageRecord> GetMessage(StoreDb& db, RowId id)
{
    Stmt s(db, kSelectMessage);
    s.Bind(1, id);
    if (!s.Step()) return std::nullopt;
    return ReadMessage(s);
}

void LoadMessageProps(StoreDb& db, RowId id, CPropertyBag& bag)
{
    StoredValues stored;
    if (!stored.Load(db, id)) return;
    MapiBuffer<SPropValue> arena;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), arena.AsVoidOut()))) throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "values");
    std::vector<SPropValue> values;
    stored.All(arena.Get(), values);
    for (const SPropValue& v : values) {
        if (const SCODE sc = bag.Set(v); FAILED(sc)) throw DbError(sc, "stored property");
    }
}

std::vector<Recipient> LoadRecipients(StoreDb& db, RowId id)
{
    Stmt s(db, "SELECT row, props FROM recipients WHERE message=?1 ORDER BY row");
    s.Bind(1, id);
    std::vector<Recipient> out;
    while (s.Step()) {
        Recipient r;
        r.rowId = static_cast<ULONG>(s.Int(0));
        r.props = DecodeArray(s.Blob(1));
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<ULONG> AttachmentNumbers(StoreDb& db, RowId id)
{
    Stmt s(db, "SELECT num FROM attachments WHERE message=?1 ORDER BY num");
    s.Bind(1, id);
    std::vector<ULONG> out;
    while (s.Step()) out.push_back(static_cast<ULONG>(s.Int(0)));
    return out;
}

bool LoadAttachment(StoreDb& db, RowId id, ULONG num, bool withData, CPropertyBag& bag)
{
    Stmt s(db, withData ? "SELECT props, data FROM attachments WHERE message=?1 AND num=?2"
                        : "SELECT props FROM attachments WHERE message=?1 AND num=?2");
    s.Bind(1, id).Bind(2, std::int64_t{num});
    if (!s.Step()) return false;
    const PropArray a = DecodeArray(s.Blob(0));
    for (ULONG i = 0; i < a.count; ++i) {
        if (const SCODE sc = bag.Set(a.props.Get()[i]); FAILED(sc)) throw DbError(sc, "attachment property");
    }
    if (withData && !s.IsNull(1)) {
        const auto data = s.Blob(1);
        SPropValue v{};
        v.ulPropTag = PR_ATTACH_DATA_BIN;
        v.Value.bin.cb = static_cast<ULONG>(data.size());
        v.Value.bin.lpb = const_cast<BYTE*>(data.data());
        if (const SCODE sc = bag.Set(v); FAILED(sc)) throw DbError(sc, "attachment data");
    }
    return true;
}

ULONG AttachmentSize(StoreDb& db, RowId id, ULONG num)
{
    Stmt s(db, "SELECT length(props) + coalesce(length(data), 0) FROM attachments WHERE message=?1 AND num=?2");
    s.Bind(1, id).Bind(2, std::int64_t{num});
    return s.Step() ? static_cast<ULONG>(s.Int(0)) : 0;
}

std::vector<RowId> FolderMessages(StoreDb& db, RowId folder, bool associated)
{
    Stmt s(db, "SELECT id FROM messages WHERE folder=?1 AND assoc=?2 ORDER BY id");
    s.Bind(1, folder).Bind(2, std::int64_t{associated ? 1 : 0});
    std::vector<RowId> out;
    while (s.Step()) out.push_back(s.Int(0));
    return out;
}

// ---- Writing ----------------------------------------------------------------------

MessageRecord WriteMessage(StoreDb& db, const MessageWrite& w)
{
    static const CPropertyBag kNoValues;
    const Encoded e = Encode(w.props ? *w.props : kNoValues);
    std::uint64_t size = e.size;
    std::vector<std::vector<BYTE>> recipients;
    if (w.recipients) {
        for (const Recipient& r : *w.recipients) {
            recipients.push_back(EncodeArray(std::span<const SPropValue>(r.props.props.Get(), r.props.count)));
            size += recipients.back().size();
        }
    }

    Tx tx(db, true);
    const std::int64_t now = NowTicks();
    MessageRecord rec;
    if (w.id) {
        const auto current = GetMessage(db, w.id);
        if (!current) throw DbError(MAPI_E_OBJECT_DELETED, "the message was deleted");
        if (!w.force && current->modified != w.expectedModified)
            throw DbError(MAPI_E_OBJECT_CHANGED, "the message was changed by someone else");
        rec = *current;
        DropMessageParts(db, rec.id, rec.folder);
    } else {
        rec.folder = w.folder;
        rec.associated = w.associated;
        rec.created = now;
        rec.modified = now - 1;
    }
    rec.large = static_cast<ULONG>(e.large.size());
    // Strictly later than before, so that a change is always seen as one.
    rec.modified = std::max(now, rec.modified + 1);

    bool hasAttach = false;
    if (w.id) {
        if (w.recipients) Stmt(db, "DELETE FROM recipients WHERE message=?1").Bind(1, rec.id).Run();
        for (ULONG num : w.deletedAttachments)
            Stmt(db, "DELETE FROM attachments WHERE message=?1 AND num=?2").Bind(1, rec.id).Bind(2, std::int64_t{num}).Run();
    }
    if (!w.id) {
        // A new message: its row in one statement, sizes worked out here.
        for (const AttachWrite& a : w.attachments) size += a.props.size() + (a.hasData ? a.data.size() : 0);
        hasAttach = !w.attachments.empty();
        rec.flags = (w.flags & ~MSGFLAG_HASATTACH) | (hasAttach ? MSGFLAG_HASATTACH : 0);
        rec.size = static_cast<ULONG>(std::min<std::uint64_t>(size, std::numeric_limits<ULONG>::max()));
        Stmt(db, "INSERT INTO messages(folder, assoc, flags, status, size, created, modified, large, props) "
                 "VALUES(?1, ?2, ?3, 0, ?4, ?5, ?6, ?7, ?8)")
            .Bind(1, rec.folder)
            .Bind(2, std::int64_t{rec.associated ? 1 : 0})
            .Bind(3, std::int64_t{rec.flags})
            .Bind(4, std::int64_t{rec.size})
            .Bind(5, rec.created)
            .Bind(6, rec.modified)
            .Bind(7, std::int64_t{rec.large})
            .Bind(8, std::span<const BYTE>(e.inline_))
            .Run();
        rec.id = sqlite3_last_insert_rowid(db.Handle());
    }
    WriteLarge(db, rec.id, e);
    IndexMessage(db, rec.id, rec.folder, e.values);
    FaultPoint("save-props");
    for (std::size_t i = 0; w.recipients && i < w.recipients->size(); ++i) {
        Stmt(db, "INSERT INTO recipients(message, row, props) VALUES(?1, ?2, ?3)")
            .Bind(1, rec.id)
            .Bind(2, std::int64_t{(*w.recipients)[i].rowId})
            .Bind(3, std::span<const BYTE>(recipients[i]))
            .Run();
    }
    for (const AttachWrite& a : w.attachments) {
        Stmt s(db, "INSERT OR REPLACE INTO attachments(message, num, props, data) VALUES(?1, ?2, ?3, ?4)");
        s.Bind(1, rec.id).Bind(2, std::int64_t{a.num}).Bind(3, std::span<const BYTE>(a.props));
        if (a.hasData) s.Bind(4, a.data);
        else s.BindNull(4);
        s.Run();
    }
    FaultPoint("save-parts");
    if (w.id) {
        if (!w.recipients) {
            Stmt s(db, "SELECT coalesce(sum(length(props)), 0) FROM recipients WHERE message=?1");
            s.Bind(1, rec.id);
            if (s.Step()) size += static_cast<std::uint64_t>(s.Int(0));
        }
        {
            Stmt s(db, "SELECT count(*), coalesce(sum(length(props) + coalesce(length(data), 0)), 0) "
                       "FROM attachments WHERE message=?1");
            s.Bind(1, rec.id);
            if (s.Step()) {
                hasAttach = s.Int(0) > 0;
                size += static_cast<std::uint64_t>(s.Int(1));
            }
        }
        rec.flags = (w.flags & ~MSGFLAG_HASATTACH) | (hasAttach ? MSGFLAG_HASATTACH : 0);
        rec.size = static_cast<ULONG>(std::min<std::uint64_t>(size, std::numeric_limits<ULONG>::max()));
        Stmt(db, "UPDATE messages SET flags=?2, size=?3, modified=?4, large=?5, props=?6 WHERE id=?1")
            .Bind(1, rec.id)
            .Bind(2, std::int64_t{rec.flags})
            .Bind(3, std::int64_t{rec.size})
            .Bind(4, rec.modified)
            .Bind(5, std::int64_t{rec.large})
            .Bind(6, std::span<const BYTE>(e.inline_))
            .Run();
    }
    db.Touch(rec.folder);
    FaultPoint("save-written");
    tx.Commit();
    return rec;
}

void DeleteMessage(StoreDb& db, RowId id)
{
    const auto m = GetMessage(db, id);
    if (!m) throw DbError(MAPI_E_NOT_FOUND, "the message is gone");
    Tx tx(db, true);
    DropMessageParts(db, id, m->folder);
    for (const char* sql : {"DELETE FROM outgoing WHERE message=?1", "DELETE FROM attachments WHERE message=?1",
                            "DELETE FROM recipients WHERE message=?1", "DELETE FROM messages WHERE id=?1"})
        Stmt(db, sql).Bind(1, id).Run();
    db.Touch(m->folder);
    tx.Commit();
}

namespace {

// Index entries for a message just placed in a folder.
void IndexStored(StoreDb& db, RowId id, RowId folder)
{
    StoredValues stored;
    if (!stored.Load(db, id)) return;
    MapiBuffer<SPropValue> arena;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), arena.AsVoidOut()))) throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "values");
    std::vector<SPropValue> values;
    stored.All(arena.Get(), values);
    IndexMessage(db, id, folder, values);
}

}  // namespace

RowId CopyMessage(StoreDb& db, RowId id, RowId folder)
{
    Tx tx(db, true);
    const std::int64_t now = NowTicks();
    // The copy is not on the outgoing queue, so it is not being submitted.
    Stmt(db, "INSERT INTO messages(folder, assoc, flags, status, size, created, modified, large, props) "
             "SELECT ?2, assoc, flags & ~?4, status, size, ?3, ?3, large, props FROM messages WHERE id=?1")
        .Bind(1, id)
        .Bind(2, folder)
        .Bind(3, now)
        .Bind(4, std::int64_t{MSGFLAG_SUBMIT})
        .Run();
    if (sqlite3_changes(db.Handle()) == 0) throw DbError(MAPI_E_NOT_FOUND, "the message is gone");
    const RowId copy = sqlite3_last_insert_rowid(db.Handle());
    for (const char* sql : {"INSERT INTO message_large(message, tag, value) SELECT ?2, tag, value FROM message_large "
                            "WHERE message=?1",
                            "INSERT INTO recipients(message, row, props) SELECT ?2, row, props FROM recipients "
                            "WHERE message=?1",
                            "INSERT INTO attachments(message, num, props, data) SELECT ?2, num, props, data "
                            "FROM attachments WHERE message=?1"})
        Stmt(db, sql).Bind(1, id).Bind(2, copy).Run();
    IndexStored(db, copy, folder);
    db.Touch(folder);
    tx.Commit();
    return copy;
}

void MoveMessage(StoreDb& db, RowId id, RowId folder)
{
    const auto m = GetMessage(db, id);
    if (!m) throw DbError(MAPI_E_NOT_FOUND, "the message is gone");
    Tx tx(db, true);
    Stmt(db, "UPDATE messages SET folder=?2 WHERE id=?1").Bind(1, id).Bind(2, folder).Run();
    UnindexMessage(db, id, m->folder);
    IndexStored(db, id, folder);
    db.Touch(m->folder);
    db.Touch(folder);
    tx.Commit();
}

void SetMessageFlags(StoreDb& db, RowId id, ULONG flags)
{
    const auto m = GetMessage(db, id);
    if (!m) throw DbError(MAPI_E_NOT_FOUND, "the message is gone");
    Stmt(db, "UPDATE messages SET flags=?2 WHERE id=?1").Bind(1, id).Bind(2, std::int64_t{flags}).Run();
    db.Touch(m->folder);
}

void SetMessageStatus(StoreDb& db, RowId id, ULONG status)
{
    const auto m = GetMessage(db, id);
    if (!m) throw DbError(MAPI_E_NOT_FOUND, "the message is gone");
    Stmt(db, "UPDATE messages SET status=?2 WHERE id=?1").Bind(1, id).Bind(2, std::int64_t{status}).Run();
    db.Touch(m->folder);
}

// ---- Outgoing queue and receive folders ------------------------------------------------

void QueueMessage(StoreDb& db, RowId id, std::int64_t submitted, ULONG flags)
{
    Stmt(db, "INSERT OR REPLACE INTO outgoing(message, submitted, flags) VALUES(?1, ?2, ?3)")
        .Bind(1, id)
        .Bind(2, submitted)
        .Bind(3, std::int64_t{flags})
        .Run();
}

bool UnqueueMessage(StoreDb& db, RowId id)
{
    Stmt(db, "DELETE FROM outgoing WHERE message=?1").Bind(1, id).Run();
    return sqlite3_changes(db.Handle()) > 0;
}

bool IsQueued(StoreDb& db, RowId id)
{
    Stmt s(db, "SELECT 1 FROM outgoing WHERE message=?1");
    s.Bind(1, id);
    return s.Step();
}

std::vector<QueuedMessage> OutgoingQueue(StoreDb& db)
{
    Stmt s(db, "SELECT message, submitted, flags FROM outgoing ORDER BY submitted, message");
    std::vector<QueuedMessage> out;
    while (s.Step()) out.push_back({s.Int(0), s.Int(1), static_cast<ULONG>(s.Int(2))});
    return out;
}

std::optional<RowId> ReceiveFolder(StoreDb& db, std::string_view messageClass, std::string* explicitClass)
{
    std::string key = FoldCase(messageClass);
    for (;;) {
        Stmt s(db, "SELECT name, folder FROM receive_folders WHERE class=?1");
        s.Bind(1, std::string_view(key));
        if (s.Step()) {
            if (explicitClass) *explicitClass = s.Text(0);
            return s.Int(1);
        }
        if (key.empty()) return std::nullopt;
        const auto dot = key.rfind('.');
        key.resize(dot == std::string::npos ? 0 : dot);
    }
}

void SetReceiveFolder(StoreDb& db, std::string_view messageClass, RowId folder)
{
    const std::string key = FoldCase(messageClass);
    if (folder) {
        Stmt(db, "INSERT OR REPLACE INTO receive_folders(class, name, folder) VALUES(?1, ?2, ?3)")
            .Bind(1, std::string_view(key))
            .Bind(2, messageClass)
            .Bind(3, folder)
            .Run();
    } else {
        Stmt(db, "DELETE FROM receive_folders WHERE class=?1").Bind(1, std::string_view(key)).Run();
    }
}

std::vector<ReceiveEntry> ReceiveFolders(StoreDb& db)
{
    Stmt s(db, "SELECT name, folder FROM receive_folders ORDER BY class");
    std::vector<ReceiveEntry> out;
    while (s.Step()) out.push_back({s.Text(0), s.Int(1)});
    return out;
}

// ---- Store properties -----------------------------------------------------------------

void LoadStoreProps(StoreDb& db, CPropertyBag& bag)
{
    Stmt s(db, "SELECT value FROM store_props");
    while (s.Step()) DecodeInto(s.Blob(0), bag);
}

void PutStoreProp(StoreDb& db, const SPropValue& value)
{
    std::vector<BYTE> bytes;
    if (const SCODE sc = EncodePropValue(value, bytes); FAILED(sc)) throw DbError(sc, "store property");
    Stmt(db, "INSERT OR REPLACE INTO store_props(tag, value) VALUES(?1, ?2)")
        .Bind(1, std::int64_t{value.ulPropTag})
        .Bind(2, std::span<const BYTE>(bytes))
        .Run();
}

void DeleteStoreProp(StoreDb& db, ULONG tag)
{
    Stmt(db, "DELETE FROM store_props WHERE tag=?1").Bind(1, std::int64_t{tag}).Run();
}

}  // namespace quillory::store

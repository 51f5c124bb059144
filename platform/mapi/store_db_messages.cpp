// Messages in the store's database: records, properties, recipients,
// attachments, copies and moves; the outgoing queue, receive folders and the
// store's own properties.
#include <sqlite3.h>

#include <limits>

#include "platform/mapi/propcodec.h"
#include "platform/mapi/store_db_ops.h"

namespace quillory::store {
namespace {

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
    return m;
}

void DecodeInto(std::span<const BYTE> bytes, CPropertyBag& bag)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(DecodePropValue(bytes, &v))) throw DbError(MAPI_E_CORRUPT_STORE, "damaged property value");
    if (const SCODE sc = bag.Set(*v.Get()); FAILED(sc)) throw DbError(sc, "stored property");
}

void InsertProp(StoreDb& db, RowId message, RowId folder, const SPropValue& v, std::vector<BYTE>& bytes,
                std::vector<BYTE>& key, std::uint64_t& size)
{
    bytes.clear();
    if (const SCODE sc = EncodePropValue(v, bytes); FAILED(sc)) throw DbError(sc, "message property");
    key.clear();
    Stmt s(db, "INSERT INTO message_props(message, tag, folder, ikey, value) VALUES(?1, ?2, ?3, ?4, ?5)");
    s.Bind(1, message).Bind(2, std::int64_t{v.ulPropTag}).Bind(3, folder);
    if (ValueKey(v, key)) s.Bind(4, std::span<const BYTE>(key));
    else s.BindNull(4);
    s.Bind(5, std::span<const BYTE>(bytes)).Run();
    size += bytes.size();
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

// ---- Reading ----------------------------------------------------------------------

std::optional<MessageRecord> GetMessage(StoreDb& db, RowId id)
{
    Stmt s(db, "SELECT id, folder, assoc, flags, status, size, created, modified FROM messages WHERE id=?1");
    s.Bind(1, id);
    if (!s.Step()) return std::nullopt;
    return ReadMessage(s);
}

void LoadMessageProps(StoreDb& db, RowId id, CPropertyBag& bag)
{
    Stmt s(db, "SELECT value FROM message_props WHERE message=?1");
    s.Bind(1, id);
    while (s.Step()) DecodeInto(s.Blob(0), bag);
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
    Tx tx(db, true);
    const std::int64_t now = NowTicks();
    MessageRecord rec;
    if (w.id) {
        const auto current = GetMessage(db, w.id);
        if (!current) throw DbError(MAPI_E_OBJECT_DELETED, "the message was deleted");
        if (!w.force && current->modified != w.expectedModified)
            throw DbError(MAPI_E_OBJECT_CHANGED, "the message was changed by someone else");
        rec = *current;
        Stmt(db, "DELETE FROM message_props WHERE message=?1").Bind(1, w.id).Run();
    } else {
        Stmt(db, "INSERT INTO messages(folder, assoc, flags, status, size, created, modified) "
                 "VALUES(?1, ?2, 0, 0, 0, ?3, ?3)")
            .Bind(1, w.folder)
            .Bind(2, std::int64_t{w.associated ? 1 : 0})
            .Bind(3, now)
            .Run();
        rec.id = sqlite3_last_insert_rowid(db.Handle());
        rec.folder = w.folder;
        rec.associated = w.associated;
        rec.created = now;
    }

    std::uint64_t size = 0;
    std::vector<BYTE> bytes, key;
    if (w.props) {
        w.props->ForEach([&](const SPropValue& v) {
            if (v.ulPropTag != PR_MESSAGE_FLAGS) InsertProp(db, rec.id, rec.folder, v, bytes, key, size);
        });
    }
    FaultPoint("save-props");
    if (w.recipients) {
        Stmt(db, "DELETE FROM recipients WHERE message=?1").Bind(1, rec.id).Run();
        for (const Recipient& r : *w.recipients) {
            const auto encoded = EncodeArray(std::span<const SPropValue>(r.props.props.Get(), r.props.count));
            Stmt(db, "INSERT INTO recipients(message, row, props) VALUES(?1, ?2, ?3)")
                .Bind(1, rec.id)
                .Bind(2, std::int64_t{r.rowId})
                .Bind(3, std::span<const BYTE>(encoded))
                .Run();
        }
    }
    for (ULONG num : w.deletedAttachments)
        Stmt(db, "DELETE FROM attachments WHERE message=?1 AND num=?2").Bind(1, rec.id).Bind(2, std::int64_t{num}).Run();
    for (const AttachWrite& a : w.attachments) {
        Stmt s(db, "INSERT OR REPLACE INTO attachments(message, num, props, data) VALUES(?1, ?2, ?3, ?4)");
        s.Bind(1, rec.id).Bind(2, std::int64_t{a.num}).Bind(3, std::span<const BYTE>(a.props));
        if (a.hasData) s.Bind(4, a.data);
        else s.BindNull(4);
        s.Run();
    }
    FaultPoint("save-parts");

    {
        Stmt s(db, "SELECT coalesce(sum(length(props)), 0) FROM recipients WHERE message=?1");
        s.Bind(1, rec.id);
        if (s.Step()) size += static_cast<std::uint64_t>(s.Int(0));
    }
    bool hasAttach = false;
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
    // Strictly later than before, so that a change is always seen as one.
    rec.modified = std::max(now, rec.modified + 1);
    Stmt(db, "UPDATE messages SET flags=?2, size=?3, modified=?4 WHERE id=?1")
        .Bind(1, rec.id)
        .Bind(2, std::int64_t{rec.flags})
        .Bind(3, std::int64_t{rec.size})
        .Bind(4, rec.modified)
        .Run();
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
    for (const char* sql : {"DELETE FROM outgoing WHERE message=?1", "DELETE FROM attachments WHERE message=?1",
                            "DELETE FROM recipients WHERE message=?1", "DELETE FROM message_props WHERE message=?1",
                            "DELETE FROM messages WHERE id=?1"})
        Stmt(db, sql).Bind(1, id).Run();
    db.Touch(m->folder);
    tx.Commit();
}

RowId CopyMessage(StoreDb& db, RowId id, RowId folder)
{
    Tx tx(db, true);
    const std::int64_t now = NowTicks();
    // The copy is not on the outgoing queue, so it is not being submitted.
    Stmt(db, "INSERT INTO messages(folder, assoc, flags, status, size, created, modified) "
             "SELECT ?2, assoc, flags & ~?4, status, size, ?3, ?3 FROM messages WHERE id=?1")
        .Bind(1, id)
        .Bind(2, folder)
        .Bind(3, now)
        .Bind(4, std::int64_t{MSGFLAG_SUBMIT})
        .Run();
    if (sqlite3_changes(db.Handle()) == 0) throw DbError(MAPI_E_NOT_FOUND, "the message is gone");
    const RowId copy = sqlite3_last_insert_rowid(db.Handle());
    Stmt(db, "INSERT INTO message_props(message, tag, folder, ikey, value) "
             "SELECT ?2, tag, ?3, ikey, value FROM message_props WHERE message=?1")
        .Bind(1, id)
        .Bind(2, copy)
        .Bind(3, folder)
        .Run();
    Stmt(db, "INSERT INTO recipients(message, row, props) SELECT ?2, row, props FROM recipients WHERE message=?1")
        .Bind(1, id)
        .Bind(2, copy)
        .Run();
    Stmt(db, "INSERT INTO attachments(message, num, props, data) "
             "SELECT ?2, num, props, data FROM attachments WHERE message=?1")
        .Bind(1, id)
        .Bind(2, copy)
        .Run();
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
    Stmt(db, "UPDATE message_props SET folder=?2 WHERE message=?1").Bind(1, id).Bind(2, folder).Run();
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

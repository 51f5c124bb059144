// Folders in the store's database: records, names, the tree, properties.
#include <sqlite3.h>

#include "platform/mapi/propcodec.h"
#include "platform/mapi/store_db_ops.h"

namespace quillory::store {
namespace {

FolderRecord ReadFolder(Stmt& s)
{
    FolderRecord f;
    f.id = s.Int(0);
    f.parent = s.IsNull(1) ? 0 : s.Int(1);
    f.name = s.Text(2);
    f.type = static_cast<ULONG>(s.Int(3));
    f.created = s.Int(4);
    f.modified = s.Int(5);
    return f;
}

void TouchFolder(StoreDb& db, RowId id)
{
    Stmt(db, "UPDATE folders SET modified=?2 WHERE id=?1").Bind(1, id).Bind(2, NowTicks()).Run();
    db.Touch(id);
}

void CheckFreeName(StoreDb& db, RowId parent, std::string_view name, RowId except)
{
    const auto existing = FindChildFolder(db, parent, name);
    if (existing && *existing != except)
        throw DbError(MAPI_E_COLLISION, "a folder of that name exists: " + std::string(name));
}

void RunForFolder(StoreDb& db, RowId folder, std::initializer_list<const char*> statements)
{
    for (const char* sql : statements) Stmt(db, sql).Bind(1, folder).Run();
}

}  // namespace

std::string FoldCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::optional<FolderRecord> GetFolder(StoreDb& db, RowId id)
{
    Stmt s(db, "SELECT id, parent, name, type, created, modified FROM folders WHERE id=?1");
    s.Bind(1, id);
    if (!s.Step()) return std::nullopt;
    return ReadFolder(s);
}

std::vector<FolderRecord> ChildFolders(StoreDb& db, RowId parent)
{
    Stmt s(db, "SELECT id, parent, name, type, created, modified FROM folders WHERE parent=?1 ORDER BY id");
    s.Bind(1, parent);
    std::vector<FolderRecord> out;
    while (s.Step()) out.push_back(ReadFolder(s));
    return out;
}

std::optional<RowId> FindChildFolder(StoreDb& db, RowId parent, std::string_view name)
{
    Stmt s(db, "SELECT id FROM folders WHERE parent=?1 AND fold=?2");
    s.Bind(1, parent).Bind(2, std::string_view(FoldCase(name)));
    if (!s.Step()) return std::nullopt;
    return s.Int(0);
}

FolderCounts CountFolder(StoreDb& db, RowId id)
{
    FolderCounts c;
    {
        Stmt s(db, "SELECT assoc, count(*), sum((flags & ?2) = 0) FROM messages WHERE folder=?1 GROUP BY assoc");
        s.Bind(1, id).Bind(2, std::int64_t{MSGFLAG_READ});
        while (s.Step()) {
            if (s.Int(0)) {
                c.associated = static_cast<ULONG>(s.Int(1));
            } else {
                c.content = static_cast<ULONG>(s.Int(1));
                c.unread = static_cast<ULONG>(s.Int(2));
            }
        }
    }
    Stmt s(db, "SELECT EXISTS(SELECT 1 FROM folders WHERE parent=?1)");
    s.Bind(1, id);
    c.subfolders = s.Step() && s.Int(0) != 0;
    return c;
}

bool InSubtree(StoreDb& db, RowId ancestor, RowId folder)
{
    // Walks up from folder; the depth bound guards against a damaged tree.
    for (int depth = 0; folder && depth < 10000; ++depth) {
        if (folder == ancestor) return true;
        Stmt s(db, "SELECT parent FROM folders WHERE id=?1");
        s.Bind(1, folder);
        if (!s.Step() || s.IsNull(0)) return false;
        folder = s.Int(0);
    }
    return false;
}

bool IsSpecialFolder(StoreDb& db, RowId id)
{
    const SpecialFolders& sf = db.Special();
    return id == sf.root || id == sf.ipm || id == sf.inbox || id == sf.outbox || id == sf.sent || id == sf.deleted;
}

RowId AddFolder(StoreDb& db, RowId parent, std::string_view name, ULONG type, std::string_view comment)
{
    Tx tx(db, true);
    CheckFreeName(db, parent, name, 0);
    const std::int64_t now = NowTicks();
    Stmt(db, "INSERT INTO folders(parent, name, fold, type, created, modified) VALUES(?1, ?2, ?3, ?4, ?5, ?5)")
        .Bind(1, parent)
        .Bind(2, name)
        .Bind(3, std::string_view(FoldCase(name)))
        .Bind(4, std::int64_t{type})
        .Bind(5, now)
        .Run();
    const RowId id = sqlite3_last_insert_rowid(db.Handle());
    if (!comment.empty()) {
        const std::string text(comment);
        SPropValue v{};
        v.ulPropTag = PR_COMMENT;
        v.Value.lpszA = const_cast<LPSTR>(text.c_str());
        PutFolderProp(db, id, v);
    }
    TouchFolder(db, parent);
    tx.Commit();
    return id;
}

void RenameFolder(StoreDb& db, RowId id, std::string_view name)
{
    const auto f = GetFolder(db, id);
    if (!f) throw DbError(MAPI_E_OBJECT_DELETED, "the folder is gone");
    Tx tx(db, true);
    CheckFreeName(db, f->parent, name, id);
    Stmt(db, "UPDATE folders SET name=?2, fold=?3, modified=?4 WHERE id=?1")
        .Bind(1, id)
        .Bind(2, name)
        .Bind(3, std::string_view(FoldCase(name)))
        .Bind(4, NowTicks())
        .Run();
    db.Touch(f->parent);
    tx.Commit();
}

void MoveFolder(StoreDb& db, RowId id, RowId newParent, std::string_view newName)
{
    const auto f = GetFolder(db, id);
    if (!f) throw DbError(MAPI_E_NOT_FOUND, "the folder is gone");
    if (InSubtree(db, id, newParent)) throw DbError(MAPI_E_FOLDER_CYCLE, "a folder cannot move into itself");
    Tx tx(db, true);
    CheckFreeName(db, newParent, newName, id);
    Stmt(db, "UPDATE folders SET parent=?2, name=?3, fold=?4, modified=?5 WHERE id=?1")
        .Bind(1, id)
        .Bind(2, newParent)
        .Bind(3, newName)
        .Bind(4, std::string_view(FoldCase(newName)))
        .Bind(5, NowTicks())
        .Run();
    TouchFolder(db, f->parent);
    TouchFolder(db, newParent);
    tx.Commit();
}

RowId CopyFolder(StoreDb& db, RowId id, RowId newParent, std::string_view newName, bool subfolders)
{
    const auto f = GetFolder(db, id);
    if (!f) throw DbError(MAPI_E_NOT_FOUND, "the folder is gone");
    if (subfolders && InSubtree(db, id, newParent))
        throw DbError(MAPI_E_FOLDER_CYCLE, "a folder cannot be copied into itself with its sub-folders");
    Tx tx(db, true);
    // The lists are taken before the copy exists, so a copy placed beside
    // its source is not copied again.
    const auto children = subfolders ? ChildFolders(db, id) : std::vector<FolderRecord>{};
    const auto messages = FolderMessages(db, id, false);
    const auto associated = FolderMessages(db, id, true);
    const RowId copy = AddFolder(db, newParent, newName, f->type, {});
    // The copy is indexed as its source (before the messages come, so that
    // they get their entries).
    for (const char* sql : {"INSERT INTO folder_props(folder, tag, value) SELECT ?2, tag, value FROM folder_props "
                            "WHERE folder=?1",
                            "INSERT INTO indexed(folder, tag) SELECT ?2, tag FROM indexed WHERE folder=?1"})
        Stmt(db, sql).Bind(1, id).Bind(2, copy).Run();
    for (RowId m : messages) CopyMessage(db, m, copy);
    for (RowId m : associated) CopyMessage(db, m, copy);
    for (const FolderRecord& child : children) CopyFolder(db, child.id, copy, child.name, true);
    tx.Commit();
    return copy;
}

void EmptyFolder(StoreDb& db, RowId id, bool associated, bool subfolders)
{
    Tx tx(db, true);
    if (subfolders) {
        for (const FolderRecord& child : ChildFolders(db, id)) DeleteFolderTree(db, child.id);
    }
    if (associated) {
        RunForFolder(db, id,
                     {"DELETE FROM outgoing WHERE message IN (SELECT id FROM messages WHERE folder=?1)",
                      "DELETE FROM attachments WHERE message IN (SELECT id FROM messages WHERE folder=?1)",
                      "DELETE FROM recipients WHERE message IN (SELECT id FROM messages WHERE folder=?1)",
                      "DELETE FROM message_large WHERE message IN (SELECT id FROM messages WHERE folder=?1)",
                      "DELETE FROM prop_index WHERE folder=?1", "DELETE FROM messages WHERE folder=?1"});
    } else {
        RunForFolder(db, id,
                     {"DELETE FROM outgoing WHERE message IN (SELECT id FROM messages WHERE folder=?1 AND assoc=0)",
                      "DELETE FROM attachments WHERE message IN (SELECT id FROM messages WHERE folder=?1 AND assoc=0)",
                      "DELETE FROM recipients WHERE message IN (SELECT id FROM messages WHERE folder=?1 AND assoc=0)",
                      "DELETE FROM message_large WHERE message IN "
                      "(SELECT id FROM messages WHERE folder=?1 AND assoc=0)",
                      "DELETE FROM prop_index WHERE folder=?1 AND message IN "
                      "(SELECT id FROM messages WHERE folder=?1 AND assoc=0)",
                      "DELETE FROM messages WHERE folder=?1 AND assoc=0"});
    }
    TouchFolder(db, id);
    tx.Commit();
}

void DeleteFolderTree(StoreDb& db, RowId id)
{
    const auto f = GetFolder(db, id);
    if (!f) throw DbError(MAPI_E_NOT_FOUND, "the folder is gone");
    Tx tx(db, true);
    EmptyFolder(db, id, true, true);
    RunForFolder(db, id,
                 {"DELETE FROM receive_folders WHERE folder=?1", "DELETE FROM indexed WHERE folder=?1",
                  "DELETE FROM folder_props WHERE folder=?1", "DELETE FROM folders WHERE id=?1"});
    if (f->parent) TouchFolder(db, f->parent);
    db.Touch(id);
    tx.Commit();
}

void LoadFolderProps(StoreDb& db, RowId id, CPropertyBag& bag)
{
    Stmt s(db, "SELECT value FROM folder_props WHERE folder=?1");
    s.Bind(1, id);
    while (s.Step()) {
        MapiBuffer<SPropValue> v;
        if (FAILED(DecodePropValue(s.Blob(0), &v))) throw DbError(MAPI_E_CORRUPT_STORE, "damaged folder property");
        if (const SCODE sc = bag.Set(*v.Get()); FAILED(sc)) throw DbError(sc, "folder property");
    }
}

void PutFolderProp(StoreDb& db, RowId id, const SPropValue& value)
{
    std::vector<BYTE> bytes;
    if (const SCODE sc = EncodePropValue(value, bytes); FAILED(sc)) throw DbError(sc, "folder property");
    Stmt(db, "INSERT OR REPLACE INTO folder_props(folder, tag, value) VALUES(?1, ?2, ?3)")
        .Bind(1, id)
        .Bind(2, std::int64_t{value.ulPropTag})
        .Bind(3, std::span<const BYTE>(bytes))
        .Run();
    db.Touch(id);
}

void DeleteFolderProp(StoreDb& db, RowId id, ULONG tag)
{
    if (PROP_TYPE(tag) == PT_UNSPECIFIED) {
        Stmt(db, "DELETE FROM folder_props WHERE folder=?1 AND tag>=?2 AND tag<=?3")
            .Bind(1, id)
            .Bind(2, std::int64_t{PROP_TAG(0, PROP_ID(tag))})
            .Bind(3, std::int64_t{PROP_TAG(0xFFFF, PROP_ID(tag))})
            .Run();
    } else {
        Stmt(db, "DELETE FROM folder_props WHERE folder=?1 AND tag=?2").Bind(1, id).Bind(2, std::int64_t{tag}).Run();
    }
    db.Touch(id);
}

}  // namespace quillory::store

// Operations on the store's database in terms of folders, messages,
// recipients and attachments. Each function expects the caller to hold the
// database lock; changes run inside the caller's transaction, or their own.
// Failures are thrown as DbError.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/propobj.h"
#include "platform/mapi/store_db.h"

namespace quillory::store {

// A property array in one MAPI buffer chain.
struct PropArray {
    ULONG count = 0;
    MapiBuffer<SPropValue> props;
    const SPropValue* Find(ULONG tag) const;
};

// Decodes an encoded array; a damaged one is a corrupt store.
PropArray DecodeArray(std::span<const BYTE> bytes);
std::vector<BYTE> EncodeBag(const CPropertyBag& bag, ULONG skipTag = PR_NULL);
std::vector<BYTE> EncodeArray(std::span<const SPropValue> values);

// ASCII lower case, as folder names and message classes compare.
std::string FoldCase(std::string_view text);

// ---- Folders ------------------------------------------------------------------

struct FolderRecord {
    RowId id = 0;
    RowId parent = 0;  // 0 for the root
    std::string name;
    ULONG type = FOLDER_GENERIC;
    std::int64_t created = 0;
    std::int64_t modified = 0;
};

struct FolderCounts {
    ULONG content = 0;
    ULONG unread = 0;
    ULONG associated = 0;
    bool subfolders = false;
};

std::optional<FolderRecord> GetFolder(StoreDb& db, RowId id);
std::vector<FolderRecord> ChildFolders(StoreDb& db, RowId parent);
std::optional<RowId> FindChildFolder(StoreDb& db, RowId parent, std::string_view name);
FolderCounts CountFolder(StoreDb& db, RowId id);
// Whether folder is ancestor itself or lies anywhere below it.
bool InSubtree(StoreDb& db, RowId ancestor, RowId folder);
bool IsSpecialFolder(StoreDb& db, RowId id);

// MAPI_E_COLLISION (thrown) when the parent holds the name in any case.
RowId AddFolder(StoreDb& db, RowId parent, std::string_view name, ULONG type, std::string_view comment);
void RenameFolder(StoreDb& db, RowId id, std::string_view name);
void MoveFolder(StoreDb& db, RowId id, RowId newParent, std::string_view newName);
// Copies the folder with its properties and messages (and sub-folders when
// asked) under newParent; returns the copy.
RowId CopyFolder(StoreDb& db, RowId id, RowId newParent, std::string_view newName, bool subfolders);
// Deletes the folder, its messages and every folder below it.
void DeleteFolderTree(StoreDb& db, RowId id);
// Deletes the folder's messages (associated ones too when asked) and, when
// asked, its sub-folders.
void EmptyFolder(StoreDb& db, RowId id, bool associated, bool subfolders);

void LoadFolderProps(StoreDb& db, RowId id, CPropertyBag& bag);
void PutFolderProp(StoreDb& db, RowId id, const SPropValue& value);
void DeleteFolderProp(StoreDb& db, RowId id, ULONG tag);

// ---- Messages -----------------------------------------------------------------

struct MessageRecord {
    RowId id = 0;
    RowId folder = 0;
    bool associated = false;
    ULONG flags = 0;
    ULONG status = 0;
    ULONG size = 0;
    std::int64_t created = 0;
    std::int64_t modified = 0;
    ULONG large = 0;  // values kept apart in message_large
};

// Values whose encoding is longer are kept apart from the message's row, so
// that reading rows of a table does not read bodies.
constexpr std::size_t kInlineValueBytes = 1024;

// A message's stored values: the row's array, and its large values read on
// demand.
class StoredValues {
public:
    // Reads the message's row; false when there is no such message.
    bool Load(StoreDb& db, RowId id, MessageRecord* record = nullptr);
    // Appends the values with the tag (PT_UNSPECIFIED: any type of its ID),
    // their data chained to lpBase.
    void Find(ULONG tag, void* lpBase, std::vector<SPropValue>& out, bool firstOnly);
    // Appends every value.
    void All(void* lpBase, std::vector<SPropValue>& out);

private:
    StoreDb* db_ = nullptr;
    RowId id_ = 0;
    ULONG large_ = 0;
    std::vector<BYTE> blob_;
};

struct Recipient {
    ULONG rowId = 0;
    PropArray props;  // without PR_ROWID
};

struct AttachWrite {
    ULONG num = 0;
    std::vector<BYTE> props;  // encoded, without PR_ATTACH_DATA_BIN
    bool hasData = false;
    std::span<const BYTE> data;
};

struct MessageWrite {
    RowId id = 0;  // 0: a new message
    RowId folder = 0;
    bool associated = false;
    ULONG flags = 0;                                  // PR_MESSAGE_FLAGS; MSGFLAG_HASATTACH is worked out here
    const CPropertyBag* props = nullptr;              // every stored property (PR_MESSAGE_FLAGS is skipped)
    const std::vector<Recipient>* recipients = nullptr;  // null: unchanged
    std::span<const ULONG> deletedAttachments;
    std::span<const AttachWrite> attachments;
    std::int64_t expectedModified = 0;  // for an existing message: its time when it was read
    bool force = false;                 // save over a change made meanwhile
};

std::optional<MessageRecord> GetMessage(StoreDb& db, RowId id);
void LoadMessageProps(StoreDb& db, RowId id, CPropertyBag& bag);
std::vector<Recipient> LoadRecipients(StoreDb& db, RowId id);
std::vector<ULONG> AttachmentNumbers(StoreDb& db, RowId id);
// The attachment's properties, with PR_ATTACH_DATA_BIN when withData.
bool LoadAttachment(StoreDb& db, RowId id, ULONG num, bool withData, CPropertyBag& bag);
// PR_ATTACH_SIZE of a stored attachment.
ULONG AttachmentSize(StoreDb& db, RowId id, ULONG num);

// Writes a whole message (MAPI_E_OBJECT_DELETED / MAPI_E_OBJECT_CHANGED
// thrown as DbError) and returns its record as stored.
MessageRecord WriteMessage(StoreDb& db, const MessageWrite& w);
void DeleteMessage(StoreDb& db, RowId id);
RowId CopyMessage(StoreDb& db, RowId id, RowId folder);
void MoveMessage(StoreDb& db, RowId id, RowId folder);
void SetMessageFlags(StoreDb& db, RowId id, ULONG flags);
void SetMessageStatus(StoreDb& db, RowId id, ULONG status);
std::vector<RowId> FolderMessages(StoreDb& db, RowId folder, bool associated);

// ---- Outgoing queue and receive folders -----------------------------------------------

void QueueMessage(StoreDb& db, RowId id, std::int64_t submitted, ULONG flags);
bool UnqueueMessage(StoreDb& db, RowId id);
bool IsQueued(StoreDb& db, RowId id);
struct QueuedMessage {
    RowId id = 0;
    std::int64_t submitted = 0;
    ULONG flags = 0;
};
std::vector<QueuedMessage> OutgoingQueue(StoreDb& db);

// The folder for a message class: the longest registered prefix at a dot
// boundary, then the default entry (""). explicitClass receives the match.
std::optional<RowId> ReceiveFolder(StoreDb& db, std::string_view messageClass, std::string* explicitClass);
// folder 0 removes the class's entry.
void SetReceiveFolder(StoreDb& db, std::string_view messageClass, RowId folder);
struct ReceiveEntry {
    std::string messageClass;
    RowId folder = 0;
};
std::vector<ReceiveEntry> ReceiveFolders(StoreDb& db);

// ---- Store properties -------------------------------------------------------------

void LoadStoreProps(StoreDb& db, CPropertyBag& bag);
void PutStoreProp(StoreDb& db, const SPropValue& value);
void DeleteStoreProp(StoreDb& db, ULONG tag);

// ---- Value keys -------------------------------------------------------------------

// The index key of a value: a prefix of at most kMaxKeyBytes whose byte order
// (memcmp, shorter first) follows the value order tables sort by (strings
// ignore ASCII case). False for values that get no key (multi-valued,
// errors, nulls, objects). A key shorter than kMaxKeyBytes is exact up to
// case for strings.
constexpr std::size_t kMaxKeyBytes = 64;
bool ValueKey(const SPropValue& value, std::vector<BYTE>& key);

}  // namespace quillory::store

namespace quillory::store {

// ---- The value index ------------------------------------------------------------------

// Whether prop_index holds the folder's values of the tag. A few tags are
// indexed in every folder; others once EnsureIndexed made them so.
bool IsIndexed(StoreDb& db, RowId folder, ULONG tag);
// The tags indexed in a folder beyond the default ones.
std::vector<ULONG> IndexedTags(StoreDb& db, RowId folder);
// Indexes the folder's values of the tag (once; later saves keep it up).
void EnsureIndexed(StoreDb& db, RowId folder, ULONG tag);
// Adds the index entries of one message for its folder's indexed tags.
void IndexMessage(StoreDb& db, RowId id, RowId folder, std::span<const SPropValue> values);
// Removes the entries IndexMessage made from the message's stored values.
void UnindexMessage(StoreDb& db, RowId id, RowId folder);
// Whether the tag can be indexed at all (single-valued, of a keyed type).
bool IsIndexableTag(ULONG tag);

// ---- Message rows: computed values, restrictions, sorting ------------------------------

// A value copied into the chain of lpBase.
SCODE ChainBinary(std::span<const BYTE> bytes, void* lpBase, SBinary& out);

// The properties a message has from its record and identity rather than
// from what was set on it. In tables PR_MESSAGE_FLAGS and PR_INSTANCE_KEY
// come from here too; a message object keeps its flags among its values.
bool IsComputedMessageTag(ULONG tag, bool inTable);
std::vector<ULONG> ComputedMessageTags(bool inTable);
// S_OK with *out filled (data chained to lpBase), or MAPI_E_NOT_FOUND.
HRESULT ComputedMessageProp(const MAPIUID& store, const MessageRecord& m, ULONG tag, bool inTable, void* lpBase,
                            SPropValue* out);

// The values of the given columns for one message, in a new row buffer
// (missing ones as PT_ERROR MAPI_E_NOT_FOUND). False when the message is gone.
bool MessageRow(StoreDb& db, const MAPIUID& store, RowId id, std::span<const ULONG> columns, SRow& out);

struct ContentsQuery {
    RowId folder = 0;
    bool associated = false;
    const SRestriction* restriction = nullptr;  // validated beforehand
    std::span<const SSortOrder> sort;
};
// The messages of a contents table in order. Equality and existence tests
// are answered from the (folder, tag, ikey) index; what the index cannot
// decide is evaluated on the candidates' values.
std::vector<RowId> ContentsKeys(StoreDb& db, const MAPIUID& store, const ContentsQuery& q);

// Orders rows by sort keys: a missing value first (last when descending),
// strings ignoring ASCII case, ties by the given order.
int CompareSortValues(const SPropValue* a, const SPropValue* b);

// Appends the tags a restriction reads.
void RestrictionTags(const SRestriction& r, std::vector<ULONG>& tags, int depth = 0);

}  // namespace quillory::store

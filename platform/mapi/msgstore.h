// The persistent message store: one SQLite database file per store.
//
// A store holds a folder tree under its root folder: the IPM subtree "Top of
// Information Store" with "Inbox" (the default receive folder), "Outbox",
// "Sent Items" and "Deleted Items", made when the file is first created.
// Folders hold messages (and associated messages) with their properties,
// recipients and attachments. Each SaveChanges, folder operation and message
// operation is one transaction: a process killed at any point leaves the
// previous state whole, and other processes see either all of it or none.
//
// Entry IDs are long-term, 32 bytes, and stay valid across processes and
// restarts (see entryid.h: the store UID is in each). The store answers
// entry IDs of other stores, and cut or damaged ones, with
// MAPI_E_INVALID_ENTRYID.
//
// Durability: the database runs in write-ahead-log mode with checkpoint
// syncing, so a killed process never loses a completed SaveChanges and the
// file is never left inconsistent; a power cut may lose the newest commits.
//
// Contents tables: restrictions made of equality (RES_PROPERTY RELOP_EQ) and
// existence tests, joined by AND, OR and NOT, are answered from a per-folder
// value index; whatever else is evaluated on the candidates' values. A
// folder's PR_INTERNET_MESSAGE_ID values are indexed from the start; other
// tags are indexed the first time a restriction or sort of that folder needs
// them (one pass over the folder) and kept up by every later save. Rows are
// read only for what QueryRows asks.
//
// Submission: SubmitMessage saves the message with MSGFLAG_SUBMIT and puts it
// on the outgoing queue in the same transaction. FinishedMsg, the spooler's
// last call for a message, takes it off the queue, clears MSGFLAG_SUBMIT and
// MSGFLAG_UNSENT, sets MSGFLAG_READ, and then deletes it when
// PR_DELETE_AFTER_SUBMIT is TRUE or moves it to the folder PR_SENTMAIL_ENTRYID
// names (the home platform's DoSentMail), all in one transaction; the
// spooler need not move it itself.
//
// Notifications (IMsgStore::Advise, NotifyNewMail) reach the sinks of every
// store object of the same store in this process, synchronously, after the
// change was committed and with no lock held. Other processes' changes
// raise none. Contents and hierarchy tables follow changes of any process;
// IMAPITable::Advise is not offered (MAPI_E_NO_SUPPORT).
//
// Objects: a store object may be shared by threads; each open uses its own
// database connection, which a forked child must not use (it opens anew).
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/mapi/mapix.h"

namespace quillory {

// The UID reported in PR_MDB_PROVIDER by every store of this kind.
extern const MAPIUID kQuilloryStoreProvider;

// Opens the store in file, creating it (with its parent directories and its
// default folders) when it does not exist. storeUid becomes the UID of a new
// store (all zero bytes: a random one); an existing store keeps the UID it
// was made with. displayName, when not empty, becomes PR_DISPLAY_NAME.
// ulFlags: MDB_NO_DIALOG, MDB_WRITE, MDB_NO_MAIL, MAPI_BEST_ACCESS,
// MAPI_DEFERRED_ERRORS are accepted and change nothing (every store is
// writable); other flags give MAPI_E_UNKNOWN_FLAGS.
// Results: MAPI_E_CORRUPT_STORE for a file that is damaged or no store (it
// is read through before anything is written, and left untouched),
// MAPI_E_NO_ACCESS when the file cannot be created or opened, MAPI_E_BUSY
// when another process holds it too long; *error, when given, gets a
// sentence naming the file. A store whose process was killed opens with
// every save it completed.
HRESULT OpenMessageStore(const std::filesystem::path& file, const MAPIUID& storeUid, std::string_view displayName,
                         ULONG ulFlags, IMsgStore** out, std::string* error = nullptr);

// Reads an existing store file through and checks that it is sound: S_OK,
// MAPI_E_CORRUPT_STORE, or MAPI_E_NOT_FOUND when there is no such file.
// Nothing is created.
HRESULT VerifyMessageStore(const std::filesystem::path& file);

// The UID of a store's entry ID (any of its folders' or messages' entry IDs
// too), so that a session can tell which store an entry ID belongs to.
// False for bytes that are no entry ID of this kind of store.
bool StoreUidOfEntryId(ULONG cbEntryID, const ENTRYID* lpEntryID, MAPIUID* uid);

}  // namespace quillory

// The mail client's object model: the automation interfaces of its
// application, namespace, folders, items, views, windows and option pages,
// with the identifiers of their event interfaces and events.
//
// Every interface is dual: C++ callers use the methods, script-style
// callers reach the same members by name through IDispatch. Strings are
// UTF-8 BSTRs; dates are local time. Collections count from 1.
#pragma once

#include "platform/com/oleauto.h"
#include "platform/outlook/office.h"

// ---- interfaces ----
constexpr IID IID__Application = {0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID__NameSpace = {0x00063002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID__Explorer = {0x00063003, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID__Inspector = {0x00063005, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_MAPIFolder = {0x00063006, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_PropertyPages = {0x00063080, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID__Folders = {0x14A8A14D, 0xD6FD, 0x4C08, {0xB8, 0x87, 0x79, 0x89, 0x57, 0xFD, 0xEC, 0x15}};
constexpr IID IID__Items = {0xF181A824, 0xBE1D, 0x4694, {0x8A, 0xE6, 0x42, 0x7F, 0x07, 0x1B, 0x9D, 0x5D}};
constexpr IID IID_OutlookItem = {0x403CF00E, 0xE91B, 0x467D, {0x9A, 0x69, 0xB2, 0xB4, 0x2C, 0x37, 0xE2, 0xC8}};
constexpr IID IID__MailItem = {0x891FC7B6, 0xFD4F, 0x440F, {0xB8, 0x89, 0x27, 0x89, 0xBE, 0x6D, 0x55, 0x33}};
constexpr IID IID__PostItem = {0xC5A5E781, 0xF298, 0x4112, {0x8E, 0x37, 0x75, 0xE3, 0x11, 0xDD, 0x7A, 0xA6}};
constexpr IID IID_View = {0xBA46ECF7, 0x0EBD, 0x4131, {0xB3, 0x03, 0xCB, 0xF1, 0x10, 0xAE, 0x4E, 0x30}};
constexpr IID IID__Explorers = {0xB1BD0BB2, 0x21FD, 0x438E, {0x9F, 0x82, 0x65, 0x76, 0x05, 0x6B, 0xBA, 0x27}};
constexpr IID IID__Inspectors = {0x017D8860, 0x18CC, 0x4F2C, {0xA9, 0x47, 0x91, 0x41, 0x5C, 0x9F, 0x9F, 0x08}};
constexpr IID IID_PropertyPage = {0xBBEE842C, 0xBE63, 0x4CD5, {0xA1, 0x9E, 0x3F, 0xD4, 0x7B, 0x75, 0xE3, 0x42}};
constexpr IID IID_PropertyPageSite = {0x91609F24, 0x3B41, 0x4898, {0xA5, 0x48, 0x9E, 0x70, 0x03, 0x03, 0x37, 0xEC}};

// ---- event interfaces and their events ----
constexpr IID DIID_ApplicationEvents = {0x0006304E, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_ApplicationItemSend = 0xF002;
constexpr DISPID DISPID_ApplicationNewMail = 0xF003;
constexpr DISPID DISPID_ApplicationOptionsPagesAdd = 0xF005;  // (PropertyPages)
constexpr DISPID DISPID_ApplicationStartup = 0xF006;
constexpr DISPID DISPID_ApplicationQuit = 0xF007;

constexpr IID DIID_ExplorersEvents = {0x00063078, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_NewExplorer = 0xF001;  // (Explorer)

constexpr IID DIID_ExplorerEvents = {0x0006304F, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_ExplorerActivate = 0xF001;
constexpr DISPID DISPID_ExplorerFolderSwitch = 0xF002;
constexpr DISPID DISPID_ExplorerBeforeFolderSwitch = 0xF003;  // (NewFolder, Cancel)
constexpr DISPID DISPID_ExplorerViewSwitch = 0xF004;
constexpr DISPID DISPID_ExplorerDeactivate = 0xF006;
constexpr DISPID DISPID_ExplorerClose = 0xF008;

constexpr IID DIID_InspectorsEvents = {0x00063079, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_NewInspector = 0xF001;  // (Inspector)

constexpr IID DIID_InspectorEvents = {0x0006307D, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_InspectorActivate = 0xF001;
constexpr DISPID DISPID_InspectorDeactivate = 0xF006;
constexpr DISPID DISPID_InspectorClose = 0xF008;

constexpr IID DIID_ItemEvents = {0x0006303A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_ItemRead = 0xF001;
constexpr DISPID DISPID_ItemWrite = 0xF002;  // (Cancel)
constexpr DISPID DISPID_ItemOpen = 0xF003;   // (Cancel)
constexpr DISPID DISPID_ItemClose = 0xF004;  // (Cancel)

constexpr IID DIID_FoldersEvents = {0x00063076, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DISPID DISPID_FolderAdd = 0xF001;     // (Folder)
constexpr DISPID DISPID_FolderChange = 0xF002;  // (Folder)
constexpr DISPID DISPID_FolderRemove = 0xF003;  // ()

constexpr IID DIID_ItemsEvents = {0xF5AF2C93, 0xE500, 0x49C4, {0x87, 0xB1, 0xD0, 0x99, 0xF1, 0xB4, 0x07, 0x56}};
constexpr DISPID DISPID_ItemAdd = 0xF001;     // (Item)
constexpr DISPID DISPID_ItemChange = 0xF002;  // (Item)
constexpr DISPID DISPID_ItemRemove = 0xF003;  // ()

// ---- enumerations ----
// NameSpace.GetDefaultFolder.
constexpr LONG olFolderDeletedItems = 3;
constexpr LONG olFolderOutbox = 4;
constexpr LONG olFolderSentMail = 5;
constexpr LONG olFolderInbox = 6;
// Item types (Items.Add, MAPIFolder.DefaultItemType).
constexpr LONG olMailItem = 0;
constexpr LONG olPostItem = 6;
// Folders.Add types.
constexpr LONG olFolderMail = olFolderInbox;  // a folder of mail and posts
// Object classes (Class).
constexpr LONG olApplication = 0;
constexpr LONG olNamespace = 1;
constexpr LONG olFolder = 2;
constexpr LONG olView = 4;
constexpr LONG olExplorer = 34;
constexpr LONG olInspector = 35;
constexpr LONG olPropertyPages = 71;
constexpr LONG olMail = 43;
constexpr LONG olPost = 45;
// Close modes.
constexpr LONG olSave = 0;
constexpr LONG olDiscard = 1;
constexpr LONG olPromptForSave = 2;

class _NameSpace;
class _Explorers;
class _Explorer;
class _Inspectors;
class _Inspector;
class _Folders;
class _Items;
class MAPIFolder;
class View;
class PropertyPages;

class _Application : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Application;
    virtual HRESULT get_Name(BSTR* out) = 0;
    virtual HRESULT get_Version(BSTR* out) = 0;
    virtual HRESULT get_Session(_NameSpace** out) = 0;
    // Type: "MAPI", the only kind there is.
    virtual HRESULT GetNamespace(BSTR Type, _NameSpace** out) = 0;
    virtual HRESULT get_Explorers(_Explorers** out) = 0;
    virtual HRESULT get_Inspectors(_Inspectors** out) = 0;
    // The window the user worked in last; Nothing when none is open.
    virtual HRESULT ActiveExplorer(_Explorer** out) = 0;
    virtual HRESULT ActiveInspector(_Inspector** out) = 0;
};

class _NameSpace : public IDispatch {
public:
    static constexpr const IID& kIid = IID__NameSpace;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Parent(_Application** out) = 0;
    virtual HRESULT get_Type(BSTR* out) = 0;
    // The top folders of the profile's stores.
    virtual HRESULT get_Folders(_Folders** out) = 0;
    virtual HRESULT GetDefaultFolder(LONG FolderType, MAPIFolder** out) = 0;
    // Entry IDs as hexadecimal text; StoreID may be left out.
    virtual HRESULT GetFolderFromID(BSTR EntryIDFolder, VARIANT EntryIDStore, MAPIFolder** out) = 0;
    virtual HRESULT GetItemFromID(BSTR EntryIDItem, VARIANT EntryIDStore, IDispatch** out) = 0;
    // Lets the user choose a folder; Nothing when nobody chose one.
    virtual HRESULT PickFolder(MAPIFolder** out) = 0;
    // The MAPI session (IMAPISession).
    virtual HRESULT get_MAPIOBJECT(IUnknown** out) = 0;
    virtual HRESULT get_CurrentProfileName(BSTR* out) = 0;
};

class _Folders : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Folders;
    virtual HRESULT get_Application(_Application** out) = 0;
    // The folder whose subfolders these are; the namespace for the stores' tops.
    virtual HRESULT get_Parent(IDispatch** out) = 0;
    virtual HRESULT get_Count(LONG* out) = 0;
    // Index: a 1-based position or a folder name (without regard to case).
    virtual HRESULT Item(VARIANT Index, MAPIFolder** out) = 0;
    // Type: olFolderMail (left out: the same).
    virtual HRESULT Add(BSTR Name, VARIANT Type, MAPIFolder** out) = 0;
    virtual HRESULT Remove(LONG Index) = 0;
};

class MAPIFolder : public IDispatch {
public:
    static constexpr const IID& kIid = IID_MAPIFolder;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Parent(IDispatch** out) = 0;
    virtual HRESULT get_Name(BSTR* out) = 0;
    virtual HRESULT put_Name(BSTR value) = 0;
    virtual HRESULT get_EntryID(BSTR* out) = 0;
    virtual HRESULT get_StoreID(BSTR* out) = 0;
    virtual HRESULT get_Folders(_Folders** out) = 0;
    virtual HRESULT get_Items(_Items** out) = 0;
    virtual HRESULT get_DefaultItemType(LONG* out) = 0;
    virtual HRESULT get_DefaultMessageClass(BSTR* out) = 0;
    virtual HRESULT get_UnReadItemCount(LONG* out) = 0;
    virtual HRESULT get_FolderPath(BSTR* out) = 0;
    virtual HRESULT get_CurrentView(View** out) = 0;
    // The MAPI folder (IMAPIFolder).
    virtual HRESULT get_MAPIOBJECT(IUnknown** out) = 0;
    // Moves the folder (with all it holds) into another.
    virtual HRESULT MoveTo(MAPIFolder* DestinationFolder) = 0;
    virtual HRESULT Delete() = 0;
    // Shows the folder in a new explorer.
    virtual HRESULT Display() = 0;
};

// A folder's view: how its items are listed. XML is the view's
// description (see platform/outlook/view.h); Save keeps it with the folder,
// Apply shows it.
class View : public IDispatch {
public:
    static constexpr const IID& kIid = IID_View;
    virtual HRESULT get_Parent(MAPIFolder** out) = 0;
    virtual HRESULT get_Name(BSTR* out) = 0;
    virtual HRESULT put_Name(BSTR value) = 0;
    virtual HRESULT get_XML(BSTR* out) = 0;
    virtual HRESULT put_XML(BSTR value) = 0;
    virtual HRESULT Save() = 0;
    virtual HRESULT Apply() = 0;
};

class _Items : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Items;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Parent(MAPIFolder** out) = 0;
    virtual HRESULT get_Count(LONG* out) = 0;
    // Index: a 1-based position.
    virtual HRESULT Item(VARIANT Index, IDispatch** out) = 0;
    // A new, unsaved item of the folder; Type olMailItem or olPostItem (left
    // out: the folder's default).
    virtual HRESULT Add(VARIANT Type, IDispatch** out) = 0;
    virtual HRESULT Remove(LONG Index) = 0;
};

// What mail and post items share.
class OutlookItem : public IDispatch {
public:
    static constexpr const IID& kIid = IID_OutlookItem;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Class(LONG* out) = 0;
    virtual HRESULT get_Parent(MAPIFolder** out) = 0;
    // Empty until the item is saved.
    virtual HRESULT get_EntryID(BSTR* out) = 0;
    virtual HRESULT get_MessageClass(BSTR* out) = 0;
    virtual HRESULT put_MessageClass(BSTR value) = 0;
    virtual HRESULT get_Subject(BSTR* out) = 0;
    virtual HRESULT put_Subject(BSTR value) = 0;
    virtual HRESULT get_Body(BSTR* out) = 0;
    virtual HRESULT put_Body(BSTR value) = 0;
    virtual HRESULT get_HTMLBody(BSTR* out) = 0;
    virtual HRESULT put_HTMLBody(BSTR value) = 0;
    virtual HRESULT get_ConversationTopic(BSTR* out) = 0;
    // Hexadecimal text.
    virtual HRESULT get_ConversationIndex(BSTR* out) = 0;
    virtual HRESULT get_SenderName(BSTR* out) = 0;
    virtual HRESULT get_SenderEmailAddress(BSTR* out) = 0;
    virtual HRESULT get_ReceivedTime(DATE* out) = 0;
    virtual HRESULT get_SentOn(DATE* out) = 0;
    virtual HRESULT get_CreationTime(DATE* out) = 0;
    virtual HRESULT get_UnRead(VARIANT_BOOL* out) = 0;
    virtual HRESULT put_UnRead(VARIANT_BOOL value) = 0;
    // False while the item has changes not saved.
    virtual HRESULT get_Saved(VARIANT_BOOL* out) = 0;
    virtual HRESULT get_Size(LONG* out) = 0;
    // The MAPI message (IMessage).
    virtual HRESULT get_MAPIOBJECT(IUnknown** out) = 0;
    virtual HRESULT Save() = 0;
    virtual HRESULT Delete() = 0;
    // Opens the item in an inspector.
    virtual HRESULT Display(VARIANT Modal) = 0;
    virtual HRESULT Close(LONG SaveMode) = 0;
    // The inspector showing the item; Nothing when none does.
    virtual HRESULT GetInspector(_Inspector** out) = 0;
};

class _MailItem : public OutlookItem {
public:
    static constexpr const IID& kIid = IID__MailItem;
    // The recipients' display names, "; " between them.
    virtual HRESULT get_To(BSTR* out) = 0;
};

class _PostItem : public OutlookItem {
public:
    static constexpr const IID& kIid = IID__PostItem;
    // Stamps the item as posted now (submit and delivery times, the sender,
    // read) and saves it in its folder.
    virtual HRESULT Post() = 0;
    // A new post in the same folder that answers this one: the conversation
    // continues (child conversation index, same topic) and In-Reply-To
    // names this post's message-ID. Its subject is left empty.
    virtual HRESULT PostReply(_PostItem** out) = 0;
};

class _Explorers : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Explorers;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT Item(VARIANT Index, _Explorer** out) = 0;
    // A new explorer on the folder (not yet shown: Display or Activate shows it).
    virtual HRESULT Add(VARIANT Folder, VARIANT DisplayMode, _Explorer** out) = 0;
};

class _Explorer : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Explorer;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Caption(BSTR* out) = 0;
    virtual HRESULT get_CurrentFolder(MAPIFolder** out) = 0;
    virtual HRESULT put_CurrentFolder(MAPIFolder* value) = 0;
    virtual HRESULT get_CommandBars(_CommandBars** out) = 0;
    virtual HRESULT Activate() = 0;
    virtual HRESULT Display() = 0;
    virtual HRESULT Close() = 0;
};

class _Inspectors : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Inspectors;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT Item(VARIANT Index, _Inspector** out) = 0;
    // Opens an inspector on the item (an item object of this model).
    virtual HRESULT Add(IDispatch* Item, _Inspector** out) = 0;
};

class _Inspector : public IDispatch {
public:
    static constexpr const IID& kIid = IID__Inspector;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Caption(BSTR* out) = 0;
    // The item shown; Nothing once the inspector closed.
    virtual HRESULT get_CurrentItem(IDispatch** out) = 0;
    virtual HRESULT get_CommandBars(_CommandBars** out) = 0;
    virtual HRESULT Activate() = 0;
    virtual HRESULT Display(VARIANT Modal) = 0;
    virtual HRESULT Close(LONG SaveMode) = 0;
};

// The pages an options dialog is about to show. Page: a ProgID (the host
// creates the control) or a PropertyPage object; Title: the tab's caption.
class PropertyPages : public IDispatch {
public:
    static constexpr const IID& kIid = IID_PropertyPages;
    virtual HRESULT get_Application(_Application** out) = 0;
    virtual HRESULT get_Count(LONG* out) = 0;
    virtual HRESULT Item(VARIANT Index, IDispatch** out) = 0;
    virtual HRESULT Add(VARIANT Page, BSTR Title) = 0;
    virtual HRESULT Remove(VARIANT Index) = 0;
};

// What an options page implements.
class PropertyPage : public IDispatch {
public:
    static constexpr const IID& kIid = IID_PropertyPage;
    virtual HRESULT GetPageInfo(BSTR* HelpFile, LONG* HelpContext) = 0;
    virtual HRESULT get_Dirty(VARIANT_BOOL* out) = 0;
    virtual HRESULT Apply() = 0;
};

// What the options dialog offers its pages.
class PropertyPageSite : public IDispatch {
public:
    static constexpr const IID& kIid = IID_PropertyPageSite;
    // A page's Dirty may have changed.
    virtual HRESULT OnStatusChange() = 0;
    virtual HRESULT get_Application(_Application** out) = 0;
};

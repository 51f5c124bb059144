// Helpers shared by the message store's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/tests/test_home.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/proputil.h"

namespace quillory::testing {

inline MAPIUID TestUid(BYTE seed)
{
    MAPIUID uid{};
    for (int i = 0; i < 16; ++i) uid.ab[i] = static_cast<BYTE>(seed + i);
    return uid;
}

inline std::filesystem::path StorePath(const TempHome& home, const char* name = "store.db")
{
    return home.path() / "stores" / name;
}

inline ComPtr<IMsgStore> OpenStore(const std::filesystem::path& file, BYTE seed = 1)
{
    ComPtr<IMsgStore> store;
    EXPECT_EQ(OpenMessageStore(file, TestUid(seed), "Test store", 0, &store), S_OK);
    return store;
}

inline SPropValue StringProp(ULONG tag, const char* text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<LPSTR>(text);
    return v;
}

inline SPropValue LongProp(ULONG tag, LONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return v;
}

// The value points into bytes, which must outlive it.
SPropValue BinaryProp(ULONG tag, std::vector<BYTE>&& bytes) = delete;
inline SPropValue BinaryProp(ULONG tag, const std::vector<BYTE>& bytes)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin = SBinary{static_cast<ULONG>(bytes.size()), const_cast<BYTE*>(bytes.data())};
    return v;
}

// A binary property's bytes (an entry ID, say); empty when missing.
inline std::vector<BYTE> GetBinary(IMAPIProp* obj, ULONG tag)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(obj, tag, &v)) || PROP_TYPE(v->ulPropTag) != PT_BINARY) return {};
    return std::vector<BYTE>(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
}

inline std::string GetString(IMAPIProp* obj, ULONG tag)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(obj, tag, &v)) || PROP_TYPE(v->ulPropTag) != PT_STRING8) return "<missing>";
    return v->Value.lpszA;
}

inline LONG GetLong(IMAPIProp* obj, ULONG tag, LONG missing = -1)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(obj, tag, &v)) || PROP_TYPE(v->ulPropTag) != PROP_TYPE(tag)) return missing;
    return v->Value.l;
}

template <class T>
ComPtr<T> OpenEntryAs(IMsgStore* store, const std::vector<BYTE>& eid, ULONG flags = MAPI_MODIFY)
{
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    if (FAILED(store->OpenEntry(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(eid.data())),
                                nullptr, flags, &type, &unk)))
        return {};
    return ComPtr<T>(static_cast<T*>(unk.Get()));
}

inline ComPtr<IMAPIFolder> OpenFolder(IMsgStore* store, ULONG entryIdTag, ULONG flags = MAPI_MODIFY)
{
    return OpenEntryAs<IMAPIFolder>(store, GetBinary(store, entryIdTag), flags);
}

inline ComPtr<IMAPIFolder> OpenInbox(IMsgStore* store)
{
    ULONG cb = 0;
    MapiBuffer<ENTRYID> eid;
    EXPECT_EQ(store->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr), S_OK);
    if (!eid) return {};
    return OpenEntryAs<IMAPIFolder>(store, std::vector<BYTE>(reinterpret_cast<BYTE*>(eid.Get()),
                                                             reinterpret_cast<BYTE*>(eid.Get()) + cb));
}

inline ComPtr<IMAPIFolder> CreateSubfolder(IMAPIFolder* parent, const char* name, ULONG flags = 0)
{
    ComPtr<IMAPIFolder> f;
    EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>(name), nullptr, nullptr, flags, &f), S_OK)
        << name;
    return f;
}

// Creates and saves a message with a subject and extra values.
inline ComPtr<IMessage> AddMessage(IMAPIFolder* folder, const char* subject, std::vector<SPropValue> extra = {})
{
    ComPtr<IMessage> m;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &m), S_OK);
    if (!m) return {};
    extra.push_back(StringProp(PR_SUBJECT, subject));
    EXPECT_EQ(m->SetProps(static_cast<ULONG>(extra.size()), extra.data(), nullptr), S_OK);
    EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    return m;
}

// The names (PR_DISPLAY_NAME) of a folder's sub-folders, in table order.
inline std::vector<std::string> SubfolderNames(IMAPIFolder* folder)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(folder->GetHierarchyTable(0, &table), S_OK);
    auto cols = MakeTagArray({PR_DISPLAY_NAME});
    EXPECT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr rows;
    EXPECT_EQ(table->QueryRows(1000, 0, &rows), S_OK);
    std::vector<std::string> names;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) names.push_back(rows->aRow[i].lpProps[0].Value.lpszA);
    return names;
}

inline ULONG RowCount(IMAPITable* table)
{
    ULONG n = 0;
    EXPECT_EQ(table->GetRowCount(0, &n), S_OK);
    return n;
}

inline ENTRYLIST OneEntry(std::vector<BYTE>& eid, SBinary& bin)
{
    bin = SBinary{static_cast<ULONG>(eid.size()), eid.data()};
    return ENTRYLIST{1, &bin};
}

}  // namespace quillory::testing

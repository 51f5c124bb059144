// Helpers shared by the header folder's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/base/tests/test_home.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"
#include "provider/folder/header_entryid.h"
#include "provider/folder/mapi_folder.h"

namespace quillory::quarnex::testing {

// A logon that the tests steer.
class CFakeLogon final : public IFolderLogon {
public:
    IMsgStore* FolderMessageStore() override { return store; }
    bool DownloadRequested() override { return downloadRequested; }
    std::string KnownArticlesPath() override { return path; }

    IMsgStore* store = nullptr;
    bool downloadRequested = false;
    std::string path;
};

// Lets the module loader find the build's libraries (the news component).
class CLibPath {
public:
    CLibPath()
    {
        if (const char* old = std::getenv("QUILLORY_LIBPATH")) previous_ = old, had_ = true;
        setenv("QUILLORY_LIBPATH", quillory::testing::BuildLibDir().c_str(), 1);
    }
    ~CLibPath()
    {
        if (had_) setenv("QUILLORY_LIBPATH", previous_.c_str(), 1);
        else unsetenv("QUILLORY_LIBPATH");
    }

private:
    std::string previous_;
    bool had_ = false;
};

inline ComPtr<CMAPIFolder> NewFolder() { return ComPtr<CMAPIFolder>::Attach(NewComObject<CMAPIFolder>()); }

// A row holding only a PR_ENTRYID, as the logon hands rows to the folder.
struct EntryRow {
    explicit EntryRow(std::vector<BYTE> bytes) : id(std::move(bytes))
    {
        value.ulPropTag = PR_ENTRYID;
        value.Value.bin.cb = static_cast<ULONG>(id.size());
        value.Value.bin.lpb = id.data();
        row = SRow{0, 1, &value};
    }
    std::vector<BYTE> id;
    SPropValue value{};
    SRow row{};
};

// A copy of the table row with an entry ID (empty when there is none).
struct RowCopy {
    MapiBuffer<SPropValue> props;
    ULONG count = 0;
    const SPropValue* Find(ULONG tag) const { return props ? PpropFindProp(props.Get(), count, tag) : nullptr; }
    explicit operator bool() const { return static_cast<bool>(props); }
};

inline RowCopy TableRow(CMAPIFolder* folder, const std::vector<BYTE>& id)
{
    RowCopy out;
    ComPtr<IMAPITable> view;
    EXPECT_EQ(folder->GetContentsTable(0, &view), S_OK);
    if (!view) return out;
    RowSetPtr rows;
    EXPECT_EQ(view->QueryRows(1000, 0, &rows), S_OK);
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SRow& r = rows->aRow[i];
        const LPSPropValue eid = PpropFindProp(r.lpProps, r.cValues, PR_ENTRYID);
        if (eid && std::vector<BYTE>(eid->Value.bin.lpb, eid->Value.bin.lpb + eid->Value.bin.cb) == id) {
            SRow copy{};
            EXPECT_EQ(quillory::CopyRow(r, &copy), S_OK);
            out.props.Reset(copy.lpProps);
            out.count = copy.cValues;
            return out;
        }
    }
    return out;
}

}  // namespace quillory::quarnex::testing

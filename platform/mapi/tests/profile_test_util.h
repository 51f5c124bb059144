// Helpers of the profile, session and address-book tests: a private root
// with MAPI initialised and a service list naming the test service, and
// table reading.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/base/environment.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/session.h"

namespace quillory::testing {

// The service list the tests install: a service with an entry in the test
// library, one without a library, and one whose library does not exist.
inline constexpr std::string_view kTestServiceList =
    "[Services]\r\n"
    "TestSvc=Test Service\r\n"
    "NoLib=Library-less Service\r\n"
    "Missing=Missing Library Service\r\n"
    "\r\n"
    "[Default Services]\r\n"
    "NoLib=Library-less Service\r\n"
    "\r\n"
    "[TestSvc]\r\n"
    "PR_DISPLAY_NAME=Test Service\r\n"
    "PR_SERVICE_DLL_NAME=qtestsvc.dll\r\n"
    "PR_SERVICE_ENTRY_NAME=ServiceEntry\r\n"
    "PR_RESOURCE_FLAGS=SERVICE_NO_PRIMARY_IDENTITY\r\n"
    "Providers=TEST_XP\r\n"
    "\r\n"
    "[TEST_XP]\r\n"
    "PR_PROVIDER_DLL_NAME=qtestsvc.dll\r\n"
    "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
    "PR_PROVIDER_DISPLAY=Test Transport\r\n"
    "\r\n"
    "[NoLib]\r\n"
    "Providers=NOLIB_AB\r\n"
    "\r\n"
    "[NOLIB_AB]\r\n"
    "PR_RESOURCE_TYPE=MAPI_AB_PROVIDER\r\n"
    "\r\n"
    "[Missing]\r\n"
    "PR_SERVICE_DLL_NAME=nothere.dll\r\n"
    "PR_SERVICE_ENTRY_NAME=ServiceEntry\r\n";

inline void WriteServiceList(std::string_view text)
{
    char dir[MAX_PATH];
    ASSERT_GT(GetSystemDirectory(dir, sizeof dir), 0u);
    std::ofstream(std::filesystem::path(dir) / "MAPISVC.INF", std::ios::binary) << text;
}

// A private root with MAPI initialised for the test's lifetime.
class MapiHome {
public:
    explicit MapiHome(bool withServiceList = true)
    {
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        if (withServiceList) WriteServiceList(kTestServiceList);
    }
    ~MapiHome() { MAPIUninitialize(); }
    const std::filesystem::path& path() const { return home_.path(); }

    // The lines the test service's entry logged.
    std::vector<std::string> ServiceCalls() const
    {
        std::vector<std::string> lines;
        std::ifstream in(home_.path() / "service-calls.log");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    TempHome home_;
};

inline ComPtr<IProfAdmin> ProfAdmin()
{
    ComPtr<IProfAdmin> admin;
    EXPECT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
    return admin;
}

// Every row of a table with the given columns (none: the table's own).
inline std::vector<std::vector<SPropValue>> AllRows(IMAPITable* table, std::initializer_list<ULONG> columns,
                                                    RowSetPtr& keep)
{
    std::vector<std::vector<SPropValue>> rows;
    if (columns.size()) {
        std::vector<BYTE> storage(CbNewSPropTagArray(static_cast<ULONG>(columns.size())));
        auto* tags = reinterpret_cast<SPropTagArray*>(storage.data());
        tags->cValues = static_cast<ULONG>(columns.size());
        std::copy(columns.begin(), columns.end(), tags->aulPropTag);
        EXPECT_EQ(table->SetColumns(tags, 0), S_OK);
    }
    EXPECT_EQ(table->QueryRows(1000, 0, &keep), S_OK);
    if (!keep) return rows;
    for (ULONG i = 0; i < keep->cRows; ++i)
        rows.emplace_back(keep->aRow[i].lpProps, keep->aRow[i].lpProps + keep->aRow[i].cValues);
    return rows;
}

inline const SPropValue* Col(const std::vector<SPropValue>& row, ULONG tag)
{
    for (const auto& v : row)
        if (v.ulPropTag == tag) return &v;
    return nullptr;
}

inline std::string Str(const std::vector<SPropValue>& row, ULONG tag)
{
    const SPropValue* v = Col(row, tag);
    return v ? std::string(v->Value.lpszA) : std::string("<missing>");
}

inline MAPIUID UidOf(const SPropValue* v)
{
    MAPIUID uid{};
    if (v && PROP_TYPE(v->ulPropTag) == PT_BINARY && v->Value.bin.cb == sizeof uid.ab)
        std::copy(v->Value.bin.lpb, v->Value.bin.lpb + sizeof uid.ab, uid.ab);
    return uid;
}

// The UID of the first service of the profile with the given name.
inline MAPIUID ServiceUid(IMsgServiceAdmin* admin, std::string_view serviceName)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(admin->GetMsgServiceTable(0, &table), S_OK);
    RowSetPtr rows;
    for (const auto& row : AllRows(table.Get(), {PR_SERVICE_NAME, PR_SERVICE_UID}, rows))
        if (Str(row, PR_SERVICE_NAME) == serviceName) return UidOf(Col(row, PR_SERVICE_UID));
    ADD_FAILURE() << "no service " << serviceName;
    return MAPIUID{};
}

inline ComPtr<IMsgServiceAdmin> Services(IProfAdmin* admin, const char* profile)
{
    ComPtr<IMsgServiceAdmin> services;
    EXPECT_EQ(admin->AdminServices(const_cast<LPSTR>(profile), nullptr, 0, 0, &services), S_OK);
    return services;
}

}  // namespace quillory::testing

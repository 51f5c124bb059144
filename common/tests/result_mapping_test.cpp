#include "common/result_mapping.h"

#include "common/regstore.h"
#include "platform/base/tests/test_home.h"

#include <gtest/gtest.h>

#include <utility>

namespace quillory {
namespace {

TEST(NntpResultTable, MapsEveryListedCode)
{
    const std::pair<DWORD, DWORD> rows[] = {
        {0x800CCC04, 0x800CCC0F}, {0x800CCC05, 0x800CCC0F}, {0x800CCC06, 0x800CCC0F},
        {0x800CCC09, 0x800CCC0F}, {0x800CCC0F, 0x800CCC0F}, {0x800CCC0E, 0x800408FC},
        {0x800CCC10, 0x800CCC0D}, {0x800CCC11, 0x800CCC0D}, {0x800CCC17, 0x80040113},
        {0x800CCCA0, 0x80040102}, {0x800CCCA4, 0x8004210C}, {0x800CCCA5, 0x8004210C},
        {0x800CCCA6, 0x8004210C}, {0x800CCCA8, 0x8004210C}, {0x800CCCA7, 0x80042107},
        {0x800CCCAC, 0x80042107}, {0x800CCCA9, 0x800CCC78}, {0x800CCCAE, 0x800CCC92},
    };
    for (auto [from, to] : rows)
        EXPECT_EQ(static_cast<DWORD>(MapNntpResult(static_cast<HRESULT>(from))), to) << std::hex << from;
}

TEST(NntpResultTable, LeavesEverythingElseAlone)
{
    for (DWORD hr : {0x800CCC0Du, 0x800CCC07u, 0x800CCCFFu, 0x800CCC00u, 0x80004005u, 0x0u, 0x1u,
                     0x000CCC04u, 0xFFFFFF04u})
        EXPECT_EQ(static_cast<DWORD>(MapNntpResult(static_cast<HRESULT>(hr))), hr) << std::hex << hr;
}

class ReportedResult : public ::testing::Test {
protected:
    ReportedResult() { ResetReportedResultMapping(); }
    ~ReportedResult() override { ResetReportedResultMapping(); }

    void Set(const char* name, DWORD value) { ASSERT_EQ(WriteRegDword(kMainKey, name, value), ERROR_SUCCESS); }
    void Remove(const char* name)
    {
        HKEY key = nullptr;
        const std::string path(kMainKey);
        ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteValue(key, name), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    testing::TempHome home;
};

TEST_F(ReportedResult, SuccessPassesAndMappingAppliesByDefault)
{
    EXPECT_EQ(MapReportedResult(S_OK), S_OK);
    EXPECT_EQ(MapReportedResult(S_FALSE), S_FALSE);
    EXPECT_EQ(MapReportedResult(IXP_E_CC17), MAPI_E_USER_CANCEL);
    EXPECT_EQ(MapReportedResult(E_FAIL), E_FAIL);
}

TEST_F(ReportedResult, DisableMappingOnlyWhenOne)
{
    Set(kValDisableMapping, 2);
    EXPECT_EQ(MapReportedResult(IXP_E_CCA0), MAPI_E_NO_SUPPORT);
    ResetReportedResultMapping();
    Set(kValDisableMapping, 1);
    EXPECT_EQ(MapReportedResult(IXP_E_CCA0), IXP_E_CCA0);
}

TEST_F(ReportedResult, SetLastErrorWinsAndIsReadAgainEachTime)
{
    Set(kValDisableMapping, 1);
    Set(kValSetLastError, 0x80040115);
    EXPECT_EQ(MapReportedResult(IXP_E_CC0E), static_cast<HRESULT>(0x80040115));
    Set(kValSetLastError, 0x80004004);
    EXPECT_EQ(MapReportedResult(E_FAIL), E_ABORT);
    EXPECT_EQ(MapReportedResult(S_OK), S_OK);  // only failures are replaced

    // Gone after it was seen: the real result, mapped as configured.
    Remove(kValSetLastError);
    EXPECT_EQ(MapReportedResult(IXP_E_CC0E), IXP_E_CC0E);
}

TEST_F(ReportedResult, SwitchesAreReadOnceOnTheFirstFailure)
{
    EXPECT_EQ(MapReportedResult(S_OK), S_OK);
    Set(kValDisableMapping, 1);  // a success did not read the switches yet
    EXPECT_EQ(MapReportedResult(IXP_E_CC10), IXP_E_CC10);

    Remove(kValDisableMapping);
    Set(kValSetLastError, 5);  // appears after the first failure: not seen
    EXPECT_EQ(MapReportedResult(IXP_E_CC10), IXP_E_CC10);

    ResetReportedResultMapping();
    EXPECT_EQ(MapReportedResult(IXP_E_CC10), 5);
}

}  // namespace
}  // namespace quillory

// Resources embedded in our modules, looked up through the platform: the
// office stand-in carries a table built by quillory_embed_resources.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/base/module.h"
#include "platform/base/resource.h"
#include "platform/base/tests/test_home.h"
#include "platform/base/winerror.h"

namespace {

class Resources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(module_, nullptr) << quillory::LastModuleError(); }
    void TearDown() override
    {
        if (module_) FreeLibrary(module_);
    }

    std::string Data(HRSRC r) const
    {
        const void* p = LockResource(LoadResource(module_, r));
        return std::string(static_cast<const char*>(p), SizeofResource(module_, r));
    }

    HMODULE module_ = LoadLibrary((quillory::testing::BuildLibDir() / "libsedgewynd_fakeoffice.so").c_str());
};

TEST_F(Resources, FoundByIdOrByNameWhateverTheCase)
{
    const std::string inf = "[Sedgewynd]\r\nTargetPath=nowhere\r\n";
    HRSRC quoted = FindResource(module_, "\"INF\"", RT_RCDATA);
    ASSERT_NE(quoted, nullptr);
    EXPECT_EQ(Data(quoted), inf);
    EXPECT_EQ(FindResource(module_, "\"inf\"", MAKEINTRESOURCE(10)), quoted);
    EXPECT_EQ(FindResource(module_, "\"INF\"", "#10"), quoted);

    HRSRC custom = FindResource(module_, MAKEINTRESOURCE(7), "custom");
    ASSERT_NE(custom, nullptr);
    EXPECT_EQ(Data(custom), inf);
    EXPECT_EQ(FindResource(module_, "#7", "CUSTOM"), custom);
}

TEST_F(Resources, MissingOnesSayWhatIsMissing)
{
    EXPECT_EQ(FindResource(module_, "INF", RT_RCDATA), nullptr);  // without the quotes
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResource(module_, "\"INF\"", MAKEINTRESOURCE(99)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    // The test program carries no table.
    EXPECT_EQ(FindResource(nullptr, "\"INF\"", RT_RCDATA), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST_F(Resources, LoadStringCopiesWhatFitsAndTerminates)
{
    char buf[64];
    EXPECT_EQ(LoadString(module_, 1, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "Hello");
    EXPECT_EQ(LoadString(module_, 2, buf, sizeof buf), 25);
    EXPECT_STREQ(buf, "Two lines\r\nand \"quotes\" \x80");

    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(LoadString(module_, 9, buf, 4), 3);
    EXPECT_STREQ(buf, "012");
    EXPECT_EQ(buf[4], 'x');
    EXPECT_EQ(LoadString(module_, 9, buf, 1), 0);
    EXPECT_STREQ(buf, "");

    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(LoadString(module_, 4, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

}  // namespace

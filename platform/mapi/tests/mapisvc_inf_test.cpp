// Reading the service list: sections, typed properties, providers, and the
// errors of a missing or damaged file.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/base/environment.h"
#include "platform/base/tests/test_home.h"
#include "platform/mapi/mapisvc_inf.h"

namespace {

using quillory::InfProp;
using quillory::InfService;
using quillory::ServiceList;

// The service description the installer merges, with CR LF line ends.
constexpr std::string_view kCorvane =
    "[Services]\r\n"
    "Corvane=Tarnel NNTP Transport\r\n"
    "\r\n"
    "[Default Services]\r\n"
    "Corvane=Tarnel NNTP Transport\r\n"
    "\r\n"
    "[Corvane]\r\n"
    "PR_DISPLAY_NAME=Tarnel NNTP Transport\r\n"
    "PR_SERVICE_DLL_NAME=quarnex.dll\r\n"
    "PR_SERVICE_SUPPORT_FILES=quarnex.dll\r\n"
    "PR_SERVICE_DELETE_FILES=quarnex.dll\r\n"
    "PR_SERVICE_ENTRY_NAME=ServiceEntry\r\n"
    "WIZARD_ENTRY_NAME=WizardEntry\r\n"
    "Providers=QUARNEX_XPP\r\n"
    "\r\n"
    "[QUARNEX_XPP]\r\n"
    "PR_PROVIDER_DLL_NAME=quarnex.dll\r\n"
    "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
    "PR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n";

const InfProp* Find(const std::vector<InfProp>& props, ULONG tag)
{
    for (const auto& p : props)
        if (p.tag == tag) return &p;
    return nullptr;
}

void WriteServiceList(std::string_view bytes)
{
    char dir[MAX_PATH];
    ASSERT_GT(GetSystemDirectory(dir, sizeof dir), 0u);
    std::ofstream(std::filesystem::path(dir) / "MAPISVC.INF", std::ios::binary) << bytes;
}

TEST(ServiceListInf, ReadsTheInstalledServiceWithItsProvider)
{
    ServiceList list;
    ASSERT_EQ(ServiceList::Parse(kCorvane, list), S_OK);
    EXPECT_EQ(list.ServiceNames(), std::vector<std::string>{"Corvane"});
    EXPECT_EQ(list.DefaultServiceNames(), std::vector<std::string>{"Corvane"});

    InfService svc;
    ASSERT_EQ(list.FindService("CORVANE", svc), S_OK);  // names compare without case
    EXPECT_EQ(svc.name, "Corvane");
    EXPECT_EQ(svc.display, "Tarnel NNTP Transport");
    EXPECT_EQ(svc.dllName, "quarnex.dll");
    EXPECT_EQ(svc.entryName, "ServiceEntry");
    EXPECT_EQ(svc.wizardEntryName, "WizardEntry");
    const InfProp* files = Find(svc.props, PR_SERVICE_SUPPORT_FILES);
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->strings, std::vector<std::string>{"quarnex.dll"});
    const SPropValue view = files->View();
    ASSERT_EQ(view.Value.MVszA.cValues, 1u);
    EXPECT_STREQ(view.Value.MVszA.lppszA[0], "quarnex.dll");

    ASSERT_EQ(svc.providers.size(), 1u);
    EXPECT_EQ(svc.providers[0].section, "QUARNEX_XPP");
    EXPECT_EQ(svc.providers[0].resourceType, MAPI_TRANSPORT_PROVIDER);
    EXPECT_EQ(svc.providers[0].dllName, "quarnex.dll");
    EXPECT_EQ(svc.providers[0].display, "Tarnel NNTP Transport");
}

TEST(ServiceListInf, TypesValuesByTheirTags)
{
    constexpr std::string_view text =
        "; comment before any section\n"
        "[Services]\n"
        "Mix = Mixed values\n"
        "[Mix]\n"
        "  PR_RESOURCE_FLAGS = SERVICE_SINGLE_COPY | SERVICE_PRIMARY_IDENTITY\n"
        "0x6600000B=TRUE\n"
        "0x66010003=0x10\n"
        "0x66020002=-7\n"
        "0x66030102=0aFF\n"
        "0x6604101E= a , b,,c \n"
        "0x6605001F=wide here is narrow\n"
        "PR_SERVICE_DLL_NAME=first.dll\n"
        "PR_SERVICE_DLL_NAME=second.dll\n"
        "PR_SERVICE_ENTRY_NAME=Entry\n"
        "PR_NOT_A_KNOWN_NAME=ignored\n"
        "line without equals sign\n"
        "Providers=P1, P2\n"
        "[P1]\n"
        "PR_RESOURCE_TYPE=MAPI_STORE_PROVIDER\n"
        "PR_RESOURCE_FLAGS=STATUS_DEFAULT_STORE|0x1000\n"
        "[P2]\n"
        "PR_RESOURCE_TYPE=35\n";
    ServiceList list;
    ASSERT_EQ(ServiceList::Parse(text, list), S_OK);
    InfService svc;
    ASSERT_EQ(list.FindService("mix", svc), S_OK);
    EXPECT_EQ(svc.resourceFlags, SERVICE_SINGLE_COPY | SERVICE_PRIMARY_IDENTITY);
    EXPECT_EQ(svc.display, "Mixed values");  // no PR_DISPLAY_NAME: the [Services] text
    EXPECT_EQ(svc.dllName, "first.dll");      // the first of duplicate keys counts
    EXPECT_EQ(Find(svc.props, 0x6600000B)->number, 1);
    EXPECT_EQ(Find(svc.props, 0x66010003)->number, 16);
    EXPECT_EQ(Find(svc.props, 0x66020002)->View().Value.i, -7);
    EXPECT_EQ(Find(svc.props, 0x66030102)->bytes, (std::vector<BYTE>{0x0A, 0xFF}));
    EXPECT_EQ(Find(svc.props, 0x6604101E)->strings, (std::vector<std::string>{"a", "b", "c"}));
    ASSERT_NE(Find(svc.props, 0x6605001E), nullptr);  // Unicode tags are held as 8-bit strings
    EXPECT_EQ(Find(svc.props, 0x6605001F), nullptr);
    ASSERT_EQ(svc.providers.size(), 2u);
    EXPECT_EQ(svc.providers[0].resourceType, MAPI_STORE_PROVIDER);
    EXPECT_EQ(Find(svc.providers[0].props, PR_RESOURCE_FLAGS)->number,
              static_cast<LONG>(STATUS_DEFAULT_STORE | STATUS_PRIMARY_STORE));
    EXPECT_EQ(svc.providers[1].resourceType, MAPI_AB_PROVIDER);
}

TEST(ServiceListInf, UnicodeFileIsReadLikeAnAnsiOne)
{
    std::string bytes = "\xFF\xFE";
    for (char c : kCorvane) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    ServiceList list;
    ASSERT_EQ(ServiceList::Parse(bytes, list), S_OK);
    InfService svc;
    ASSERT_EQ(list.FindService("Corvane", svc), S_OK);
    EXPECT_EQ(svc.providers.size(), 1u);

    bytes.push_back('x');  // half a character
    EXPECT_EQ(ServiceList::Parse(bytes, list), MAPI_E_CORRUPT_DATA);
}

TEST(ServiceListInf, DamagedDescriptionsAreCorruptData)
{
    struct Case {
        const char* text;
        const char* why;
    };
    const Case cases[] = {
        {"[Services]\nX=x\n", "service section missing"},
        {"[Services]\nX=x\n[X]\nProviders=NOPE\n", "provider section missing"},
        {"[Services]\nX=x\n[X]\nProviders=P\n[P]\nPR_PROVIDER_DISPLAY=p\n", "provider without type"},
        {"[Services]\nX=x\n[X]\nPR_RESOURCE_FLAGS=SERVICE_BOGUS\n", "unknown flag name"},
        {"[Services]\nX=x\n[X]\nPR_RESOURCE_FLAGS=12abc\n", "number with trailing text"},
        {"[Services]\nX=x\n[X]\n0x66000102=ABC\n", "odd hex digits"},
        {"[Services]\nX=x\n[X]\n0x66000040=1\n", "type the list cannot hold"},
        {"[Services]\nX=x\n[X]\nPR_SERVICE_DLL_NAME=x.dll\n", "library without entry"},
        {"[Services]\nX=x\n[X]\n0x6600000B=maybe\n", "boolean word"},
    };
    for (const auto& c : cases) {
        ServiceList list;
        ASSERT_EQ(ServiceList::Parse(c.text, list), S_OK) << c.why;
        InfService svc;
        std::string error;
        EXPECT_EQ(list.FindService("X", svc, &error), MAPI_E_CORRUPT_DATA) << c.why;
        EXPECT_FALSE(error.empty()) << c.why;
    }
    ServiceList list;
    EXPECT_EQ(ServiceList::Parse(std::string_view("[Services]\0X=x", 14), list), MAPI_E_CORRUPT_DATA);
    EXPECT_EQ(ServiceList::Parse("just some words\nand more\n", list), MAPI_E_CORRUPT_DATA);
    InfService svc;
    ASSERT_EQ(ServiceList::Parse("", list), S_OK);
    EXPECT_EQ(list.FindService("X", svc), MAPI_E_NOT_FOUND);
}

TEST(ServiceListInf, SystemDirectoryFileMissingPresentAndDamaged)
{
    quillory::testing::TempHome home;
    InfService svc;
    std::string error;
    EXPECT_EQ(quillory::LookupService("Corvane", svc, &error), MAPI_E_NOT_FOUND);
    EXPECT_NE(error.find("MAPISVC.INF"), std::string::npos) << error;

    // The embedded store needs no file.
    ASSERT_EQ(quillory::LookupService("QuilloryStore", svc), S_OK);
    EXPECT_TRUE(svc.builtIn);
    EXPECT_EQ(svc.display, "Personal Folders");
    ASSERT_EQ(svc.providers.size(), 1u);
    EXPECT_EQ(svc.providers[0].resourceType, MAPI_STORE_PROVIDER);

    WriteServiceList(kCorvane);
    ASSERT_EQ(quillory::LookupService("Corvane", svc), S_OK);
    EXPECT_EQ(svc.entryName, "ServiceEntry");
    EXPECT_EQ(quillory::LookupService("Nothing", svc), MAPI_E_NOT_FOUND);

    WriteServiceList(std::string("\x01\x00\x02garbage", 10));
    EXPECT_EQ(quillory::LookupService("Corvane", svc), MAPI_E_CORRUPT_DATA);
}

TEST(ServiceListInf, LibraryNamesGainThirtyTwo)
{
    EXPECT_EQ(quillory::ProviderLibraryName("quarnex.dll"), "quarnex32.dll");
    EXPECT_EQ(quillory::ProviderLibraryName("QUARNEX.DLL"), "QUARNEX32.DLL");
    EXPECT_EQ(quillory::ProviderLibraryName("dir.x/quarnex"), "dir.x/quarnex32");
}

}  // namespace

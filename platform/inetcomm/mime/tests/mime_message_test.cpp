#include <gtest/gtest.h>

#include <string>

#include "platform/base/registry.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/stream.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace {

using quillory::ComPtr;

ComPtr<IStream> StreamOf(const std::string& text)
{
    ComPtr<IStream> s;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    s->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

std::string ReadAll(IStream* s)
{
    std::string out;
    EXPECT_EQ(quillory::ReadWholeStream(s, out), S_OK);
    return out;
}

class MimeMessage : public ::testing::Test {
protected:
    ComPtr<IMimeMessage> Create()
    {
        ComPtr<IMimeMessage> m;
        EXPECT_EQ(CoCreateInstance(CLSID_IMimeMessage, nullptr, CLSCTX_INPROC_SERVER, IID_IMimeMessage, m.AsVoidOut()),
                  S_OK);
        return m;
    }
    ComPtr<IMimeMessage> Loaded(const std::string& text)
    {
        auto m = Create();
        if (m) {
            EXPECT_EQ(m->Load(StreamOf(text).Get()), S_OK);
        }
        return m;
    }
    static std::string RegisteredModule(REFCLSID clsid)
    {
        HKEY key = nullptr;
        const std::string path = "CLSID\\" + quillory::GuidToString(clsid) + "\\InprocServer32";
        if (RegOpenKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
        char value[256] = {};
        DWORD size = sizeof(value);
        RegQueryValueEx(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        return value;
    }

    quillory::testing::TempHome home_;
};

const char kArticle[] =
    "From: John Doe <jd@example.org>\r\n"
    "Newsgroups: local.test\r\n"
    "Subject: Hello\r\n"
    "To: someone@example.org\r\n"
    "Reply-To: a@example.org\r\n"
    "Message-ID: <1@example.org>\r\n"
    "\r\n"
    "Body line one.\r\n";

TEST_F(MimeMessage, IsCreatableOnAFreshRootAndRegistersItself)
{
    EXPECT_EQ(RegisteredModule(CLSID_IMimeMessage), "");
    auto m = Create();
    ASSERT_TRUE(m);
    EXPECT_EQ(RegisteredModule(CLSID_IMimeMessage), "inetcomm.dll");
    CLSID id{};
    EXPECT_EQ(m->GetClassID(&id), S_OK);
    EXPECT_EQ(id, CLSID_IMimeMessage);
}

TEST_F(MimeMessage, FollowsTheRegistryAndReportsMissingClasses)
{
    const GUID unknown = *quillory::ParseGuid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
    // A registration that names another module is honoured, not rewritten.
    HKEY key = nullptr;
    const std::string path = "CLSID\\" + quillory::GuidToString(CLSID_IMimeMessage) + "\\InprocServer32";
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, path.c_str(), &key), ERROR_SUCCESS);
    const char module[] = "nosuchmodule.dll";
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(module), sizeof(module));
    RegCloseKey(key);
    EXPECT_EQ(CoCreateInstance(CLSID_IMimeMessage, nullptr, CLSCTX_ALL, IID_IMimeMessage, &p), CO_E_DLLNOTFOUND);
    EXPECT_EQ(p, nullptr);
    // A server without the class says so.
    const char real[] = "inetcomm.dll";
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, ("CLSID\\" + quillory::GuidToString(unknown) + "\\InprocServer32").c_str(), &key),
              ERROR_SUCCESS);
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(real), sizeof(real));
    RegCloseKey(key);
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(MimeMessage, ProgIdsLeadToTheirClass)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "Quillory.MimeMessage\\CLSID", &key), ERROR_SUCCESS);
    const std::string clsid = quillory::GuidToString(CLSID_IMimeMessage);
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid.c_str()), static_cast<DWORD>(clsid.size() + 1));
    RegCloseKey(key);
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID("Quillory.MimeMessage", &found), S_OK);
    EXPECT_EQ(found, CLSID_IMimeMessage);
    EXPECT_EQ(CLSIDFromProgID("Quillory.NoSuchThing", &found), CO_E_CLASSSTRING);
}

TEST_F(MimeMessage, EditsTheRootHeaderLikeThePostingSideDoes)
{
    auto m = Loaded(kArticle);
    ASSERT_TRUE(m);
    ComPtr<IMimeHeaderTable> table;
    ASSERT_EQ(m->BindToObject(HBODY_ROOT, IID_IMimeHeaderTable, table.AsVoidOut()), S_OK);

    FINDHEADER find{"to", 0};
    HHEADERROW row = nullptr;
    ASSERT_EQ(table->FindFirst(&find, &row), S_OK);
    ASSERT_EQ(table->DeleteRow(row), S_OK);
    EXPECT_EQ(table->DeleteRow(row), MIME_E_INVALID_HANDLE);
    EXPECT_EQ(table->FindFirst(&find, &row), MIME_E_NOT_FOUND);

    find = {"From", 0};
    ASSERT_EQ(table->FindFirst(&find, &row), S_OK);
    char* data = nullptr;
    ULONG cch = 0;
    ASSERT_EQ(table->GetRowData(row, 0, &data, &cch), S_OK);
    EXPECT_STREQ(data, "John Doe <jd@example.org>");
    EXPECT_EQ(cch, 25u);
    CoTaskMemFree(data);
    ASSERT_EQ(table->GetRowData(row, HTF_NAMEINDATA, &data, nullptr), S_OK);
    EXPECT_STREQ(data, "From: John Doe <jd@example.org>");
    CoTaskMemFree(data);

    ASSERT_EQ(table->AppendRow("Newsgroups", 0, "a.b, c.d", 0, nullptr), S_OK);
    ASSERT_EQ(table->AppendRow("Organization", 0, "Caf\xE9 Ltd", 0, &row), S_OK);
    ASSERT_EQ(table->GetRowData(row, 0, &data, nullptr), S_OK);
    EXPECT_NE(std::string(data).find("=?"), std::string::npos) << data;  // 8-bit text goes out as RFC 2047 words
    CoTaskMemFree(data);

    ULONG count = 0;
    ASSERT_EQ(table->GetCount(&count), S_OK);
    EXPECT_GE(count, 7u);

    ComPtr<IStream> source;
    ASSERT_EQ(m->GetMessageSource(&source, 0), S_OK);
    const std::string text = ReadAll(source.Get());
    EXPECT_EQ(text.find("\nTo:"), std::string::npos);
    EXPECT_NE(text.find("Reply-To: a@example.org\r\n"), std::string::npos);
    EXPECT_NE(text.find("Newsgroups: a.b, c.d\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n\r\nBody line one.\r\n"), std::string::npos);
    // Headers appended at the end of the header, before the body.
    EXPECT_LT(text.find("Organization:"), text.find("Body line one."));
    ULONG size = 0;
    ASSERT_EQ(m->GetMessageSize(&size, 0), S_OK);
    EXPECT_EQ(size, text.size());
}

TEST_F(MimeMessage, KeepsAppendedValuesOnTheirOwnLine)
{
    auto m = Loaded(kArticle);
    ComPtr<IMimeHeaderTable> table;
    ASSERT_EQ(m->BindToObject(HBODY_ROOT, IID_IMimeHeaderTable, table.AsVoidOut()), S_OK);
    ASSERT_EQ(table->AppendRow("Organization", 0, "Evil\r\nBcc: victim@example.org\r\n\r\nfake body", 0, nullptr), S_OK);
    EXPECT_EQ(table->AppendRow("Bad Name", 0, "x", 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(table->AppendRow("Bad:Name", 0, "x", 0, nullptr), E_INVALIDARG);
    FINDHEADER find{"Subject", 0};
    HHEADERROW row = nullptr;
    ASSERT_EQ(table->FindFirst(&find, &row), S_OK);
    ASSERT_EQ(table->SetRowData(row, 0, "a\nX-Injected: 1", 0), S_OK);
    ComPtr<IStream> source;
    ASSERT_EQ(m->GetMessageSource(&source, 0), S_OK);
    const std::string text = ReadAll(source.Get());
    EXPECT_EQ(text.find("\nBcc:"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nX-Injected:"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nfake body"), std::string::npos) << text;
}

TEST_F(MimeMessage, FindsEveryRowOfARepeatedField)
{
    auto m = Loaded("Subject: x\r\nX-A: 1\r\nX-B: 2\r\nX-A: 3\r\n\r\nbody\r\n");
    ComPtr<IMimeHeaderTable> table;
    ASSERT_EQ(m->BindToObject(HBODY_ROOT, IID_IMimeHeaderTable, table.AsVoidOut()), S_OK);
    FINDHEADER find{"X-A", 0};
    HHEADERROW first = nullptr, second = nullptr;
    ASSERT_EQ(table->FindFirst(&find, &first), S_OK);
    ASSERT_EQ(table->FindNext(&find, &second), S_OK);
    EXPECT_EQ(table->FindNext(&find, &second), MIME_E_NOT_FOUND);
    ASSERT_EQ(table->FindFirst(&find, &first), S_OK);
    ASSERT_EQ(table->FindNext(&find, &second), S_OK);
    ASSERT_EQ(table->SetRowData(second, 0, "three", 0), S_OK);
    ASSERT_EQ(table->DeleteRow(first), S_OK);
    ComPtr<IStream> source;
    ASSERT_EQ(m->GetMessageSource(&source, 0), S_OK);
    const std::string text = ReadAll(source.Get());
    EXPECT_EQ(text.find("X-A: 1"), std::string::npos);
    EXPECT_NE(text.find("X-A: three"), std::string::npos);
}

TEST_F(MimeMessage, GivesTheTextBodiesOfAMultipartArticle)
{
    const std::string article =
        "From: a@example.org\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
        "--XX\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "Gr=FC=DFe\r\n"
        "--XX\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<p>Hi</p>\r\n"
        "--XX\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=a.bin\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--XX--\r\n";
    auto m = Loaded(article);
    ULONG bodies = 0;
    ASSERT_EQ(m->CountBodies(HBODY_ROOT, TRUE, &bodies), S_OK);
    EXPECT_EQ(bodies, 4u);
    ComPtr<IStream> text;
    HBODY body = nullptr;
    ASSERT_EQ(m->GetTextBody(TXT_PLAIN, IET_INETCSET, &text, &body), S_OK);
    EXPECT_NE(body, nullptr);
    EXPECT_EQ(ReadAll(text.Get()), "Gr\xFC\xDF" "e");  // the CR LF before a boundary belongs to it
    ASSERT_EQ(m->GetTextBody(TXT_HTML, IET_DECODED, &text, nullptr), S_OK);
    EXPECT_EQ(ReadAll(text.Get()), "<p>Hi</p>");

    auto plainOnly = Loaded(kArticle);
    EXPECT_EQ(plainOnly->GetTextBody(TXT_HTML, IET_DECODED, &text, nullptr), MIME_E_NOT_FOUND);
    ASSERT_EQ(plainOnly->GetTextBody(TXT_PLAIN, IET_DECODED, &text, nullptr), S_OK);
    EXPECT_EQ(ReadAll(text.Get()), "Body line one.\r\n");
}

TEST_F(MimeMessage, RefusesAStreamWithoutHeaders)
{
    auto m = Create();
    EXPECT_EQ(m->Load(StreamOf("").Get()), MIME_E_INVALID_MESSAGE);
    EXPECT_EQ(m->Load(nullptr), E_INVALIDARG);
}

TEST_F(MimeMessage, LoadsFromTheStreamPosition)
{
    auto m = Create();
    auto s = StreamOf(std::string("garbage that is skipped") + kArticle);
    LARGE_INTEGER skip{};
    skip.QuadPart = 23;
    s->Seek(skip, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(m->Load(s.Get()), S_OK);
    ComPtr<IStream> source;
    ASSERT_EQ(m->GetMessageSource(&source, 0), S_OK);
    EXPECT_EQ(ReadAll(source.Get()).rfind("From: John Doe", 0), 0u);
}

}  // namespace

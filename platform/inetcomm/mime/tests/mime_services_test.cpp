#include <gtest/gtest.h>

#include <string>

#include "platform/base/time.h"
#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace {

using quillory::ComPtr;

struct TaskString {
    char* p = nullptr;
    ~TaskString() { CoTaskMemFree(p); }
};

class International : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(MimeOleGetInternat(&intl_), S_OK); }
    void TearDown() override { intl_->Release(); }

    // Decodes a header as the downloader does: decode, then convert from the
    // set's Internet code page to its Windows code page.
    std::string DecodeForDisplay(const char* raw)
    {
        char charset[250] = {};
        TaskString decoded;
        if (FAILED(intl_->Rfc1522Decode(raw, charset, sizeof(charset), &decoded.p))) return raw;
        HCHARSET h = nullptr;
        EXPECT_EQ(intl_->FindCharset(charset, &h), S_OK);
        INETCSETINFO info{};
        EXPECT_EQ(intl_->GetCharsetInfo(h, &info), S_OK);
        if (info.cpiWindows == info.cpiInternet) return decoded.p;
        BLOB in{static_cast<ULONG>(std::strlen(decoded.p) + 1), reinterpret_cast<BYTE*>(decoded.p)};
        BLOB out{};
        if (FAILED(intl_->ConvertBuffer(info.cpiInternet, info.cpiWindows, &in, &out, nullptr))) return decoded.p;
        std::string result(reinterpret_cast<char*>(out.pBlobData));
        CoTaskMemFree(out.pBlobData);
        return result;
    }

    IMimeInternational* intl_ = nullptr;
};

TEST_F(International, DecodesEncodedWordsOfSeveralCharsetsToTheSystemCodePage)
{
    // Q and B encodings, UTF-8, ISO-8859-1, windows-1252 itself.
    EXPECT_EQ(DecodeForDisplay("=?ISO-8859-1?Q?Caf=E9_au_lait?="), "Caf\xE9 au lait");
    EXPECT_EQ(DecodeForDisplay("=?utf-8?B?R3LDvMOfZQ==?="), "Gr\xFC\xDF" "e");
    EXPECT_EQ(DecodeForDisplay("Re: =?windows-1252?q?=80uro?= prices"), "Re: \x80uro prices");
    // Adjacent encoded words join without the blank between them.
    EXPECT_EQ(DecodeForDisplay("=?utf-8?q?ab?= =?utf-8?q?cd?="), "abcd");
    // A word split inside a multi-byte character still decodes whole.
    EXPECT_EQ(DecodeForDisplay("=?utf-8?q?=C3?= =?utf-8?q?=A9t=C3=A9?="), "\xE9t\xE9");
    // Cyrillic does not exist in windows-1252: every letter becomes '?'.
    EXPECT_EQ(DecodeForDisplay("=?KOI8-R?B?8NLJ18XU?="), "??????");
}

TEST_F(International, PlainTextIsNoEncodedWord)
{
    char charset[64];
    TaskString decoded;
    EXPECT_EQ(intl_->Rfc1522Decode("Just a subject", charset, sizeof(charset), &decoded.p), MIME_E_NO_DATA);
    EXPECT_EQ(decoded.p, nullptr);
    EXPECT_EQ(DecodeForDisplay("=?bogus"), "=?bogus");
}

TEST_F(International, FindsCharsetsByNameAndAlias)
{
    HCHARSET a = nullptr, b = nullptr;
    ASSERT_EQ(intl_->FindCharset("Latin1", &a), S_OK);
    ASSERT_EQ(intl_->FindCharset("ISO-8859-1", &b), S_OK);
    EXPECT_EQ(a, b);
    INETCSETINFO info{};
    ASSERT_EQ(intl_->GetCharsetInfo(a, &info), S_OK);
    EXPECT_STREQ(info.szName, "iso-8859-1");
    EXPECT_EQ(info.cpiInternet, 28591u);
    EXPECT_EQ(info.cpiWindows, kSystemCodePage);
    EXPECT_EQ(intl_->FindCharset("x-no-such-set", &a), MIME_E_NOT_FOUND);
    EXPECT_EQ(intl_->GetCharsetInfo(reinterpret_cast<HCHARSET>(&info), &info), MIME_E_INVALID_HANDLE);
    ASSERT_EQ(intl_->GetCodePageCharset(20866, CHARSET_BODY, &a), S_OK);
    ASSERT_EQ(intl_->GetCharsetInfo(a, &info), S_OK);
    EXPECT_STREQ(info.szName, "koi8-r");
}

TEST_F(International, ConvertBufferReportsReplacedCharactersAndKeepsLength)
{
    const char koi8[] = "\xF0\xD2\xC9 ok";  // three Cyrillic letters, then ASCII
    BLOB in{sizeof(koi8) - 1, reinterpret_cast<BYTE*>(const_cast<char*>(koi8))};
    BLOB out{};
    ULONG read = 0;
    EXPECT_EQ(intl_->ConvertBuffer(20866, 1251, &in, &out, &read), S_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.pBlobData), out.cbSize), "\xCF\xF0\xE8 ok");
    EXPECT_EQ(read, in.cbSize);
    CoTaskMemFree(out.pBlobData);
    EXPECT_EQ(intl_->ConvertBuffer(20866, CP_ACP, &in, &out, nullptr), MIME_S_CHARSET_CONFLICT);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.pBlobData), out.cbSize), "??? ok");
    CoTaskMemFree(out.pBlobData);
    EXPECT_EQ(intl_->ConvertBuffer(12345, CP_ACP, &in, &out, nullptr), MIME_E_NOT_FOUND);
}

TEST_F(International, EncodesOnlyWhatNeedsIt)
{
    TaskString plain, accented;
    ASSERT_EQ(intl_->Rfc1522Encode("plain words", nullptr, &plain.p), S_OK);
    EXPECT_STREQ(plain.p, "plain words");
    ASSERT_EQ(intl_->Rfc1522Encode("Caf\xE9", nullptr, &accented.p), S_OK);
    EXPECT_NE(std::string(accented.p).find("=?"), std::string::npos);
    EXPECT_EQ(DecodeForDisplay(accented.p), "Caf\xE9");
}

ULONGLONG Seconds(const char* date)
{
    FILETIME ft{};
    if (FAILED(MimeOleInetDateToFileTime(date, &ft))) return 0;
    return (quillory::FileTimeToUInt64(ft) - quillory::kFileTimeUnixEpoch) / quillory::kFileTimeTicksPerSecond;
}

TEST(InetDate, ReadsCurrentAndObsoleteForms)
{
    // 2003-07-01 08:52:37 UTC.
    const ULONGLONG t = 1057049557;
    EXPECT_EQ(Seconds("Tue, 1 Jul 2003 10:52:37 +0200"), t);
    EXPECT_EQ(Seconds("1 Jul 2003 08:52:37 GMT"), t);               // no weekday
    EXPECT_EQ(Seconds("Tue, 01 Jul 03 04:52:37 EDT"), t);           // two-digit year, named zone
    EXPECT_EQ(Seconds("Tue,  1 Jul 2003 08:52:37 +0000 (UTC)"), t); // trailing comment
    EXPECT_EQ(Seconds("Tue Jul  1 08:52:37 2003"), t);              // asctime form, read as UTC
    EXPECT_EQ(Seconds("1 Jul 2003 08:52 UT"), t - 37);              // no seconds
    FILETIME ft{};
    SYSTEMTIME st{};
    ASSERT_EQ(MimeOleInetDateToFileTime("Thu, 13 Feb 69 23:32:54 -0330", &ft), S_OK);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 1969);
    EXPECT_EQ(st.wDay, 14);
    EXPECT_EQ(st.wHour, 3);
    EXPECT_EQ(st.wMinute, 2);
    // Years 50-99 are the twentieth century, 00-49 the twenty-first.
    EXPECT_EQ(Seconds("1 Jan 70 00:00:00 +0000"), 0ull);
    EXPECT_EQ(Seconds("1 Jan 49 00:00:00 +0000"), 2493072000ull);
}

TEST(InetDate, RejectsWhatIsNoDate)
{
    FILETIME ft{1, 2};
    for (const char* bad : {"", "yesterday", "Mon, 32 Jan 2020 10:00:00 GMT", "29 Feb 2023 10:00:00 GMT",
                            "1 Jan 2000 25:00:00 GMT", "1 Jan 2000 10:00:00 +02", "1 Foo 2000 10:00:00 GMT",
                            "1 Jan 2000 10:00:00 GMT garbage here", "1 Jan 2000", "12345"})
        EXPECT_EQ(MimeOleInetDateToFileTime(bad, &ft), MIME_E_INVALID_INET_DATE) << bad;
    EXPECT_EQ(MimeOleInetDateToFileTime(nullptr, &ft), E_INVALIDARG);
    EXPECT_EQ(Seconds("29 Feb 2024 00:00:00 GMT"), 1709164800ull);
}

struct AddressList {
    ADDRESSLIST list{};
    ~AddressList()
    {
        IMimeAllocator* a = nullptr;
        MimeOleGetAllocator(&a);
        a->FreeAddressList(&list);
        a->Release();
    }
};

TEST(Address, ReadsTheCommonFromForms)
{
    struct Case {
        const char* text;
        const char* name;
        const char* email;
    } cases[] = {
        {"John Doe <jd@example.org>", "John Doe", "jd@example.org"},
        {"\"Doe, John\" <jd@example.org>", "Doe, John", "jd@example.org"},
        {"jd@example.org", "", "jd@example.org"},
        {"<jd@example.org>", "", "jd@example.org"},
        {"jd@example.org (John Doe)", "John Doe", "jd@example.org"},
        {"=?ISO-8859-1?Q?J=F6rg?= <j@example.de>", "J\xF6rg", "j@example.de"},
        {"J\xF6rg <j@example.de>", "J\xF6rg", "j@example.de"},  // raw 8-bit in the system code page
        {"Team: a@example.org, B <b@example.org>;", "", "a@example.org"},
    };
    for (const auto& c : cases) {
        AddressList l;
        ASSERT_EQ(MimeOleParseRfc822Address(IAT_FROM, IET_8BIT, c.text, &l.list), S_OK) << c.text;
        ASSERT_GE(l.list.cAdrs, 1u);
        const ADDRESSPROPS& a = l.list.prgAdr[0];
        EXPECT_TRUE(a.dwProps & IAP_FRIENDLY);
        EXPECT_TRUE(a.dwProps & IAP_EMAIL);
        EXPECT_EQ(a.dwAdrType, IAT_FROM);
        EXPECT_STREQ(a.pszFriendly, c.name) << c.text;
        EXPECT_STREQ(a.pszEmail, c.email) << c.text;
    }
}

TEST(Address, ReportsNoAddressForBrokenText)
{
    for (const char* bad : {"", "John Smith", "broken <", "Undisclosed recipients:;"}) {
        AddressList l;
        EXPECT_EQ(MimeOleParseRfc822Address(IAT_FROM, IET_8BIT, bad, &l.list), MIME_E_NO_DATA) << bad;
        EXPECT_EQ(l.list.cAdrs, 0u);
        EXPECT_EQ(l.list.prgAdr, nullptr);
    }
}

}  // namespace

// The address book: one-off entry IDs made, read back and opened; names
// resolved to one-offs; damaged entry IDs refused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/addrbook.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"

namespace {

using quillory::ComPtr;
using quillory::OneOffEntry;
using quillory::ParseOneOffEntryId;

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

ComPtr<IAddrBook> Book()
{
    ComPtr<IAddrBook> book;
    EXPECT_EQ(quillory::CreateAddressBook(&book), S_OK);
    return book;
}

// An address list whose entries hold the given string properties.
struct AdrList {
    explicit AdrList(std::vector<std::vector<std::pair<ULONG, const char*>>> entries)
    {
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(entries.size())), reinterpret_cast<void**>(&list)),
                  S_OK);
        list->cEntries = static_cast<ULONG>(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            ADRENTRY& e = list->aEntries[i];
            e = ADRENTRY{};
            e.cValues = static_cast<ULONG>(entries[i].size());
            EXPECT_EQ(MAPIAllocateBuffer(e.cValues * sizeof(SPropValue), reinterpret_cast<void**>(&e.rgPropVals)), S_OK);
            for (ULONG j = 0; j < e.cValues; ++j) {
                e.rgPropVals[j] = SPropValue{};
                e.rgPropVals[j].ulPropTag = entries[i][j].first;
                if (PROP_TYPE(entries[i][j].first) == PT_STRING8) {
                    void* p = nullptr;
                    EXPECT_EQ(MAPIAllocateMore(static_cast<ULONG>(std::strlen(entries[i][j].second) + 1), e.rgPropVals, &p),
                              S_OK);
                    std::strcpy(static_cast<char*>(p), entries[i][j].second);
                    e.rgPropVals[j].Value.lpszA = static_cast<LPSTR>(p);
                } else {
                    e.rgPropVals[j].Value.l = MAPI_CC;
                }
            }
        }
    }
    ~AdrList() { FreePadrlist(list); }
    std::string Get(ULONG entry, ULONG tag) const
    {
        const ADRENTRY& e = list->aEntries[entry];
        const SPropValue* v = PpropFindProp(e.rgPropVals, e.cValues, tag);
        if (!v) return "<missing>";
        if (PROP_TYPE(tag) == PT_STRING8) return v->Value.lpszA;
        if (PROP_TYPE(tag) == PT_BINARY) return std::string(reinterpret_cast<char*>(v->Value.bin.lpb), v->Value.bin.cb);
        return std::to_string(v->Value.l);
    }
    LPADRLIST list = nullptr;
};

TEST(AddressBook, OneOffEntryIdLayoutAndRoundTrip)
{
    auto book = Book();
    ULONG cb = 0;
    LPENTRYID eid = nullptr;
    ASSERT_EQ(book->CreateOneOff(S("Ann Example"), S("SMTP"), S("ann@example.org"), MAPI_SEND_NO_RICH_INFO, &cb, &eid),
              S_OK);
    const auto* b = reinterpret_cast<const BYTE*>(eid);
    const std::vector<BYTE> bytes(b, b + cb);
    std::vector<BYTE> expected(4, 0);
    expected.insert(expected.end(), std::begin(MAPI_ONE_OFF_UID), std::end(MAPI_ONE_OFF_UID));
    expected.insert(expected.end(), {0, 0, 0x01, 0x00});
    for (const char* s : {"Ann Example", "SMTP", "ann@example.org"}) expected.insert(expected.end(), s, s + std::strlen(s) + 1);
    EXPECT_EQ(bytes, expected);

    ULONG type = 0;
    ComPtr<IUnknown> unk;
    ASSERT_EQ(book->OpenEntry(cb, eid, nullptr, 0, &type, &unk), S_OK);
    EXPECT_EQ(type, MAPI_MAILUSER);
    ComPtr<IMailUser> user;
    ASSERT_EQ(unk.As(IID_IMailUser, user), S_OK);
    SizedSPropTagArray<6> tags{6, {PR_DISPLAY_NAME, PR_ADDRTYPE, PR_EMAIL_ADDRESS, PR_ENTRYID, PR_SEARCH_KEY,
                                   PR_SEND_RICH_INFO}};
    ULONG n = 0;
    LPSPropValue v = nullptr;
    ASSERT_EQ(user->GetProps(tags.AsTagArray(), 0, &n, &v), S_OK);
    EXPECT_STREQ(v[0].Value.lpszA, "Ann Example");
    EXPECT_STREQ(v[1].Value.lpszA, "SMTP");
    EXPECT_STREQ(v[2].Value.lpszA, "ann@example.org");
    EXPECT_EQ(std::vector<BYTE>(v[3].Value.bin.lpb, v[3].Value.bin.lpb + v[3].Value.bin.cb), bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v[4].Value.bin.lpb), v[4].Value.bin.cb),
              std::string("SMTP:ANN@EXAMPLE.ORG", 21));
    EXPECT_EQ(v[5].Value.b, 0);
    EXPECT_EQ(user->SetProps(1, v, nullptr), MAPI_E_NO_ACCESS);  // one-offs are read-only
    MAPIFreeBuffer(v);

    // Same type and address in another case: the same recipient.
    ULONG cb2 = 0;
    LPENTRYID eid2 = nullptr;
    ASSERT_EQ(book->CreateOneOff(S("Other name"), S("smtp"), S("ANN@example.org"), 0, &cb2, &eid2), S_OK);
    ULONG same = 0;
    ASSERT_EQ(book->CompareEntryIDs(cb, eid, cb2, eid2, 0, &same), S_OK);
    EXPECT_EQ(same, 1u);
    MAPIFreeBuffer(eid2);
    MAPIFreeBuffer(eid);

    EXPECT_EQ(book->CreateOneOff(S("x"), nullptr, S("a@b"), 0, &cb, &eid), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(book->CreateOneOff(S("x"), S("SMTP"), S("a@b"), MAPI_UNICODE, &cb, &eid), MAPI_E_BAD_CHARWIDTH);
}

TEST(AddressBook, DamagedEntryIdsAreRefused)
{
    const auto good = quillory::MakeOneOffEntryId(OneOffEntry{"N", "SMTP", "n@x.org", 0});
    ASSERT_TRUE(ParseOneOffEntryId(good));
    for (std::size_t len = 0; len < good.size(); ++len)
        EXPECT_FALSE(ParseOneOffEntryId(std::span<const BYTE>(good.data(), len))) << len;
    auto padded = good;
    padded.insert(padded.end(), {0, 0});
    EXPECT_TRUE(ParseOneOffEntryId(padded));
    padded.back() = 'x';
    EXPECT_FALSE(ParseOneOffEntryId(padded));
    for (std::size_t at : {0u, 4u, 19u, 20u}) {
        auto bad = good;
        bad[at] ^= 0x40;
        EXPECT_FALSE(ParseOneOffEntryId(bad)) << at;
    }
    EXPECT_FALSE(ParseOneOffEntryId(quillory::MakeOneOffEntryId(OneOffEntry{"N", "", "n@x.org", 0})));

    // A wide (UTF-16) one-off reads as 8-bit text.
    std::vector<BYTE> wide(good.begin(), good.begin() + 22);
    wide.insert(wide.end(), {0x00, 0x80});
    for (const char* s : {"W", "SMTP", "w@x.org"}) {
        for (const char* p = s; *p; ++p) wide.insert(wide.end(), {static_cast<BYTE>(*p), 0});
        wide.insert(wide.end(), {0, 0});
    }
    auto parsed = ParseOneOffEntryId(wide);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address, "w@x.org");

    auto book = Book();
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    std::vector<BYTE> junk(30, 7);
    EXPECT_EQ(book->OpenEntry(static_cast<ULONG>(junk.size()), reinterpret_cast<LPENTRYID>(junk.data()), nullptr, 0,
                              &type, &unk),
              MAPI_E_UNKNOWN_ENTRYID);
}

TEST(AddressBook, ResolveNameMakesOneOffsAndKeepsOtherValues)
{
    AdrList adr({
        {{PR_DISPLAY_NAME, "\"Bob Builder\" <bob@example.org>"}, {PR_RECIPIENT_TYPE, nullptr}},
        {{PR_DISPLAY_NAME, "carol@example.org"}},
        {{PR_DISPLAY_NAME, "[NNTP:comp.lang.c]"}},
        {{PR_ADDRTYPE, "SMTP"}, {PR_DISPLAY_NAME, "Dave"}, {PR_EMAIL_ADDRESS, "dave@example.org"}},
        {{PR_DISPLAY_NAME, "SMTP:erin@example.org"}},
    });
    auto book = Book();
    ASSERT_EQ(book->ResolveName(0, 0, nullptr, adr.list), S_OK);
    EXPECT_EQ(adr.Get(0, PR_DISPLAY_NAME), "Bob Builder");
    EXPECT_EQ(adr.Get(0, PR_EMAIL_ADDRESS), "bob@example.org");
    EXPECT_EQ(adr.Get(0, PR_RECIPIENT_TYPE), std::to_string(MAPI_CC));  // kept
    EXPECT_EQ(adr.Get(1, PR_DISPLAY_NAME), "carol@example.org");
    EXPECT_EQ(adr.Get(1, PR_ADDRTYPE), "SMTP");
    EXPECT_EQ(adr.Get(2, PR_ADDRTYPE), "NNTP");
    EXPECT_EQ(adr.Get(2, PR_EMAIL_ADDRESS), "comp.lang.c");
    EXPECT_EQ(adr.Get(3, PR_DISPLAY_NAME), "Dave");
    EXPECT_EQ(adr.Get(4, PR_EMAIL_ADDRESS), "erin@example.org");
    for (ULONG i = 0; i < 5; ++i) {
        EXPECT_EQ(adr.Get(i, PR_OBJECT_TYPE), std::to_string(MAPI_MAILUSER));
        const std::string eid = adr.Get(i, PR_ENTRYID);
        auto parsed = ParseOneOffEntryId(std::span(reinterpret_cast<const BYTE*>(eid.data()), eid.size()));
        ASSERT_TRUE(parsed) << i;
        EXPECT_EQ(parsed->address, adr.Get(i, PR_EMAIL_ADDRESS));
    }
    // Resolving again leaves resolved entries as they are.
    const std::string before = adr.Get(0, PR_ENTRYID);
    ASSERT_EQ(book->ResolveName(0, 0, nullptr, adr.list), S_OK);
    EXPECT_EQ(adr.Get(0, PR_ENTRYID), before);
}

TEST(AddressBook, UnresolvableAndAmbiguousNames)
{
    auto book = Book();
    {
        AdrList adr({{{PR_DISPLAY_NAME, "ok@example.org"}}, {{PR_DISPLAY_NAME, "Just A Name"}}});
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, adr.list), MAPI_E_NOT_FOUND);
        EXPECT_EQ(adr.Get(0, PR_ADDRTYPE), "SMTP");  // the good one is resolved all the same
        EXPECT_EQ(adr.Get(1, PR_ENTRYID), "<missing>");
    }
    {
        AdrList adr({{{PR_DISPLAY_NAME, "a@example.org, b@example.org"}}, {{PR_DISPLAY_NAME, "nobody"}}});
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, adr.list), MAPI_E_AMBIGUOUS_RECIP);
    }
    for (const char* bad : {"", "@x.org", "a@", "a b@x.org", "a@x..org", "Name <>", "<a@b", "[:x]", "[SMTP:nope]"}) {
        OneOffEntry entry;
        EXPECT_EQ(quillory::ResolveOneOffName(bad, &entry), MAPI_E_NOT_FOUND) << bad;
    }
    EXPECT_EQ(book->ResolveName(0, MAPI_UNICODE, nullptr, nullptr), MAPI_E_INVALID_PARAMETER);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/stream.h"

namespace quillory {
namespace {

TEST(Guid, FormatsAndParsesTheBracedForm)
{
    const GUID g = {0xFD853CE3, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
    EXPECT_EQ(GuidToString(g), "{FD853CE3-7F86-11D0-8252-00C04FD85AB4}");
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString("{fd853ce3-7f86-11d0-8252-00c04fd85ab4}", &parsed), S_OK);
    EXPECT_EQ(parsed, g);
    char buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);  // no room for the NUL
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
}

TEST(Guid, RejectsMalformedText)
{
    CLSID c{};
    for (const char* bad : {"", "{}", "FD853CE3-7F86-11D0-8252-00C04FD85AB4", "{FD853CE3-7F86-11D0-8252-00C04FD85AB}",
                            "{FD853CE3-7F86-11D0+8252-00C04FD85AB4}", "{FD853CE3-7F86-11D0-8252-00C04FD85AXY}"})
        EXPECT_EQ(CLSIDFromString(bad, &c), CO_E_CLASSSTRING) << bad;
    EXPECT_TRUE(ParseGuid("fd853ce3-7f86-11d0-8252-00c04fd85ab4").has_value());
}

TEST(Guid, NewGuidsAreDistinctVersion4)
{
    GUID a{}, b{};
    ASSERT_EQ(CoCreateGuid(&a), S_OK);
    ASSERT_EQ(CoCreateGuid(&b), S_OK);
    EXPECT_NE(GuidToString(a), GuidToString(b));
    EXPECT_EQ(a.Data3 >> 12, 4);
    EXPECT_EQ(a.Data4[0] & 0xC0, 0x80);
}

std::string ReadAll(IStream* s)
{
    std::string out;
    EXPECT_EQ(ReadWholeStream(s, out), S_OK);
    return out;
}

LARGE_INTEGER Offset(LONGLONG v)
{
    LARGE_INTEGER li;
    li.QuadPart = v;
    return li;
}

TEST(MemoryStream, WritesGrowReadsAndSeeksLikeAFile)
{
    ComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    std::string big(100000, 'x');
    for (int i = 0; i < 10; ++i) ASSERT_EQ(s->Write(big.data(), static_cast<ULONG>(big.size()), nullptr), S_OK);
    STATSTG st{};
    ASSERT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, 1000000u);

    ULARGE_INTEGER pos{};
    ASSERT_EQ(s->Seek(Offset(-4), STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 999996u);
    EXPECT_EQ(s->Seek(Offset(-1000001), STREAM_SEEK_END, nullptr), STG_E_INVALIDFUNCTION);

    // Writing past the end fills the gap with zeros.
    ASSERT_EQ(s->SetSize(ULARGE_INTEGER{{0, 0}}), S_OK);
    ASSERT_EQ(s->Seek(Offset(3), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(s->Write("ab", 2, nullptr), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), std::string("\0\0\0ab", 5));
}

TEST(MemoryStream, OverAnExistingBlockStartsWithItsBytesAndFreesItWithTheLastReference)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 5);
    std::memcpy(GlobalLock(block), "hello", 5);
    GlobalUnlock(block);
    ComPtr<IStream> s;
    ASSERT_EQ(CreateStreamOnHGlobal(block, TRUE, &s), S_OK);
    ComPtr<IStream> clone;
    ASSERT_EQ(s->Clone(&clone), S_OK);
    EXPECT_EQ(ReadAll(s.Get()), "hello");
    s.Reset();
    EXPECT_EQ(ReadAll(clone.Get()), "hello");  // the clone keeps the block alive
    HGLOBAL fromStream = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(clone.Get(), &fromStream), S_OK);
    EXPECT_EQ(fromStream, block);
    clone.Reset();
    EXPECT_EQ(GlobalFree(block), block);  // already freed: the handle is refused
}

TEST(MemoryStream, CopyToMovesTheRequestedBytesOnly)
{
    ComPtr<IStream> a, b;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &a), S_OK);
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &b), S_OK);
    std::string text(70000, 'q');
    text += "tail";
    a->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
    a->Seek(Offset(0), STREAM_SEEK_SET, nullptr);
    ULARGE_INTEGER want{}, read{}, written{};
    want.QuadPart = 70002;
    ASSERT_EQ(a->CopyTo(b.Get(), want, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 70002u);
    EXPECT_EQ(written.QuadPart, 70002u);
    EXPECT_EQ(ReadAll(b.Get()), text.substr(0, 70002));
}

TEST(FileStream, PersistsAndRefusesWritesWhenOpenedForReading)
{
    const auto dir = std::filesystem::temp_directory_path() / ("qcom-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = (dir / "article.msg").string();
    {
        ComPtr<IStream> s;
        ASSERT_EQ(SHCreateStreamOnFile(path.c_str(), STGM_READWRITE | STGM_CREATE, &s), S_OK);
        ASSERT_EQ(s->Write("Subject: x\r\n", 12, nullptr), S_OK);
        ASSERT_EQ(s->Commit(STGC_DEFAULT), S_OK);
    }
    ComPtr<IStream> r;
    ASSERT_EQ(SHCreateStreamOnFile(path.c_str(), STGM_READ, &r), S_OK);
    EXPECT_EQ(ReadAll(r.Get()), "Subject: x\r\n");
    ULONG n = 99;
    EXPECT_EQ(r->Write("y", 1, &n), STG_E_ACCESSDENIED);
    EXPECT_EQ(n, 0u);
    ComPtr<IStream> missing;
    EXPECT_EQ(SHCreateStreamOnFile((dir / "none").c_str(), STGM_READ, &missing), STG_E_FILENOTFOUND);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quillory

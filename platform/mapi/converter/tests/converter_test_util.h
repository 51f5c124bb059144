// A store message to convert into and out of, and a converter session made
// the way callers make it.
#pragma once

#include <string>

#include "platform/com/classfactory.h"
#include "platform/mapi/converter/converter.h"
#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {

class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        store_ = OpenStore(StorePath(home_));
        ASSERT_TRUE(store_);
        inbox_ = OpenInbox(store_.Get());
        ASSERT_TRUE(inbox_);
        ASSERT_EQ(CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, IID_IConverterSession,
                                   session_.AsVoidOut()),
                  S_OK);
    }

    ComPtr<IMessage> NewMessage()
    {
        ComPtr<IMessage> m;
        EXPECT_EQ(inbox_->CreateMessage(nullptr, 0, &m), S_OK);
        return m;
    }

    static ComPtr<IStream> StreamOf(const std::string& text)
    {
        ComPtr<IStream> s;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
        s->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
        LARGE_INTEGER zero{};
        s->Seek(zero, STREAM_SEEK_SET, nullptr);
        return s;
    }

    // An article converted into a new message, as delivery does it.
    ComPtr<IMessage> FromArticle(const std::string& article)
    {
        auto m = NewMessage();
        EXPECT_EQ(session_->MIMEToMAPI(StreamOf(article).Get(), m.Get(), nullptr, CCSF_SMTP), S_OK);
        return m;
    }

    std::string ToArticle(IMessage* m, ULONG flags)
    {
        ComPtr<IStream> s;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
        EXPECT_EQ(session_->MAPIToMIMEStm(m, s.Get(), flags), S_OK);
        std::string text;
        EXPECT_EQ(ReadWholeStream(s.Get(), text), S_OK);
        return text;
    }

    static void Set(IMessage* m, std::initializer_list<SPropValue> values)
    {
        std::vector<SPropValue> v(values);
        ASSERT_EQ(m->SetProps(static_cast<ULONG>(v.size()), v.data(), nullptr), S_OK);
    }

    TempHome home_;
    ComPtr<IMsgStore> store_;
    ComPtr<IMAPIFolder> inbox_;
    ComPtr<IConverterSession> session_;
};

}  // namespace quillory::testing

// A recording engine host and a fixture that brings an engine through its
// logon, for the tests that drive the protocol engine with scripted input.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/inetcomm/nntp/nntp_engine.h"

namespace quillory::nntp {

class CRecordingHost final : public IEngineHost {
public:
    void PipelineFailed() override { pipelineFailed = true; }
    void Send(std::string bytes) override { sent += bytes; }
    void Emit(NntpEvent event) override { events.push_back(std::move(event)); }
    void Close() override { closed = true; }
    void Log(bool outgoing, std::string_view line) override
    {
        log += (outgoing ? "> " : "< ") + std::string(line) + "\n";
    }

    // Sent text since the last call.
    std::string TakeSent() { return std::exchange(sent, {}); }
    std::vector<NntpEvent> TakeEvents() { return std::exchange(events, {}); }

    std::string sent;
    std::string log;
    std::vector<NntpEvent> events;
    bool closed = false;
    bool pipelineFailed = false;
};

inline std::vector<NntpEvent> Responses(std::vector<NntpEvent>& events)
{
    std::vector<NntpEvent> out;
    for (auto& e : events)
        if (e.kind == EventKind::Response) out.push_back(std::move(e));
    return out;
}

inline INETSERVER Server(const char* user = "", const char* password = "")
{
    INETSERVER s{};
    std::strcpy(s.szServerName, "news.test");
    std::strcpy(s.szUserName, user);
    std::strcpy(s.szPassword, password);
    return s;
}

class NntpEngine : public ::testing::Test {
protected:
    void Open(const INETSERVER& server, bool logging = false, bool pipelining = true)
    {
        engine_ = std::make_unique<CNntpEngine>(host_, server, true, logging, pipelining);
        engine_->OnTransportUp();
        engine_->Feed("200 news.test ready\r\n");
        ASSERT_EQ(host_.TakeSent(), "MODE READER\r\n");
    }
    void Connect(bool pipelining = true)
    {
        Open(Server(), false, pipelining);
        engine_->Feed("200 reader ready\r\n");
        auto events = host_.TakeEvents();
        auto responses = Responses(events);
        ASSERT_EQ(responses.size(), 1u);
        ASSERT_EQ(responses[0].block->State(), NS_CONNECT);
    }

    CRecordingHost host_;
    std::unique_ptr<CNntpEngine> engine_;
};

}  // namespace quillory::nntp

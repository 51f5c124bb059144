// Feeds arbitrary server output to the protocol engine: the first byte picks
// the command in flight (and how the input is cut into reads), the rest is
// what the server says after the logon. Checks that every response handed
// out is consistent with what its fields claim.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/inetcomm/nntp/nntp_engine.h"

namespace {

using namespace quillory::nntp;

class CSinkHost final : public IEngineHost {
public:
    void Send(std::string bytes) override { sent += bytes.size(); }
    void Emit(NntpEvent event) override
    {
        if (event.kind != EventKind::Response) return;
        const NNTPRESPONSE& r = event.block->Response();
        switch (r.state) {
        case NS_HEADERS:
            for (DWORD i = 0; i < r.rHeaders.cHeaders; ++i) {
                const NNTPHEADER& h = r.rHeaders.rgHeaders[i];
                if (!h.pszSubject || !h.pszFrom || !h.pszDate || !h.pszMessageId || !h.pszReferences)
                    std::abort();
                checksum += std::strlen(h.pszSubject) + h.dwArticleNum;
            }
            break;
        case NS_ARTICLE:
            if (r.rArticle.pszLines[r.rArticle.cbLines] != '\0') std::abort();
            break;
        case NS_LIST:
        case NS_NEWGROUPS:
            for (DWORD i = 0; i < r.rList.cLines; ++i) checksum += std::strlen(r.rList.rgszLines[i]);
            break;
        case NS_GROUP:
            if (r.rIxpResult.hrResult == S_OK && !r.rGroup.pszGroup) std::abort();
            break;
        default:
            break;
        }
    }
    void Close() override {}
    void Log(bool, std::string_view) override {}

    std::size_t sent = 0;
    std::size_t checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1) return 0;
    const std::uint8_t selector = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    INETSERVER server{};
    std::strcpy(server.szServerName, "fuzz");
    if (selector & 0x80) {
        std::strcpy(server.szUserName, "user");
        std::strcpy(server.szPassword, "pass");
    }
    CSinkHost host;
    CNntpEngine engine(host, server, true, (selector & 0x40) != 0);
    engine.OnTransportUp();
    engine.Feed("200 ready\r\n");

    switch (selector & 0x07) {
    case 0:
        engine.Enqueue(MakeGroupCommand("misc.test"));
        break;
    case 1:
        engine.Enqueue(MakeHeadersCommand(RANGE{RT_RANGE, 1, 100}));
        break;
    case 2: {
        ARTICLEID id{};
        id.idType = AID_ARTICLENUM;
        id.dwArticleNum = 7;
        engine.Enqueue(MakeArticleCommand(id));
        break;
    }
    case 3:
        engine.Enqueue(MakeListCommand("NEWSGROUPS"));
        break;
    case 4:
        engine.Enqueue(MakeNewgroupsCommand("20240101 000000", ""));
        break;
    case 5:
        engine.Enqueue(MakePostCommand("Subject: x\n\n.body\n"));
        break;
    default:
        engine.Enqueue(MakeGroupCommand("a"));
        engine.Enqueue(MakeHeadersCommand(RANGE{RT_OPEN, 1, 0}));
        engine.Quit();
        break;
    }

    // Cut the input into reads of a size the selector picks, as a socket would.
    const std::size_t step = ((selector >> 3) & 0x07) == 0 ? input.size() + 1 : ((selector >> 3) & 0x07);
    for (std::size_t pos = 0; pos < input.size() && !engine.Closed(); pos += step) {
        engine.Feed(input.substr(pos, step));
        if (!engine.Closed() && !engine.AwaitingData()) {
            // A logon prompt may be waiting: answer it once, alternately yes and no.
            engine.OnLogonAnswer((pos & 1) ? S_OK : S_FALSE, server);
        }
    }
    engine.OnEndOfStream();

    // The stand-alone parsers on every line as well.
    CLineSplitter lines;
    lines.Append(input);
    while (auto line = lines.Next()) {
        (void)ParseStatusLine(*line);
        (void)ParseOverviewLine(*line);
    }
    return 0;
}

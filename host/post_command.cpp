// `quillory post`: writes a post the way the mail client's add-in does and
// sends it through the profile's transports.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "host/commands.h"
#include "host/mapi_host.h"
#include "host/news_account.h"
#include "host/post_message.h"
#include "host/post_send.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/session.h"

namespace quillory::host {
namespace {

constexpr const char* kUsage = R"(usage:
  quillory post --profile P --account A --group G[,G...] --subject S
                [--in-reply-to ID] [--html FILE] [--attach FILE]... < body

  Puts the post into the profile's Outbox for the newsgroup account A (one
  newsgroup recipient per group), files a local copy in the first group's
  folder, and runs the send. The body is read from standard input.
)";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

bool ReadFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::vector<std::string> SplitGroups(std::string_view list)
{
    std::vector<std::string> groups;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        std::string_view g = list.substr(start, end - start);
        while (!g.empty() && g.front() == ' ') g.remove_prefix(1);
        while (!g.empty() && g.back() == ' ') g.remove_suffix(1);
        if (!g.empty()) groups.emplace_back(g);
        start = end + 1;
    }
    return groups;
}

// Line ends become CR LF, as message bodies keep them.
std::string WithCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int RunPostCommand(Args args)
{
    std::string profile, accountName, subject;
    PostRequest request;
    bool haveSubject = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view opt = args[i];
        if (i + 1 >= args.size()) return Usage();
        const std::string value(args[++i]);
        if (opt == "--profile") {
            profile = value;
        } else if (opt == "--account") {
            accountName = value;
        } else if (opt == "--group") {
            for (auto& g : SplitGroups(value)) request.groups.push_back(std::move(g));
        } else if (opt == "--subject") {
            request.subject = value;
            haveSubject = true;
        } else if (opt == "--in-reply-to") {
            request.inReplyTo = value;
        } else if (opt == "--html") {
            if (!ReadFile(value, request.html)) {
                std::fprintf(stderr, "quillory post: cannot read '%s'\n", value.c_str());
                return 1;
            }
        } else if (opt == "--attach") {
            PostRequest::Attachment a{BaseName(value), {}};
            if (!ReadFile(value, a.data)) {
                std::fprintf(stderr, "quillory post: cannot read '%s'\n", value.c_str());
                return 1;
            }
            request.attachments.push_back(std::move(a));
        } else {
            return Usage();
        }
    }
    if (profile.empty() || accountName.empty() || request.groups.empty() || !haveSubject) return Usage();
    std::ostringstream body;
    body << std::cin.rdbuf();
    request.body = WithCrLf(body.str());

    MapiInitScope mapi;
    if (FAILED(mapi.Result())) {
        std::fprintf(stderr, "quillory post: MAPI cannot be initialised (0x%08X)\n", static_cast<unsigned>(mapi.Result()));
        return 1;
    }
    NewsAccount account;
    std::string error;
    if (FAILED(FindNewsAccount(profile, accountName, account, error))) {
        std::fprintf(stderr, "quillory post: %s\n", error.c_str());
        return 1;
    }
    ComPtr<IMAPISession> session;
    if (const HRESULT hr = MAPILogonEx(0, profile.data(), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL,
                                       &session);
        FAILED(hr)) {
        const std::string why = ExplainWithoutObject(hr);
        std::fprintf(stderr, "quillory post: cannot log on to the profile '%s' (0x%08X)%s%s\n", profile.c_str(),
                     static_cast<unsigned>(hr), why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    int status = 0;
    if (FAILED(QueuePost(session.Get(), account, request, error))) {
        std::fprintf(stderr, "quillory post: %s\n", error.c_str());
        status = 1;
    } else {
        if (FAILED(FileLocalCopy(session.Get(), profile, account, request, error)))
            std::fprintf(stderr, "quillory post: no local copy: %s\n", error.c_str());
        status = SendQueuedPosts(session.Get());
    }
    session->Logoff(0, 0, 0);
    return status;
}

}  // namespace quillory::host

// `quillory headers` and `quillory mark`: the remote-header table of the
// profile's newsgroup transports, as a mail client reaches it: the spooler
// logs the transports on, each transport's status object offers its header
// folder, and the folder's contents table holds the rows waiting on the
// server. Marking a row for download asks the transport to process the table
// and runs the send and receive that downloads it.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/commands.h"
#include "host/header_flow.h"
#include "host/mapi_host.h"
#include "host/news_account.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapix.h"
#include "platform/mapi/session.h"
#include "platform/mapi/spooler/spooler.h"

namespace quillory::host {
namespace {

constexpr const char* kUsage = R"(usage:
  quillory headers --profile P [--account A]
  quillory mark --profile P [--account A] [--delete] ROW...

  headers  the article headers waiting on the news servers of the profile's
           newsgroup accounts, after a header refresh: row number,
           newsgroup:article, marks, subject (sender, date)
  mark     marks rows (by number, or as newsgroup:article) for download, or
           with --delete for removal from the table, then processes the
           marked rows at once: marks live only while the transport is logged
           on, so they are acted on in the same run
)";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

struct Options {
    std::string profile;
    std::string account;
    bool remove = false;
    std::vector<std::string> rows;
};

bool Parse(Args args, bool marking, Options& o)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if ((a == "--profile" || a == "--account") && i + 1 < args.size())
            (a == "--profile" ? o.profile : o.account) = std::string(args[++i]);
        else if (a == "--delete" && marking)
            o.remove = true;
        else if (marking && !a.starts_with("--"))
            o.rows.emplace_back(a);
        else
            return false;
    }
    return !o.profile.empty() && (!marking || !o.rows.empty());
}

int Fail(const char* command, const std::string& text)
{
    std::fprintf(stderr, "quillory %s: %s\n", command, text.c_str());
    return 1;
}

// A logged-on profile with its spooler and the header flow of its newsgroup
// transports (of one account when asked).
class HeaderSession {
public:
    int Open(const char* command, const Options& o)
    {
        if (FAILED(mapi_.Result())) return Fail(command, "MAPI cannot be initialised");
        std::optional<MAPIUID> service;
        if (!o.account.empty()) {
            NewsAccount account;
            std::string error;
            if (FAILED(FindNewsAccount(o.profile, o.account, account, error))) return Fail(command, error);
            service = account.ServiceUid();
        }
        std::string name = o.profile;
        HRESULT hr = MAPILogonEx(0, name.data(), nullptr,
                                 MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_NO_MAIL, &session_);
        if (FAILED(hr)) {
            const std::string why = ExplainWithoutObject(hr);
            return Fail(command, "cannot log on to profile '" + o.profile + "' (" + HexResult(hr) + ")" +
                                     (why.empty() ? "" : ": " + why));
        }
        spooler_ = std::make_unique<CSpooler>(session_.Get());
        std::string error;
        if (hr = spooler_->Start(&error); FAILED(hr))
            return Fail(command, "the transports cannot be started: " + error);
        flow_ = std::make_unique<CHeaderFlow>(*spooler_, service);
        if (!flow_->LogonProblem().empty()) return Fail(command, flow_->LogonProblem());
        if (flow_->Empty())
            return Fail(command, "no newsgroup transport of profile '" + o.profile + "' offers a header table");
        return 0;
    }

    ~HeaderSession()
    {
        flow_.reset();  // lets go of the status objects before their library is unloaded
        if (spooler_) spooler_->Stop();
        spooler_.reset();
        if (session_) session_->Logoff(0, 0, 0);
    }

    CHeaderFlow& Flow() { return *flow_; }

private:
    MapiInitScope mapi_;
    ComPtr<IMAPISession> session_;
    std::unique_ptr<CSpooler> spooler_;
    std::unique_ptr<CHeaderFlow> flow_;
};

}  // namespace

int RunHeadersCommand(Args args)
{
    Options o;
    if (!Parse(args, false, o)) return Usage();
    HeaderSession s;
    if (int rc = s.Open("headers", o)) return rc;
    // Headers not delivered before are offered again, since a transport
    // forgets them when it logs off.
    if (int rc = RunHeaderRequest(s.Flow(), "headers", REFRESH_XP_HEADER_CACHE)) return rc;
    return PrintHeaderRows(s.Flow(), "headers");
}

int RunMarkCommand(Args args)
{
    Options o;
    if (!Parse(args, true, o)) return Usage();
    HeaderSession s;
    if (int rc = s.Open("mark", o)) return rc;
    if (int rc = RunHeaderRequest(s.Flow(), "mark", REFRESH_XP_HEADER_CACHE)) return rc;

    // Rows are numbered across the folders as `quillory headers` numbers them.
    std::vector<HeaderFlowRow> rows;
    if (const HRESULT hr = s.Flow().Rows(rows); FAILED(hr))
        return Fail("mark", "the header tables cannot be read (" + HexResult(hr) + ")");
    std::vector<const HeaderFlowRow*> chosen;
    for (const auto& spec : o.rows) {
        const HeaderFlowRow* found = FindHeaderRow(rows, spec);
        if (!found) return Fail("mark", "no header row " + spec + " (nothing was marked)");
        chosen.push_back(found);
    }
    // A download is a retrieval, as a mail client marks it: the transport
    // drops the row once the article is filed. A download mark alone keeps
    // the row marked, and the transport would fetch it again and again.
    const ULONG bits = o.remove ? MSGSTATUS_REMOTE_DELETE : MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE;
    for (const HeaderFlowRow* row : chosen) {
        const std::string name = row->group + ":" + std::to_string(row->article);
        if (const HRESULT hr = s.Flow().Mark(*row, bits); FAILED(hr))
            return Fail("mark", "row " + name + " cannot be marked (" + HexResult(hr) + ")");
        std::printf("marked %s for %s\n", name.c_str(), o.remove ? "removal" : "download");
    }
    // Marks live only while the transport is logged on: processed now.
    if (int rc = RunHeaderRequest(s.Flow(), "mark", PROCESS_XP_HEADER_CACHE)) return rc;
    std::printf("%zu row%s processed\n", chosen.size(), chosen.size() == 1 ? "" : "s");
    return 0;
}

}  // namespace quillory::host

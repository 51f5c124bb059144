// `quillory headers` and `quillory mark`: the remote-header table of the
// profile's newsgroup transports, as a mail client reaches it: the spooler
// logs the transports on, each transport's status object offers its header
// folder, and the folder's contents table holds the rows waiting on the
// server. Marking a row for download asks the transport to process the table
// and runs the send and receive that downloads it.
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/commands.h"
#include "host/news_account.h"
#include "host/store_threads.h"
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
           newsgroup accounts (after a send and receive fetched them): row
           number, newsgroup:article, marks, date, sender, subject
  mark     marks rows (by number, or as newsgroup:article) for download, or
           with --delete for removal from the table, then processes the
           marked rows at once: marks live only while the transport is logged
           on, so they are acted on in the same run
)";

constexpr ULONG kBatchRows = 256;
constexpr std::size_t kArticleNumberBytes = 4;

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

// One row of a header table.
struct HeaderRow {
    std::vector<BYTE> entryId;
    std::string group;
    ULONG article = 0;
    ULONG status = 0;
    ThreadEntry shown;
};

// "group:number" from the row's entry ID: number (little-endian), message-id
// and NUL, group and NUL.
void DecodeEntryId(HeaderRow& row)
{
    const auto& b = row.entryId;
    if (b.size() < kArticleNumberBytes + 1) return;
    row.article = static_cast<ULONG>(b[0]) | static_cast<ULONG>(b[1]) << 8 | static_cast<ULONG>(b[2]) << 16 |
                  static_cast<ULONG>(b[3]) << 24;
    const auto idEnd = std::find(b.begin() + kArticleNumberBytes, b.end(), BYTE{0});
    if (idEnd == b.end()) return;
    const auto groupEnd = std::find(idEnd + 1, b.end(), BYTE{0});
    row.group.assign(idEnd + 1, groupEnd);
}

HRESULT ReadRows(IMAPIFolder* folder, std::vector<HeaderRow>& out)
{
    enum { kEntryId, kSubject, kSender, kSubmitted, kStatus, kColumns };
    SizedSPropTagArray<kColumns> columns = {
        kColumns, {PR_ENTRYID, PR_SUBJECT, PR_SENDER_NAME, PR_CLIENT_SUBMIT_TIME, PR_MSG_STATUS}};
    ComPtr<IMAPITable> table;
    HRESULT hr = folder->GetContentsTable(0, &table);
    if (SUCCEEDED(hr)) hr = table->SetColumns(columns.AsTagArray(), 0);
    if (FAILED(hr)) return hr;
    for (;;) {
        RowSetPtr rows;
        if (hr = table->QueryRows(kBatchRows, 0, &rows); FAILED(hr)) return hr;
        if (!rows || rows->cRows == 0) return S_OK;
        for (ULONG r = 0; r < rows->cRows; ++r) {
            const SRow& row = rows->aRow[r];
            if (row.cValues < kColumns || row.lpProps[kEntryId].ulPropTag != PR_ENTRYID) continue;
            const SPropValue* v = row.lpProps;
            HeaderRow h;
            h.entryId.assign(v[kEntryId].Value.bin.lpb, v[kEntryId].Value.bin.lpb + v[kEntryId].Value.bin.cb);
            DecodeEntryId(h);
            if (v[kSubject].ulPropTag == PR_SUBJECT) h.shown.subject = v[kSubject].Value.lpszA;
            if (v[kSender].ulPropTag == PR_SENDER_NAME) h.shown.sender = v[kSender].Value.lpszA;
            if (v[kSubmitted].ulPropTag == PR_CLIENT_SUBMIT_TIME) h.shown.date = v[kSubmitted].Value.ft;
            if (v[kStatus].ulPropTag == PR_MSG_STATUS) h.status = v[kStatus].Value.ul;
            out.push_back(std::move(h));
        }
    }
}

std::string Marks(ULONG status)
{
    std::string m;
    if (status & MSGSTATUS_REMOTE_DOWNLOAD) m += "download";
    if (status & MSGSTATUS_REMOTE_DELETE) m += m.empty() ? "delete" : "+delete";
    return m.empty() ? "-" : m;
}

// A logged-on profile with its spooler and the header folders of its
// newsgroup transports (those whose status object offers one).
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
        if (FAILED(hr)) return Fail(command, "cannot log on to profile '" + o.profile + "' (" + HexResult(hr) + ")");
        spooler_ = std::make_unique<CSpooler>(session_.Get());
        std::string error;
        if (hr = spooler_->Start(&error); FAILED(hr))
            return Fail(command, "the transports cannot be started: " + error);
        const auto& transports = spooler_->Transports();
        for (std::size_t i = 0; i < transports.size(); ++i) {
            const SpoolerTransport& t = transports[i];
            if (service && std::memcmp(&t.service, &*service, sizeof(MAPIUID)) != 0) continue;
            if (!t.logon) {
                if (service) return Fail(command, "the account's transport did not log on: " + t.logonError);
                continue;
            }
            ComPtr<IMAPIStatus> status;
            ComPtr<IMAPIFolder> folder;
            if (FAILED(spooler_->OpenStatus(i, status)) || FAILED(status.As(IID_IMAPIFolder, folder))) continue;
            folders_.push_back({t.display, status, folder});
        }
        if (folders_.empty())
            return Fail(command, "no newsgroup transport of profile '" + o.profile + "' offers a header table");
        return 0;
    }

    ~HeaderSession()
    {
        folders_.clear();
        if (spooler_) spooler_->Stop();
        spooler_.reset();
        if (session_) session_->Logoff(0, 0, 0);
    }

    struct Folder {
        std::string transport;
        ComPtr<IMAPIStatus> status;
        ComPtr<IMAPIFolder> folder;
    };
    std::vector<Folder>& Folders() { return folders_; }

    // A header refresh as a mail client asks for one: the request, the send
    // and receive that fetches the headers, and the request again for the
    // outcome. Headers not delivered before are offered again, since a
    // transport forgets them when it logs off.
    int Refresh(const char* command)
    {
        for (auto& f : folders_) f.status->ValidateState(0, REFRESH_XP_HEADER_CACHE);
        SpoolerPassResult pass;
        if (const HRESULT hr = spooler_->RunInboundPass(&pass); FAILED(hr))
            return Fail(command, "the header refresh failed (" + HexResult(hr) + ")");
        for (const auto& p : pass.problems) std::fprintf(stderr, "quillory %s: %s\n", command, p.c_str());
        int rc = 0;
        for (auto& f : folders_) {
            const HRESULT result = f.status->ValidateState(0, REFRESH_XP_HEADER_CACHE);
            if (FAILED(result) && result != MAPI_E_BUSY) {
                std::fprintf(stderr, "quillory %s: %s: the header refresh failed (%s)\n", command,
                             f.transport.c_str(), HexResult(result).c_str());
                rc = 1;
            }
        }
        return rc;
    }
    CSpooler& Spooler() { return *spooler_; }

private:
    MapiInitScope mapi_;
    ComPtr<IMAPISession> session_;
    std::unique_ptr<CSpooler> spooler_;
    std::vector<Folder> folders_;
};

std::string RowLine(std::size_t number, const HeaderRow& r)
{
    const std::string shown = FormatThreadLine(r.shown, 0);
    char head[64];
    std::snprintf(head, sizeof head, "%zu\t", number);
    return head + r.group + ":" + std::to_string(r.article) + "\t" + Marks(r.status) + "\t" + shown;
}

}  // namespace

int RunHeadersCommand(Args args)
{
    Options o;
    if (!Parse(args, false, o)) return Usage();
    HeaderSession s;
    if (int rc = s.Open("headers", o)) return rc;
    if (int rc = s.Refresh("headers")) return rc;
    std::size_t number = 0;
    for (auto& f : s.Folders()) {
        std::vector<HeaderRow> rows;
        if (const HRESULT hr = ReadRows(f.folder.Get(), rows); FAILED(hr))
            return Fail("headers", "the header table of " + f.transport + " cannot be read (" + HexResult(hr) + ")");
        if (rows.empty()) std::printf("%s: no headers waiting (a send and receive fetches them)\n", f.transport.c_str());
        for (const auto& r : rows) std::printf("%s\n", RowLine(++number, r).c_str());
    }
    return 0;
}

int RunMarkCommand(Args args)
{
    Options o;
    if (!Parse(args, true, o)) return Usage();
    HeaderSession s;
    if (int rc = s.Open("mark", o)) return rc;
    if (int rc = s.Refresh("mark")) return rc;

    // Rows are numbered across the folders as `quillory headers` numbers them.
    struct Target {
        HeaderSession::Folder* folder;
        HeaderRow row;
    };
    std::vector<Target> all;
    for (auto& f : s.Folders()) {
        std::vector<HeaderRow> rows;
        if (const HRESULT hr = ReadRows(f.folder.Get(), rows); FAILED(hr))
            return Fail("mark", "the header table of " + f.transport + " cannot be read (" + HexResult(hr) + ")");
        for (auto& r : rows) all.push_back({&f, std::move(r)});
    }
    std::vector<Target*> chosen;
    for (const auto& spec : o.rows) {
        Target* found = nullptr;
        const auto colon = spec.rfind(':');
        for (std::size_t i = 0; i < all.size() && !found; ++i) {
            const HeaderRow& r = all[i].row;
            if (colon == std::string::npos ? spec == std::to_string(i + 1)
                                           : spec == r.group + ":" + std::to_string(r.article))
                found = &all[i];
        }
        if (!found) return Fail("mark", "no header row " + spec + " (nothing was marked)");
        chosen.push_back(found);
    }
    // A download is a retrieval, as a mail client marks it: the transport
    // drops the row once the article is filed. A download mark alone keeps
    // the row marked, and the transport would fetch it again and again.
    const ULONG bit = o.remove ? MSGSTATUS_REMOTE_DELETE : MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE;
    for (Target* t : chosen) {
        ULONG old = 0;
        const HRESULT hr = t->folder->folder->SetMessageStatus(
            static_cast<ULONG>(t->row.entryId.size()), reinterpret_cast<LPENTRYID>(t->row.entryId.data()), bit, bit,
            &old);
        if (FAILED(hr)) return Fail("mark", "row " + t->row.group + ":" + std::to_string(t->row.article) +
                                                " cannot be marked (" + HexResult(hr) + ")");
        std::printf("marked %s:%lu for %s\n", t->row.group.c_str(), static_cast<unsigned long>(t->row.article),
                    o.remove ? "removal" : "download");
    }

    // Processing as a mail client asks for it: the request, the send and
    // receive that does the work, and the request again for the outcome.
    int rc = 0;
    for (auto& f : s.Folders()) f.status->ValidateState(0, PROCESS_XP_HEADER_CACHE);
    SpoolerPassResult pass;
    if (const HRESULT hr = s.Spooler().RunInboundPass(&pass); FAILED(hr))
        return Fail("mark", "the send and receive failed (" + HexResult(hr) + ")");
    for (const auto& p : pass.problems) std::fprintf(stderr, "quillory mark: %s\n", p.c_str());
    for (auto& f : s.Folders()) {
        const HRESULT result = f.status->ValidateState(0, PROCESS_XP_HEADER_CACHE);
        if (FAILED(result) && result != MAPI_E_BUSY) {
            std::fprintf(stderr, "quillory mark: %s: processing failed (%s)\n", f.transport.c_str(),
                         HexResult(result).c_str());
            rc = 1;
        }
    }
    if (rc == 0) std::printf("%zu row%s processed\n", chosen.size(), chosen.size() == 1 ? "" : "s");
    return rc;
}

}  // namespace quillory::host

// Delivering downloaded articles into a message store: 5,000 articles (plain
// ones, answers threaded under earlier ones, every tenth with an encoded
// subject and a base64 attachment) filed through DeliverArticle as the logon
// files them: group folder found or made, MIME to MAPI conversion, the news
// properties, conversation topic and index, SaveChanges. Prints articles per
// second (target: 2,000 or more) and the peak memory (ru_maxrss).
//
// Build in Release (see README, Benchmarks), then:
//   build-rel/bin/delivery_bench [articles]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/account_props.h"
#include "platform/com/com_ptr.h"
#include "platform/com/stream.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/proputil.h"
#include "provider/delivery/deliver_article.h"
#include "provider/folder/header_entryid.h"

namespace {

using namespace quillory;
using namespace quillory::quarnex;
using Clock = std::chrono::steady_clock;

constexpr int kGroups = 5;

std::string MessageId(int n) { return "<a" + std::to_string(n) + "@bench.quillory.test>"; }

std::string ArticleText(int n)
{
    std::string refs;
    if (n % 4 != 0) {  // three of four answer the article before them
        refs = "References: " + MessageId(n - 1) + "\r\nIn-Reply-To: " + MessageId(n - 1) + "\r\n";
    }
    const std::string subject = n % 10 == 0 ? "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_" + std::to_string(n) + "?="
                                            : (n % 4 ? "Re: Topic " : "Topic ") + std::to_string(n - n % 4);
    std::string head = "From: Poster " + std::to_string(n % 97) + " <p" + std::to_string(n % 97) +
                       "@bench.test>\r\nNewsgroups: bench.group" + std::to_string(n % kGroups) +
                       "\r\nSubject: " + subject + "\r\nDate: Mon, 7 Dec 2026 12:00:00 +0000\r\nMessage-ID: " +
                       MessageId(n) + "\r\n" + refs;
    std::string body;
    for (int line = 0; line < 20; ++line)
        body += "Line " + std::to_string(line) + " of the article body, long enough to be a sentence or two.\r\n";
    if (n % 10 != 0) return head + "\r\n" + body;
    return head +
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\n\r\n" +
           body +
           "--b\r\nContent-Type: application/octet-stream; name=\"f.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\r\n--b--\r\n";
}

std::vector<BYTE> BinaryOf(IMAPIProp* obj, ULONG tag)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(obj, tag, &v))) std::exit(1);
    return {v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb};
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace quillory;
    using namespace quillory::quarnex;
    const int articles = argc > 1 ? std::max(10, std::atoi(argv[1])) : 5000;
    const auto root = std::filesystem::temp_directory_path() / ("quillory-delivery-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(root);
    setenv("QUILLORY_HOME", root.c_str(), 1);
    if (!std::getenv("QUILLORY_LIBPATH")) {
        const auto lib = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "lib";
        setenv("QUILLORY_LIBPATH", lib.c_str(), 1);
    }
    {
        MAPIUID uid{};
        uid.ab[0] = 0xDE;
        ComPtr<IMsgStore> store;
        if (FAILED(OpenMessageStore(root / "store.db", uid, "Bench", 0, &store))) return 1;
        const std::vector<BYTE> rootId = BinaryOf(store.Get(), PR_IPM_SUBTREE_ENTRYID);
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        if (FAILED(store->OpenEntry(static_cast<ULONG>(rootId.size()), reinterpret_cast<LPENTRYID>(
                                        const_cast<BYTE*>(rootId.data())),
                                    nullptr, MAPI_MODIFY, &type, &unk)))
            return 1;
        ComPtr<IMAPIFolder> top(static_cast<IMAPIFolder*>(unk.Get()));
        ComPtr<IMAPIFolder> base;
        if (FAILED(top->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Newsgroups"), nullptr, nullptr, 0, &base)))
            return 1;
        const std::vector<BYTE> baseId = BinaryOf(base.Get(), PR_ENTRYID);

        std::vector<SPropValue> account(acct::kCount);
        for (int i = 0; i < acct::kCount; ++i) {
            account[i].ulPropTag = CHANGE_PROP_TYPE(acct::kTags[i], PT_ERROR);
            account[i].Value.err = MAPI_E_NOT_FOUND;
        }
        auto text = [&](acct::Index i, const char* s) {
            account[i].ulPropTag = acct::kTags[i];
            account[i].Value.lpszA = const_cast<LPSTR>(s);
        };
        text(acct::kUserName, "Bench Reader");
        text(acct::kAccountName, "bench");
        text(acct::kEmailAddress, "reader@bench.test");

        DeliveryTarget target;
        target.baseStore = store.Get();
        target.baseFolderEntryId = baseId;
        target.accountProps = account.data();
        int confirmed = 0, failed = 0;
        target.confirm = [&confirmed](ULONG, std::string_view) { ++confirmed; };

        // The texts are made first, so that only the delivery is timed.
        std::vector<std::string> streams;
        streams.reserve(articles);
        for (int n = 1; n <= articles; ++n) {
            const std::string group = "bench.group" + std::to_string(n % kGroups);
            streams.push_back("X-Corvane-Newsgroup: " + group + "\r\nX-Corvane-Article: " + std::to_string(n) +
                              "\r\n" + ArticleText(n));
        }
        const auto start = Clock::now();
        for (int n = 1; n <= articles; ++n) {
            const std::string& s = streams[n - 1];
            ComPtr<IStream> stream;
            if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return 1;
            stream->Write(s.data(), static_cast<ULONG>(s.size()), nullptr);
            const auto eid = MakeHeaderEntryId(static_cast<ULONG>(n), MessageId(n), "bench.group" + std::to_string(n % kGroups));
            SBinary bin{static_cast<ULONG>(eid.size()), const_cast<BYTE*>(eid.data())};
            if (FAILED(DeliverArticle(stream.Get(), &bin, nullptr, target))) ++failed;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("delivered %d articles (%d failed, %d confirmed) in %.2f s: %.0f articles/s (target 2000 or more); "
                    "peak memory %ld MB (ru_maxrss)\n",
                    articles - failed, failed, confirmed, seconds, (articles - failed) / seconds,
                    static_cast<long>(usage.ru_maxrss / 1024));
        if (failed) return 1;
    }
    std::filesystem::remove_all(root);
    return 0;
}

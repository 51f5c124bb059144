#include "host/store_threads.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/base/time.h"
#include "platform/inetcomm/mime/mime_services.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"

namespace quillory::host {
namespace {

constexpr ULONG kBatchRows = 256;
constexpr int kIndentPerLevel = 2;
// The header's bytes 1-5 are the high bytes of the thread's start time.
constexpr std::size_t kHeaderTimeOffset = 1;
constexpr std::size_t kHeaderTimeBytes = 5;

std::string Key(const std::vector<BYTE>& bytes) { return {bytes.begin(), bytes.end()}; }

bool WellFormed(const std::vector<BYTE>& index)
{
    return index.size() >= kConversationHeaderSize &&
           (index.size() - kConversationHeaderSize) % kConversationChildSize == 0;
}

// When the thread started: the message's own date, else the index header's
// time, else nothing (sorted first).
ULONGLONG StartTime(const ThreadEntry& e)
{
    if (e.date) return FileTimeToUInt64(*e.date);
    if (!WellFormed(e.index)) return 0;
    ULONGLONG t = 0;
    for (std::size_t i = 0; i < kHeaderTimeBytes; ++i) t = (t << 8) | e.index[kHeaderTimeOffset + i];
    return t << 24;
}

// Byte order of two indexes, a prefix first. (Spelled out: GCC 12's Release
// build warns about the bound of the memcmp in vector's own operator<.)
bool IndexLess(const std::vector<BYTE>& a, const std::vector<BYTE>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    return c != 0 ? c < 0 : a.size() < b.size();
}

}  // namespace

std::string SystemTextToUtf8(std::string_view text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    const iconv_t cd = iconv_open("UTF-8", kSystemCodePageCharset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    // Every byte of the code page becomes at most three bytes of UTF-8.
    std::string out(text.size() * 3, '\0');
    std::string in(text);
    char* src = in.data();
    char* dst = out.data();
    std::size_t left = in.size(), room = out.size();
    while (left > 0 && iconv(cd, &src, &left, &dst, &room) == static_cast<std::size_t>(-1)) {
        // A byte the code page leaves undefined passes through as it is.
        if (room == 0) break;
        *dst++ = *src++;
        --left;
        --room;
    }
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

std::vector<ThreadLine> ArrangeThreads(const std::vector<ThreadEntry>& entries)
{
    const std::size_t n = entries.size();
    std::unordered_map<std::string, std::size_t> byIndex;
    for (std::size_t i = 0; i < n; ++i)
        if (WellFormed(entries[i].index)) byIndex.emplace(Key(entries[i].index), i);

    std::vector<std::vector<std::size_t>> children(n);
    std::vector<std::size_t> roots;
    for (std::size_t i = 0; i < n; ++i) {
        const auto& index = entries[i].index;
        std::size_t parent = n;
        if (WellFormed(index)) {
            for (std::size_t len = index.size(); parent == n && len > kConversationHeaderSize;) {
                len -= kConversationChildSize;
                const auto it = byIndex.find(std::string(index.begin(), index.begin() + static_cast<long>(len)));
                if (it != byIndex.end() && it->second != i) parent = it->second;
            }
        }
        (parent == n ? roots : children[parent]).push_back(i);
    }

    std::sort(roots.begin(), roots.end(), [&](std::size_t a, std::size_t b) {
        const ULONGLONG ta = StartTime(entries[a]), tb = StartTime(entries[b]);
        return ta != tb ? ta < tb : a < b;
    });
    for (auto& c : children)
        std::stable_sort(c.begin(), c.end(),
                         [&](std::size_t a, std::size_t b) { return IndexLess(entries[a].index, entries[b].index); });

    std::vector<ThreadLine> out;
    out.reserve(n);
    // Iterative walk: a thread can be deeper than the stack would like.
    std::vector<std::pair<std::size_t, int>> stack;
    for (auto r = roots.rbegin(); r != roots.rend(); ++r) stack.emplace_back(*r, 0);
    while (!stack.empty()) {
        const auto [i, depth] = stack.back();
        stack.pop_back();
        out.push_back({&entries[i], depth});
        for (auto c = children[i].rbegin(); c != children[i].rend(); ++c) stack.emplace_back(*c, depth + 1);
    }
    return out;
}

std::string FormatThreadLine(const ThreadEntry& entry, int depth)
{
    std::string date = "no date";
    SYSTEMTIME st{};
    if (entry.date && FileTimeToSystemTime(&*entry.date, &st)) {
        char text[48];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u UTC", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute);
        date = text;
    }
    std::string line(static_cast<std::size_t>(depth * kIndentPerLevel), ' ');
    line += entry.subject.empty() ? "(no subject)" : SystemTextToUtf8(entry.subject);
    line += "  (";
    line += entry.sender.empty() ? "(no sender)" : SystemTextToUtf8(entry.sender);
    line += ", " + date + ")";
    return line;
}

HRESULT ReadThreadEntries(IMAPIFolder* folder, std::vector<ThreadEntry>& out)
{
    enum { kSubject, kSender, kSentAs, kSubmitted, kDelivered, kIndex, kColumns };
    SizedSPropTagArray<kColumns> columns = {kColumns,
                                            {PR_SUBJECT, PR_SENDER_NAME, PR_SENT_REPRESENTING_NAME,
                                             PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME, PR_CONVERSATION_INDEX}};
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
            if (row.cValues < kColumns) continue;
            const SPropValue* v = row.lpProps;
            ThreadEntry e;
            if (v[kSubject].ulPropTag == PR_SUBJECT) e.subject = v[kSubject].Value.lpszA;
            if (v[kSender].ulPropTag == PR_SENDER_NAME) e.sender = v[kSender].Value.lpszA;
            if (e.sender.empty() && v[kSentAs].ulPropTag == PR_SENT_REPRESENTING_NAME)
                e.sender = v[kSentAs].Value.lpszA;
            if (v[kSubmitted].ulPropTag == PR_CLIENT_SUBMIT_TIME)
                e.date = v[kSubmitted].Value.ft;
            else if (v[kDelivered].ulPropTag == PR_MESSAGE_DELIVERY_TIME)
                e.date = v[kDelivered].Value.ft;
            if (v[kIndex].ulPropTag == PR_CONVERSATION_INDEX)
                e.index.assign(v[kIndex].Value.bin.lpb, v[kIndex].Value.bin.lpb + v[kIndex].Value.bin.cb);
            out.push_back(std::move(e));
        }
    }
}

}  // namespace quillory::host

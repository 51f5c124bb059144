// AddRow: one remote-header row from an article's header fields.
#include "provider/folder/header_row.h"

#include <strings.h>

#include "platform/base/module.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/inetcomm/mime/mime_services.h"
#include "provider/entry/module_state.h"
#include "provider/folder/header_entryid.h"

namespace quillory::quarnex {

namespace {

constexpr std::string_view kSubjectPrefixes[] = {"Re", "Fw", "Fwd"};

bool IsSubjectPrefix(std::string_view word)
{
    for (std::string_view p : kSubjectPrefixes)
        if (word.size() == p.size() && strncasecmp(word.data(), p.data(), p.size()) == 0) return true;
    return false;
}

std::string CutToField(std::string_view text) { return std::string(text.substr(0, kSenderFieldSize - 1)); }

FILETIME Now()
{
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return ft;
}

SPropValue Long(ULONG tag, ULONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ul = value;
    return v;
}

SPropValue Text(ULONG tag, const std::string& text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<LPSTR>(text.c_str());
    return v;
}

SPropValue Binary(ULONG tag, std::span<BYTE> bytes)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    v.Value.bin.lpb = bytes.data();
    return v;
}

SPropValue Time(ULONG tag, FILETIME ft)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ft = ft;
    return v;
}

}  // namespace

std::string_view NormalizedSubject(std::string_view subject)
{
    for (;;) {
        const std::size_t colon = subject.find(':');
        if (colon == std::string_view::npos || colon < 2 || colon > 3 || !IsSubjectPrefix(subject.substr(0, colon)))
            return subject;
        subject.remove_prefix(colon + 1);
        while (!subject.empty() && subject.front() == ' ') subject.remove_prefix(1);
    }
}

HeaderParse ParseHeaderFields(std::string_view from, std::string_view date, CHeaderFieldReader& reader)
{
    HeaderParse out;
    std::optional<HeaderSender> sender;
    std::optional<FILETIME> submitted;
    reader.Read(from, date, sender, submitted);
    if (sender) {
        out.sender.name = CutToField(sender->name);
        out.sender.address = CutToField(sender->address);
    } else {
        out.sender.name = CutToField(from);
    }
    out.submitTime = submitted ? *submitted : Now();
    return out;
}

HRESULT CMAPIFolder::AddRow(std::string_view group, ULONG articleNumber, std::string_view messageId,
                            std::string_view subject, std::string_view from, std::string_view date)
{
    if (TraceEnabled()) {
        const std::string g(group), id(messageId);
        Trace("CMAPIFolder::AddRow(%s,%i,%s,...) -- new rows count will %i\n", g.c_str(),
              static_cast<int>(articleNumber), id.c_str(), static_cast<int>(RowCount() + 1));
    }
    const auto alloc = ModuleAllocators();
    void* head = nullptr;
    if (const SCODE sc = alloc.allocateBuffer(kHeaderRowColumnCount * sizeof(SPropValue), &head); FAILED(sc))
        return sc;
    struct Free {
        LPFREEBUFFER free;
        void* p;
        ~Free() { free(p); }
    } freeValues{alloc.freeBuffer, head};
    auto* props = static_cast<LPSPropValue>(head);

    std::vector<BYTE> entryId = MakeHeaderEntryId(articleNumber, messageId, group);
    const HeaderParse parsed = ParseHeaderFields(from, date, fieldReader_);
    const std::string groupText(group), subjectText(subject), normalized(NormalizedSubject(subject));
    const std::string addrType(kHeaderRowAddrType), messageClass(kHeaderRowMessageClass);
    BYTE instanceKey[kInstanceKeySize] = {};
    const DWORD tick = GetTickCount();
    for (int i = 0; i < 4; ++i) instanceKey[i] = static_cast<BYTE>(tick >> (8 * i));
    const ULONG status = logon_ && logon_->DownloadRequested() ? kHeaderRowMarked : 0;

    props[0] = Binary(PR_ENTRYID, entryId);
    props[1] = Text(PR_SENDER_NAME, parsed.sender.name);
    props[2] = Text(PR_SENDER_ADDRTYPE, addrType);
    props[3] = Text(PR_SENDER_EMAIL_ADDRESS, parsed.sender.address);
    props[4] = Text(PR_SENT_REPRESENTING_NAME, parsed.sender.name);
    props[5] = Text(PR_DISPLAY_TO, groupText);
    props[6] = Time(PR_CLIENT_SUBMIT_TIME, parsed.submitTime);
    props[7] = Text(PR_SUBJECT, subjectText);
    props[8] = Text(PR_MESSAGE_CLASS, messageClass);
    props[9] = Long(PR_MESSAGE_FLAGS, 0);
    props[10] = Long(PR_SENSITIVITY, 0);
    props[11] = Time(PR_MESSAGE_DELIVERY_TIME, Now());
    props[12] = Long(PR_MSG_STATUS, status);
    props[13] = Long(PR_MESSAGE_DOWNLOAD_TIME_ERROR, 0);
    props[14] = Long(PR_OBJECT_TYPE, MAPI_MESSAGE);
    props[15] = Binary(PR_INSTANCE_KEY, instanceKey);
    props[16] = Text(PR_NORMALIZED_SUBJECT, normalized);

    if (!table_) return E_FAIL;
    SRow row{0, kHeaderRowColumnCount, props};
    const HRESULT hr = table_->HrModifyRow(&row);
    // Only a row that made it into the table counts as offered; otherwise
    // the header would never be offered again.
    if (SUCCEEDED(hr)) cache_.Add(articleNumber, messageId, group, false);
    StampChangeTime();
    return hr;
}

}  // namespace quillory::quarnex

// RFC 5322 address lists, on GMime's parser.
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/classfactory.h"
#include "platform/inetcomm/mime/charsets.h"
#include "platform/inetcomm/mime/gmime_support.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace {

struct Mailbox {
    std::string name;
    std::string email;
};

// Mailboxes in order, the members of groups in their place.
void Flatten(InternetAddressList* list, std::vector<Mailbox>& out)
{
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(a)) {
            Flatten(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)), out);
            continue;
        }
        if (!INTERNET_ADDRESS_IS_MAILBOX(a)) continue;
        const char* name = internet_address_get_name(a);
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
        if (!addr || !*addr) continue;
        out.push_back({name ? quillory::mime::Utf8ToSystem(name) : std::string(), addr});
    }
}

}  // namespace

extern "C" HRESULT MimeOleParseRfc822Address(DWORD dwAdrType, ENCODINGTYPE, LPCSTR pszRfc822Adr, LPADDRESSLIST pList)
{
    if (!pList) return E_INVALIDARG;
    pList->cAdrs = 0;
    pList->prgAdr = nullptr;
    if (!pszRfc822Adr) return E_INVALIDARG;
    quillory::mime::EnsureGMime();
    // 8-bit names are taken as the system code page, as every string of the system is.
    const std::string utf8 = quillory::mime::SystemToUtf8(pszRfc822Adr);
    quillory::mime::GPtr<InternetAddressList> list(internet_address_list_parse(nullptr, utf8.c_str()));
    std::vector<Mailbox> boxes;
    if (list) Flatten(list.get(), boxes);
    if (boxes.empty()) return MIME_E_NO_DATA;

    auto* entries = static_cast<ADDRESSPROPS*>(CoTaskMemAlloc(sizeof(ADDRESSPROPS) * boxes.size()));
    if (!entries) return E_OUTOFMEMORY;
    std::memset(entries, 0, sizeof(ADDRESSPROPS) * boxes.size());
    pList->prgAdr = entries;
    const HCHARSET system = quillory::mime::HandleOf(&quillory::mime::SystemCharset());
    for (const auto& box : boxes) {
        ADDRESSPROPS& e = entries[pList->cAdrs++];
        e.dwAdrType = dwAdrType;
        e.ietFriendly = IET_DECODED;
        e.hCharset = system;
        e.pszFriendly = quillory::mime::TaskMemString(box.name);
        e.pszEmail = quillory::mime::TaskMemString(box.email);
        if (!e.pszFriendly || !e.pszEmail) {
            IMimeAllocator* allocator = nullptr;
            MimeOleGetAllocator(&allocator);
            allocator->FreeAddressList(pList);
            allocator->Release();
            return E_OUTOFMEMORY;
        }
        e.dwProps = IAP_ADRTYPE | IAP_ENCODING | IAP_CHARSET | IAP_FRIENDLY | IAP_EMAIL;
    }
    return S_OK;
}

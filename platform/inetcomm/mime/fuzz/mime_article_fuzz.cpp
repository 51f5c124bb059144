// Articles off the wire: loaded into the MIME message object, their bodies
// and header rows read, and saved again; the From, Date and Subject texts
// through the address parser, the date parser and the RFC 2047 decoder.
#include <cstdint>
#include <string>

#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "platform/inetcomm/mime/mime_services.h"

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

namespace {

quillory::ComPtr<IStream> StreamOf(const uint8_t* data, size_t size)
{
    quillory::ComPtr<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    s->Write(data, static_cast<ULONG>(size), nullptr);
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

void ParseField(const std::string& text)
{
    if (text.rfind("From: ", 0) == 0) {
        ADDRESSLIST list{};
        if (SUCCEEDED(MimeOleParseRfc822Address(IAT_FROM, IET_8BIT, text.c_str() + 6, &list))) {
            IMimeAllocator* allocator = nullptr;
            MimeOleGetAllocator(&allocator);
            allocator->FreeAddressList(&list);
            allocator->Release();
        }
    } else if (text.rfind("Date: ", 0) == 0) {
        FILETIME ft{};
        MimeOleInetDateToFileTime(text.c_str() + 6, &ft);
    } else if (text.rfind("Subject: ", 0) == 0) {
        IMimeInternational* intl = nullptr;
        MimeOleGetInternat(&intl);
        char charset[250];
        char* decoded = nullptr;
        if (SUCCEEDED(intl->Rfc1522Decode(text.c_str() + 9, charset, sizeof(charset), &decoded))) {
            HCHARSET h = nullptr;
            INETCSETINFO info{};
            if (SUCCEEDED(intl->FindCharset(charset, &h)) && SUCCEEDED(intl->GetCharsetInfo(h, &info))) {
                BLOB in{static_cast<ULONG>(std::string(decoded).size()), reinterpret_cast<BYTE*>(decoded)};
                BLOB out{};
                if (SUCCEEDED(intl->ConvertBuffer(info.cpiInternet, info.cpiWindows, &in, &out, nullptr)))
                    CoTaskMemFree(out.pBlobData);
            }
            CoTaskMemFree(decoded);
        }
        intl->Release();
    }
}

void EditHeader(IMimeMessage* m)
{
    quillory::ComPtr<IMimeHeaderTable> table;
    if (FAILED(m->BindToObject(HBODY_ROOT, IID_IMimeHeaderTable, table.AsVoidOut()))) return;
    FINDHEADER find{nullptr, 0};
    HHEADERROW row = nullptr;
    for (HRESULT hr = table->FindFirst(&find, &row); SUCCEEDED(hr); hr = table->FindNext(&find, &row)) {
        char* value = nullptr;
        if (SUCCEEDED(table->GetRowData(row, HTF_NAMEINDATA, &value, nullptr))) {
            ParseField(value);
            CoTaskMemFree(value);
        }
    }
    table->AppendRow("Newsgroups", 0, "a.b", 0, nullptr);
    find = {"To", 0};
    if (SUCCEEDED(table->FindFirst(&find, &row))) table->DeleteRow(row);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Straight from the module: the fuzzer must not touch any registry.
    quillory::ComPtr<IClassFactory> factory;
    if (FAILED(DllGetClassObject(CLSID_IMimeMessage, IID_IClassFactory, factory.AsVoidOut()))) return 0;
    quillory::ComPtr<IMimeMessage> m;
    if (FAILED(factory->CreateInstance(nullptr, IID_IMimeMessage, m.AsVoidOut()))) return 0;
    if (FAILED(m->Load(StreamOf(data, size).Get()))) return 0;
    EditHeader(m.Get());
    for (DWORD type : {TXT_PLAIN, TXT_HTML}) {
        quillory::ComPtr<IStream> body;
        m->GetTextBody(type, IET_INETCSET, &body, nullptr);
    }
    ULONG bodies = 0;
    m->CountBodies(HBODY_ROOT, TRUE, &bodies);
    quillory::ComPtr<IStream> source;
    m->GetMessageSource(&source, 0);
    return 0;
}

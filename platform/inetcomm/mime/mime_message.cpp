// The MIME message object and its root header table, over a GMimeMessage.
#include <cstring>
#include <string>

#include "platform/com/classfactory.h"
#include "platform/com/refcounted.h"
#include "platform/com/stream.h"
#include "platform/inetcomm/mime/charsets.h"
#include "platform/inetcomm/mime/gmime_support.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace quillory::mime {
namespace {

HHEADERROW RowOf(GMimeHeader* h) { return reinterpret_cast<HHEADERROW>(h); }

// The value as it stands, folding undone and outer blanks removed.
std::string Unfolded(const char* raw)
{
    std::string out;
    for (const char* p = raw ? raw : ""; *p; ++p)
        if (*p != '\r' && *p != '\n') out.push_back(*p);
    const auto first = out.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    out.erase(0, first);
    out.erase(out.find_last_not_of(" \t") + 1);
    return out;
}

// A field name is printable ASCII without ':' (RFC 5322 2.2).
bool IsFieldName(const char* name)
{
    if (!name || !*name) return false;
    for (const char* p = name; *p; ++p)
        if (static_cast<unsigned char>(*p) < 33 || static_cast<unsigned char>(*p) > 126 || *p == ':') return false;
    return true;
}

// The value as UTF-8 on one line: a CR or LF inside it would end the field
// and let the rest pose as fields (or as the body) of its own.
std::string FieldValue(LPCSTR data, ULONG cchData)
{
    std::string value = SystemToUtf8(std::string_view(data, cchData ? cchData : std::strlen(data)));
    for (auto& c : value)
        if (c == '\r' || c == '\n') c = ' ';
    return value;
}

class CMimeHeaderTable final : public IMimeHeaderTable, public CRefCounted {
public:
    // Keeps the object (and so its message) alive while the table lives.
    CMimeHeaderTable(IUnknown* owner, GMimeObject* object) : owner_(owner), object_(object) { owner_->AddRef(); }
    ~CMimeHeaderTable() override { owner_->Release(); }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMimeHeaderTable, this}});
    }

    HRESULT FindFirst(LPFINDHEADER find, LPHHEADERROW phRow) override
    {
        if (!find) return E_INVALIDARG;
        find->dwReserved = 0;
        return FindNext(find, phRow);
    }
    HRESULT FindNext(LPFINDHEADER find, LPHHEADERROW phRow) override
    {
        if (!find || !phRow) return E_INVALIDARG;
        *phRow = nullptr;
        GMimeHeaderList* list = Headers();
        const int n = g_mime_header_list_get_count(list);
        for (int i = static_cast<int>(find->dwReserved); i < n; ++i) {
            GMimeHeader* h = g_mime_header_list_get_header_at(list, i);
            if (!find->pszHeader || g_ascii_strcasecmp(g_mime_header_get_name(h), find->pszHeader) == 0) {
                find->dwReserved = static_cast<DWORD>(i + 1);
                *phRow = RowOf(h);
                return S_OK;
            }
        }
        find->dwReserved = static_cast<DWORD>(n);
        return MIME_E_NOT_FOUND;
    }
    HRESULT GetCount(ULONG* pcRows) override
    {
        if (!pcRows) return E_INVALIDARG;
        *pcRows = static_cast<ULONG>(g_mime_header_list_get_count(Headers()));
        return S_OK;
    }
    HRESULT AppendRow(LPCSTR name, DWORD, LPCSTR data, ULONG cchData, LPHHEADERROW phRow) override
    {
        if (phRow) *phRow = nullptr;
        if (!IsFieldName(name) || !data) return E_INVALIDARG;
        const std::string utf8 = FieldValue(data, cchData);
        g_mime_object_append_header(object_, name, utf8.c_str(), nullptr);
        GMimeHeaderList* list = Headers();
        const int n = g_mime_header_list_get_count(list);
        if (phRow && n > 0) *phRow = RowOf(g_mime_header_list_get_header_at(list, n - 1));
        return S_OK;
    }
    HRESULT DeleteRow(HHEADERROW hRow) override
    {
        const int index = IndexOf(hRow);
        if (index < 0) return MIME_E_INVALID_HANDLE;
        GMimeHeaderList* list = Headers();
        // Through the object, so that a message drops its parsed copy of the field too.
        const std::string name = g_mime_header_get_name(g_mime_header_list_get_header_at(list, index));
        int sameNameBefore = 0;
        for (int i = 0; i < index; ++i)
            if (g_ascii_strcasecmp(g_mime_header_get_name(g_mime_header_list_get_header_at(list, i)), name.c_str()) == 0)
                ++sameNameBefore;
        if (sameNameBefore == 0) {
            g_mime_object_remove_header(object_, name.c_str());
        } else {
            g_mime_header_list_remove_at(list, index);
        }
        return S_OK;
    }
    HRESULT GetRowData(HHEADERROW hRow, DWORD dwFlags, LPSTR* ppszData, ULONG* pcchData) override
    {
        if (ppszData) *ppszData = nullptr;
        if (!ppszData) return E_INVALIDARG;
        const int index = IndexOf(hRow);
        if (index < 0) return MIME_E_INVALID_HANDLE;
        GMimeHeader* h = g_mime_header_list_get_header_at(Headers(), index);
        std::string value = Unfolded(g_mime_header_get_raw_value(h));
        if (dwFlags & HTF_NAMEINDATA) value = std::string(g_mime_header_get_name(h)) + ": " + value;
        *ppszData = TaskMemString(value);
        if (!*ppszData) return E_OUTOFMEMORY;
        if (pcchData) *pcchData = static_cast<ULONG>(value.size());
        return S_OK;
    }
    HRESULT SetRowData(HHEADERROW hRow, DWORD, LPCSTR data, ULONG cchData) override
    {
        if (!data) return E_INVALIDARG;
        const int index = IndexOf(hRow);
        if (index < 0) return MIME_E_INVALID_HANDLE;
        GMimeHeader* h = g_mime_header_list_get_header_at(Headers(), index);
        const std::string utf8 = FieldValue(data, cchData);
        // Through the object for the first of its name, so parsed fields follow.
        const char* name = g_mime_header_get_name(h);
        if (g_mime_header_list_get_header(Headers(), name) == h) {
            const std::string copy = name;
            g_mime_object_set_header(object_, copy.c_str(), utf8.c_str(), nullptr);
        } else {
            g_mime_header_set_value(h, nullptr, utf8.c_str(), nullptr);
        }
        return S_OK;
    }

private:
    GMimeHeaderList* Headers() const { return g_mime_object_get_header_list(object_); }
    int IndexOf(HHEADERROW hRow) const
    {
        GMimeHeaderList* list = Headers();
        const int n = g_mime_header_list_get_count(list);
        for (int i = 0; i < n; ++i)
            if (RowOf(g_mime_header_list_get_header_at(list, i)) == hRow) return i;
        return -1;
    }

    IUnknown* owner_;
    GMimeObject* object_;
};

bool IsTextOf(GMimeObject* part, DWORD type)
{
    if (!GMIME_IS_TEXT_PART(part)) return false;
    if (g_mime_part_is_attachment(GMIME_PART(part))) return false;
    GMimeContentType* ct = g_mime_object_get_content_type(part);
    return g_mime_content_type_is_type(ct, "text", type == TXT_HTML ? "html" : "plain");
}

class CMimeMessage final : public IMimeMessage, public CRefCounted {
public:
    CMimeMessage() { EnsureGMime(); InitNew(); }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMimeMessage, this}});
    }

    HRESULT GetClassID(CLSID* pClassID) override
    {
        if (!pClassID) return E_POINTER;
        *pClassID = CLSID_IMimeMessage;
        return S_OK;
    }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream* pStm) override
    {
        if (!pStm) return E_INVALIDARG;
        std::string text;
        const HRESULT hr = ReadRest(pStm, text);
        if (FAILED(hr)) return hr;
        auto parsed = ParseMessage(text);
        if (!parsed || g_mime_header_list_get_count(g_mime_object_get_header_list(GMIME_OBJECT(parsed.get()))) == 0)
            return MIME_E_INVALID_MESSAGE;
        message_ = std::move(parsed);
        return S_OK;
    }
    HRESULT Save(IStream* pStm, BOOL) override
    {
        if (!pStm) return E_INVALIDARG;
        const std::string text = WriteObject(GMIME_OBJECT(message_.get()));
        ULONG written = 0;
        const HRESULT hr = pStm->Write(text.data(), static_cast<ULONG>(text.size()), &written);
        if (FAILED(hr)) return hr;
        return written == text.size() ? S_OK : STG_E_MEDIUMFULL;
    }
    HRESULT GetSizeMax(ULARGE_INTEGER* pcbSize) override
    {
        if (!pcbSize) return E_POINTER;
        pcbSize->QuadPart = WriteObject(GMIME_OBJECT(message_.get())).size();
        return S_OK;
    }
    HRESULT InitNew() override
    {
        message_.reset(g_mime_message_new(TRUE));
        return S_OK;
    }

    HRESULT GetMessageSource(IStream** ppStream, DWORD) override
    {
        if (!ppStream) return E_INVALIDARG;
        *ppStream = nullptr;
        IStream* stream = nullptr;
        HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        if (FAILED(hr)) return hr;
        hr = Save(stream, FALSE);
        LARGE_INTEGER zero{};
        if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr)) {
            stream->Release();
            return hr;
        }
        *ppStream = stream;
        return S_OK;
    }
    HRESULT GetMessageSize(ULONG* pcbSize, DWORD) override
    {
        if (!pcbSize) return E_INVALIDARG;
        *pcbSize = static_cast<ULONG>(WriteObject(GMIME_OBJECT(message_.get())).size());
        return S_OK;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT BindToObject(HBODY hBody, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (hBody != HBODY_ROOT) return MIME_E_INVALID_HANDLE;
        if (!IsEqualIID(riid, IID_IMimeHeaderTable)) return E_NOINTERFACE;
        *ppv = static_cast<IMimeHeaderTable*>(
            NewComObject<CMimeHeaderTable>(static_cast<IMimeMessage*>(this), GMIME_OBJECT(message_.get())));
        return S_OK;
    }
    HRESULT CountBodies(HBODY hBody, BOOL fRecurse, ULONG* pcBodies) override
    {
        if (!pcBodies) return E_INVALIDARG;
        if (hBody != HBODY_ROOT) return MIME_E_INVALID_HANDLE;
        GMimeObject* root = g_mime_message_get_mime_part(message_.get());
        ULONG count = 1;  // the root body
        if (root && GMIME_IS_MULTIPART(root)) {
            if (fRecurse) {
                GMimePartIter* iter = g_mime_part_iter_new(root);
                if (g_mime_part_iter_is_valid(iter)) {
                    do ++count;
                    while (g_mime_part_iter_next(iter));
                }
                g_mime_part_iter_free(iter);
            } else {
                count += static_cast<ULONG>(g_mime_multipart_get_count(GMIME_MULTIPART(root)));
            }
        }
        *pcBodies = count;
        return S_OK;
    }
    HRESULT GetTextBody(DWORD type, ENCODINGTYPE encoding, IStream** ppStream, LPHBODY phBody) override
    {
        if (ppStream) *ppStream = nullptr;
        if (phBody) *phBody = nullptr;
        if (type != TXT_PLAIN && type != TXT_HTML) return E_INVALIDARG;
        if (encoding != IET_DECODED && encoding != IET_INETCSET) return E_INVALIDARG;
        GMimeObject* found = FindText(type);
        if (!found) return MIME_E_NOT_FOUND;
        if (phBody) *phBody = reinterpret_cast<HBODY>(found);
        if (!ppStream) return S_OK;
        std::string text = DecodedContent(GMIME_PART(found));
        if (encoding == IET_INETCSET) {
            const char* charset = g_mime_object_get_content_type_parameter(found, "charset");
            const CharsetEntry* entry = charset ? FindCharsetByName(charset) : nullptr;
            if (entry) {
                if (auto converted = ConvertText(text, entry->iconvName, SystemCharset().iconvName))
                    text = std::move(converted->text);
            }
        }
        IStream* stream = nullptr;
        HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        if (FAILED(hr)) return hr;
        hr = stream->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
        LARGE_INTEGER zero{};
        if (SUCCEEDED(hr)) hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr)) {
            stream->Release();
            return hr;
        }
        *ppStream = stream;
        return S_OK;
    }

private:
    GMimeObject* FindText(DWORD type) const
    {
        GMimeObject* root = g_mime_message_get_mime_part(message_.get());
        if (!root) return nullptr;
        if (!GMIME_IS_MULTIPART(root)) return IsTextOf(root, type) ? root : nullptr;
        GMimeObject* found = nullptr;
        GMimePartIter* iter = g_mime_part_iter_new(root);
        if (g_mime_part_iter_is_valid(iter)) {
            do {
                GMimeObject* part = g_mime_part_iter_get_current(iter);
                if (IsTextOf(part, type)) {
                    found = part;
                    break;
                }
            } while (g_mime_part_iter_next(iter));
        }
        g_mime_part_iter_free(iter);
        return found;
    }

    static std::string DecodedContent(GMimePart* part)
    {
        GMimeDataWrapper* content = g_mime_part_get_content(part);
        if (!content) return {};
        GPtr<GMimeStream> out(g_mime_stream_mem_new());
        g_mime_data_wrapper_write_to_stream(content, out.get());
        GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
        return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
    }

    GPtr<GMimeMessage> message_;
};

HRESULT CreateMimeMessage(REFIID riid, void** ppv)
{
    auto* object = NewComObject<CMimeMessage>();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace
}  // namespace quillory::mime

// The classes this module serves to CoCreateInstance.
extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_IMimeMessage)) return CLASS_E_CLASSNOTAVAILABLE;
    return quillory::CreateSimpleClassFactory(quillory::mime::CreateMimeMessage, riid, ppv);
}

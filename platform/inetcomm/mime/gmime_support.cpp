#include "platform/inetcomm/mime/gmime_support.h"

#include <cstring>
#include <mutex>

#include "platform/com/classfactory.h"

namespace quillory::mime {

void EnsureGMime()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

GPtr<GMimeMessage> ParseMessage(std::string_view text)
{
    EnsureGMime();
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    return GPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

std::string WriteObject(GMimeObject* object)
{
    GPtr<GMimeStream> stream(g_mime_stream_mem_new());
    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    g_mime_object_write_to_stream(object, options, stream.get());
    g_mime_format_options_free(options);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

char* TaskMemString(std::string_view text)
{
    auto* p = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (!p) return nullptr;
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
}

HRESULT ReadRest(IStream* stream, std::string& out)
{
    out.clear();
    char buffer[16384];
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(buffer, sizeof(buffer), &got);
        if (FAILED(hr)) return hr;
        out.append(buffer, got);
        if (got == 0) return S_OK;
    }
}

}  // namespace quillory::mime

#include "sedgewynd/text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/base/trace.h"

namespace quillory::sedgewynd {
namespace {

constexpr char kAnsiCodePage[] = "WINDOWS-1252";
constexpr char kUtf16[] = "UTF-16LE";

// One conversion descriptor for the lifetime of a call.
class CIconv {
public:
    CIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~CIconv()
    {
        if (ok()) iconv_close(cd_);
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted, or nothing when any of it does not convert.
    std::optional<std::string> Convert(std::string_view in)
    {
        std::string out(in.size() * 2 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::size_t done = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + done;
            std::size_t dstLeft = out.size() - done;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            done = out.size() - dstLeft;
            if (r != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ: not representable or malformed; EINVAL: cut off inside
            // a character (an odd byte or a lone high surrogate at the end).
            Trace("sedgewynd: text conversion failed at byte %zu: %s\n", in.size() - srcLeft, std::strerror(errno));
            return std::nullopt;
        }
        out.resize(done);
        return out;
    }

private:
    iconv_t cd_;
};

std::optional<std::string> Run(const char* to, const char* from, std::string_view in)
{
    CIconv conv(to, from);
    if (!conv.ok()) {
        Trace("sedgewynd: no conversion from %s to %s: %s\n", from, to, std::strerror(errno));
        return std::nullopt;
    }
    return conv.Convert(in);
}

}  // namespace

std::optional<std::string> Utf16ToAnsi(std::string_view utf16le)
{
    if (utf16le.size() % 2 != 0) return std::nullopt;
    return Run(kAnsiCodePage, kUtf16, utf16le);
}

std::optional<std::string> AnsiToUtf16(std::string_view ansi) { return Run(kUtf16, kAnsiCodePage, ansi); }

}  // namespace quillory::sedgewynd

#include "provider/downloader/subject_decoder.h"

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/com/classfactory.h"

#include <cstring>

namespace quillory::quarnex {
namespace {

constexpr const char* kInetcommModule = "inetcomm.dll";
constexpr const char* kGetInternatExport = "MimeOleGetInternat";
using PfnGetInternat = HRESULT (*)(IMimeInternational**);

// Frees component memory when it goes out of scope.
struct TaskMem {
    void* p = nullptr;
    ~TaskMem()
    {
        if (p) CoTaskMemFree(p);
    }
};

}  // namespace

CSubjectDecoder::~CSubjectDecoder()
{
    internat_.Reset();
    if (module_) FreeLibrary(module_);
}

bool CSubjectDecoder::Load()
{
    if (internat_) return true;
    if (!module_) module_ = LoadLibrary(kInetcommModule);
    if (!module_) return false;
    const auto get = reinterpret_cast<PfnGetInternat>(GetProcAddress(module_, kGetInternatExport));
    if (!get || FAILED(get(&internat_)) || !internat_) {
        Trace("CSubjectDecoder::Load -- no international services\n");
        internat_.Reset();
        FreeLibrary(module_);
        module_ = nullptr;
        return false;
    }
    return true;
}

std::string CSubjectDecoder::Decode(std::string_view raw) const
{
    if (!internat_) return std::string(raw);
    const std::string value(raw);
    char charset[kDecodeCharsetBufferSize] = "";
    TaskMem decoded;
    LPSTR text = nullptr;
    if (FAILED(internat_->Rfc1522Decode(value.c_str(), charset, sizeof charset, &text)) || !text) {
        if (text) CoTaskMemFree(text);
        return value;
    }
    decoded.p = text;
    std::string result(text);
    if (result.empty()) return value;

    HCHARSET handle = nullptr;
    INETCSETINFO info{};
    if (SUCCEEDED(internat_->FindCharset(charset, &handle)) && SUCCEEDED(internat_->GetCharsetInfo(handle, &info)) &&
        info.cpiWindows != info.cpiInternet) {
        BLOB in{static_cast<ULONG>(result.size() + 1), reinterpret_cast<BYTE*>(result.data())};
        BLOB out{};
        if (SUCCEEDED(internat_->ConvertBuffer(info.cpiInternet, info.cpiWindows, &in, &out, nullptr)) &&
            out.pBlobData) {
            TaskMem converted{out.pBlobData};
            const char* bytes = reinterpret_cast<const char*>(out.pBlobData);
            return std::string(bytes, strnlen(bytes, out.cbSize));
        }
    }
    return result;
}

}  // namespace quillory::quarnex

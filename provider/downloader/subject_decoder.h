// Subject decoding for header rows through the news component's
// international services (a second load of "inetcomm.dll", kept while the
// downloader lives): RFC 2047 words are decoded and the text converted from
// its character set's Internet code page to its Windows code page.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/com/com_ptr.h"
#include "platform/inetcomm/mime/mime_services.h"

#include <string>
#include <string_view>

namespace quillory::quarnex {

// Size of the character-set name buffer handed to the decoder.
constexpr ULONG kDecodeCharsetBufferSize = 250;

class CSubjectDecoder {
public:
    CSubjectDecoder() = default;
    ~CSubjectDecoder();
    CSubjectDecoder(const CSubjectDecoder&) = delete;
    CSubjectDecoder& operator=(const CSubjectDecoder&) = delete;

    // Loads the services unless loaded; false when they cannot be had.
    bool Load();
    bool Loaded() const { return static_cast<bool>(internat_); }

    // The decoded subject; the raw one when the services are not loaded, the
    // decoding fails or gives an empty text.
    std::string Decode(std::string_view raw) const;

private:
    HMODULE module_ = nullptr;
    ComPtr<IMimeInternational> internat_;
};

}  // namespace quillory::quarnex

// Compressed RTF comes from whatever message a user or another program
// saved: decompression must stay inside its buffers for any bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "provider/posting/rtf_text.h"
#include "provider/posting/submit_post.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto text = quillory::quarnex::DecompressRtf(std::span<const BYTE>(data, size), 65536);
    if (text) (void)quillory::quarnex::BodyKindOfRtf(*text);
    return 0;
}

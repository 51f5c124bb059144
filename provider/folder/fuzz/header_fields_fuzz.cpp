// The quick From and Date readers of header rows against the news component:
// for every text a quick reader accepts, the component must read the same
// sender or the same time. The input is a From text, a line feed and a Date
// text (without a line feed, both are the whole input).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/base/time.h"
#include "provider/folder/header_fields.h"

using namespace quillory;
using namespace quillory::quarnex;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The component lies in the build's lib/ beside bin/.
    const auto lib = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "lib";
    setenv("QUILLORY_LIBPATH", lib.c_str(), 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const CNewsComponentReaders component;
    if (!component.Loaded()) std::abort();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));  // the texts reach the readers as C strings
    const std::size_t lf = text.find('\n');
    const std::string_view from = lf == std::string_view::npos ? text : text.substr(0, lf);
    const std::string_view date = lf == std::string_view::npos ? text : text.substr(lf + 1);
    if (const auto quick = QuickSender(from)) {
        const auto full = component.Sender(from);
        if (!full || !(*full == *quick)) std::abort();
    }
    if (const auto quick = QuickDate(date)) {
        const auto full = component.Date(date);
        if (!full || FileTimeToUInt64(*full) != FileTimeToUInt64(*quick)) std::abort();
    }
    return 0;
}

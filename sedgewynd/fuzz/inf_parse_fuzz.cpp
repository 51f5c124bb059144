// Fuzz target for the INF document reader: any input either is refused or
// reads into a document whose written form reads back to the same text; a
// merge into it stays within the bounds; UTF-16 text that converts to the
// code page converts back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sedgewynd/inf_document.h"
#include "sedgewynd/inf_merge.h"
#include "sedgewynd/text_codec.h"

namespace {

using namespace quillory::sedgewynd;

const char kConfig[] =
    "[Sedgewynd]\r\nTargetFile=MAPISVC.INF\r\n"
    "[Services]\r\nCorvane=Tarnel NNTP Transport\r\n"
    "[Corvane]\r\nPR_DISPLAY_NAME=Tarnel NNTP Transport\r\nProviders=QUARNEX_XPP\r\n"
    "[QUARNEX_XPP]\r\nPR_PROVIDER_DLL_NAME=quarnex.dll\r\n";

void Check(bool ok)
{
    if (!ok) __builtin_trap();
}

// The written text of a document must read back as itself.
void CheckStable(const std::string& written)
{
    CInfDocument again(InfKind::Target);
    Check(again.Parse(written) == InfStatus::Ok);
    Check(again.Write() == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const CInfDocument config = [] {
        CInfDocument c(InfKind::Configuration);
        c.Parse(kConfig);
        return c;
    }();
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    CInfDocument doc(InfKind::Target);
    if (doc.Parse(text) == InfStatus::Ok) {
        const std::string once = doc.Write();
        CheckStable(once);
        if (MergeDocument(doc, config, {MergeMode::Install, true})) {
            CheckStable(doc.Write());
            Check(MergeDocument(doc, config, {MergeMode::Remove, true}));
            CheckStable(doc.Write());
        }
    }

    // A configuration may hold more sections; what it writes is still a
    // document, though its comments are skipped when read as configuration.
    CInfDocument asConfig(InfKind::Configuration);
    if (asConfig.Parse(text) == InfStatus::Ok) {
        CInfDocument target(InfKind::Target);
        const InfStatus s = target.Parse(asConfig.Write());
        Check(s == InfStatus::Ok || s == InfStatus::TooManySections);
    }

    if (const auto ansi = Utf16ToAnsi(text)) {
        const auto back = AnsiToUtf16(*ansi);
        Check(back && *back == text);
    }
    return 0;
}

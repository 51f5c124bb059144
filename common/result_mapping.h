// The mapping of NNTP results before they are reported to the mail client.
// Two main-key registry values steer it: "SetLastError" (when present, every
// failing result is replaced by its value, for testing the client's error
// handling) and "DisableMapping" (1 reports the NNTP component's own codes).
#pragma once

#include "platform/base/winerror.h"
#include "platform/mapi/mapicode.h"

namespace quillory {

// Results of the NNTP component all have these bits set.
constexpr HRESULT kNntpResultFamily = static_cast<HRESULT>(0x800CCC00);

// NNTP component results that the mapping knows, named by their code.
constexpr HRESULT IXP_E_CC04 = static_cast<HRESULT>(0x800CCC04);
constexpr HRESULT IXP_E_CC05 = static_cast<HRESULT>(0x800CCC05);
constexpr HRESULT IXP_E_CC06 = static_cast<HRESULT>(0x800CCC06);
constexpr HRESULT IXP_E_CC09 = static_cast<HRESULT>(0x800CCC09);
constexpr HRESULT IXP_E_CC0D = static_cast<HRESULT>(0x800CCC0D);
constexpr HRESULT IXP_E_CC0E = static_cast<HRESULT>(0x800CCC0E);
constexpr HRESULT IXP_E_CC0F = static_cast<HRESULT>(0x800CCC0F);
constexpr HRESULT IXP_E_CC10 = static_cast<HRESULT>(0x800CCC10);
constexpr HRESULT IXP_E_CC11 = static_cast<HRESULT>(0x800CCC11);
constexpr HRESULT IXP_E_CC17 = static_cast<HRESULT>(0x800CCC17);
constexpr HRESULT IXP_E_CC78 = static_cast<HRESULT>(0x800CCC78);
constexpr HRESULT IXP_E_CC92 = static_cast<HRESULT>(0x800CCC92);
constexpr HRESULT IXP_E_CCA0 = static_cast<HRESULT>(0x800CCCA0);
constexpr HRESULT IXP_E_CCA4 = static_cast<HRESULT>(0x800CCCA4);
constexpr HRESULT IXP_E_CCA5 = static_cast<HRESULT>(0x800CCCA5);
constexpr HRESULT IXP_E_CCA6 = static_cast<HRESULT>(0x800CCCA6);
constexpr HRESULT IXP_E_CCA7 = static_cast<HRESULT>(0x800CCCA7);
constexpr HRESULT IXP_E_CCA8 = static_cast<HRESULT>(0x800CCCA8);
constexpr HRESULT IXP_E_CCA9 = static_cast<HRESULT>(0x800CCCA9);
constexpr HRESULT IXP_E_CCAC = static_cast<HRESULT>(0x800CCCAC);
constexpr HRESULT IXP_E_CCAE = static_cast<HRESULT>(0x800CCCAE);

// Results of the client's own interface range that some of them become.
constexpr HRESULT E_ITF_08FC = static_cast<HRESULT>(0x800408FC);
constexpr HRESULT E_ITF_2107 = static_cast<HRESULT>(0x80042107);
constexpr HRESULT E_ITF_210C = static_cast<HRESULT>(0x8004210C);

// The table alone: a known NNTP component result becomes the code the client
// understands; every other result is returned unchanged.
HRESULT MapNntpResult(HRESULT hr);

// What the status object reports for `hr`. A non-failing result is returned
// unchanged. The first failing result of the module reads once whether
// "SetLastError" exists and whether "DisableMapping" is 1; after that, with
// "SetLastError" present its current value is returned, otherwise the table
// applies unless mapping is disabled.
HRESULT MapReportedResult(HRESULT hr);

// Forgets what MapReportedResult remembered, so that the next failing result
// reads the registry again (for tests).
void ResetReportedResultMapping();

}  // namespace quillory

#include "common/result_mapping.h"

#include "common/regstore.h"
#include "platform/base/trace.h"

#include <mutex>

namespace quillory {

namespace {

// What the first failing result of the module found in the registry.
struct MappingSwitches {
    std::mutex lock;
    bool read = false;
    bool setLastErrorPresent = false;
    bool mappingDisabled = false;
};

MappingSwitches& Switches()
{
    static MappingSwitches switches;
    return switches;
}

}  // namespace

HRESULT MapNntpResult(HRESULT hr)
{
    if ((hr & kNntpResultFamily) != kNntpResultFamily) return hr;
    switch (hr) {
    case IXP_E_CC04:
    case IXP_E_CC05:
    case IXP_E_CC06:
    case IXP_E_CC09:
    case IXP_E_CC0F:
        return IXP_E_CC0F;
    case IXP_E_CC0E:
        return E_ITF_08FC;
    case IXP_E_CC10:
    case IXP_E_CC11:
        return IXP_E_CC0D;
    case IXP_E_CC17:
        return MAPI_E_USER_CANCEL;
    case IXP_E_CCA0:
        return MAPI_E_NO_SUPPORT;
    case IXP_E_CCA4:
    case IXP_E_CCA5:
    case IXP_E_CCA6:
    case IXP_E_CCA8:
        return E_ITF_210C;
    case IXP_E_CCA7:
    case IXP_E_CCAC:
        return E_ITF_2107;
    case IXP_E_CCA9:
        return IXP_E_CC78;
    case IXP_E_CCAE:
        return IXP_E_CC92;
    default:
        return hr;
    }
}

HRESULT MapReportedResult(HRESULT hr)
{
    if (!FAILED(hr)) return hr;

    bool setLastErrorPresent = false;
    bool mappingDisabled = false;
    {
        MappingSwitches& s = Switches();
        std::lock_guard guard(s.lock);
        if (!s.read) {
            DWORD value = 0;
            s.setLastErrorPresent = ReadRegDword(kMainKey, kValSetLastError, value, 0);
            s.mappingDisabled = ReadRegDword(kMainKey, kValDisableMapping, value, 0) &&
                                value == kDisableValueOn;
            s.read = true;
        }
        setLastErrorPresent = s.setLastErrorPresent;
        mappingDisabled = s.mappingDisabled;
    }

    if (setLastErrorPresent) {
        DWORD value = 0;
        if (ReadRegDword(kMainKey, kValSetLastError, value, 0)) return static_cast<HRESULT>(value);
        // Removed since it was first seen: report the real result rather than
        // a made-up success.
        Trace("MapReportedResult -- SetLastError has gone, result %08x reported\n",
              static_cast<unsigned>(hr));
    }
    return mappingDisabled ? hr : MapNntpResult(hr);
}

void ResetReportedResultMapping()
{
    MappingSwitches& s = Switches();
    std::lock_guard guard(s.lock);
    s.read = false;
    s.setLastErrorPresent = false;
    s.mappingDisabled = false;
}

}  // namespace quillory

// The GUI library binding: the library named by the registry value
// "VISMORA" (default "VISMORA.DLL") is loaded for one call of one export and
// freed after it (export types: common/vismora_api.h).
#pragma once

#include "common/vismora_api.h"
#include "platform/base/module.h"
#include "platform/base/wintypes.h"

namespace quillory {

// One binding of one export; the library is freed when the binding goes.
class CGuiExport {
public:
    explicit CGuiExport(const char* exportName);
    ~CGuiExport();
    CGuiExport(const CGuiExport&) = delete;
    CGuiExport& operator=(const CGuiExport&) = delete;

    bool Available() const { return proc_ != nullptr; }
    template <class Fn>
    Fn As() const
    {
        return reinterpret_cast<Fn>(proc_);
    }

private:
    HMODULE library_ = nullptr;
    FARPROC proc_ = nullptr;
};

}  // namespace quillory

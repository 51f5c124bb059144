#include "provider/entry/gui_binding.h"

#include <string>

#include "common/regstore.h"
#include "platform/base/trace.h"

namespace quillory {

CGuiExport::CGuiExport(const char* exportName)
{
    std::string name;
    ReadRegString(kMainKey, kValVismora, name, kVismoraBufferSize, kDefaultVismora);
    library_ = LoadLibrary(name.c_str());
    if (!library_) {
        Trace("CGuiExport -- %s not loaded: %s\n", name.c_str(), LastModuleError().c_str());
        return;
    }
    proc_ = GetProcAddress(library_, exportName);
    if (!proc_) {
        Trace("CGuiExport -- %s lacks %s\n", name.c_str(), exportName);
        FreeLibrary(library_);
        library_ = nullptr;
    }
}

CGuiExport::~CGuiExport()
{
    if (library_) FreeLibrary(library_);
}

}  // namespace quillory

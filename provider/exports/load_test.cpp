// "Ok": the load test an installer or a person calls to see that the library
// and its dependencies load.
#include "platform/base/msgbox.h"
#include "platform/base/wintypes.h"

extern "C" __attribute__((visibility("default"))) int Ok()
{
    return MessageBox(nullptr, "The library is loaded successfuly", "Quillory", MB_OK);
}

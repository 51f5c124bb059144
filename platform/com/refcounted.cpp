#include "platform/com/refcounted.h"

namespace quillory {

void CRefCounted::Destroy()
{
    delete this;  // the most-derived object, through the virtual destructor
}

}  // namespace quillory

// The provider library's file version: what version readers show and what
// posts name in their X-Transport header.
#include "platform/base/version_info.h"

QUILLORY_VERSION_INFO(QUARNEX_VERSION_MAJOR, QUARNEX_VERSION_MINOR, QUARNEX_VERSION_PATCH, 0,
                      "Tarnel NNTP Transport");

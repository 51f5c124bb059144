// Ids of the library's strings (sedgewynd.strings).
#pragma once

#include "platform/base/wintypes.h"

namespace quillory::sedgewynd {

constexpr UINT IDS_CAPTION = 103;
constexpr UINT IDS_NO_CONFIGURATION = 104;
constexpr UINT IDS_CONFIGURATION_EMPTY = 105;
constexpr UINT IDS_NO_TARGETS = 106;
constexpr UINT IDS_NONE_UPDATED = 107;
constexpr UINT IDS_SOME_NOT_UPDATED = 108;
constexpr UINT IDS_UPDATED_REPORT = 110;
constexpr UINT IDS_CONTROL_SECTION_EMPTY = 129;
constexpr UINT IDS_CONFIGURATION_ERROR = 130;

}  // namespace quillory::sedgewynd

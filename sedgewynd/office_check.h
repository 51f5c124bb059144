// Which generation of the office suite is installed: from version 12 on its
// MAPI no longer brings the service lists along, so the merge creates them.
#pragma once

namespace quillory::sedgewynd {

// Whether the first registered of Outlook, Word and Excel (as automation
// servers in HKEY_CLASSES_ROOT) has a file version of 12 or later.
bool OfficeIs12OrLater();

}  // namespace quillory::sedgewynd

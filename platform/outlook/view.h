// A folder's view, kept with the folder in two properties of this model:
// its name and its description, an XML element such as
//
//   <view name="Messages" threaded="1">
//     <column field="subject"/><column field="from"/><column field="received"/>
//     <sort field="received" ascending="0"/>
//   </view>
//
// "threaded" arranges the list by conversation; the columns are shown in
// order (fields: subject, from, received, sent, size, flag); sort names the
// field the list is ordered by. A folder that keeps no view shows the
// default one. Copying a view copies its text: a host reads what it knows of
// it and leaves the rest.
#pragma once

#include "platform/mapi/mapidefs.h"

namespace quillory::outlook {

constexpr ULONG PR_QUILLORY_VIEW_NAME = PROP_TAG(PT_STRING8, 0x6A10);
constexpr ULONG PR_QUILLORY_VIEW_XML = PROP_TAG(PT_STRING8, 0x6A11);

inline constexpr char kDefaultViewName[] = "Messages";
inline constexpr char kDefaultViewXml[] =
    "<view name=\"Messages\" threaded=\"1\">"
    "<column field=\"subject\"/><column field=\"from\"/><column field=\"received\"/>"
    "<sort field=\"received\" ascending=\"0\"/>"
    "</view>";

}  // namespace quillory::outlook

// The transport's status properties, produced from a logon's current values
// for both the status object's GetProps and the status row.
#pragma once

#include <array>

#include "platform/mapi/mapidefs.h"
#include "platform/mapi/mapitags.h"

namespace quillory {

class CXPLogon;

inline constexpr char kTransportDisplay[] = "Tarnel NNTP Transport";
inline constexpr char kNoServerText[] = "n/a";

// String-table ids of the status texts.
constexpr UINT IDS_STATUS_AVAILABLE = 6102;
constexpr UINT IDS_STATUS_READY = 6103;
constexpr UINT IDS_STATUS_UPLOADING = 6104;
constexpr UINT IDS_STATUS_DOWNLOADING = 6105;
constexpr UINT IDS_STATUS_PROCESSING = 6106;
constexpr UINT IDS_STATUS_SCHEDULED = 6107;

// The id of the text that describes the status code.
UINT StatusTextId(ULONG statusCode);

// PR_HEADER_FOLDER_ENTRYID: the bytes 01 02 ... 10.
inline constexpr std::array<BYTE, 16> kHeaderFolderEntryId = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// The status object's property list, in order (GetPropList and GetProps of
// everything).
inline constexpr std::array<ULONG, 12> kStatusPropList = {
    PR_OBJECT_TYPE,      PR_STATUS_CODE,    PR_PROVIDER_DISPLAY, PR_PROVIDER_DLL_NAME,
    PR_RESOURCE_METHODS, PR_RESOURCE_PATH,  PR_RESOURCE_FLAGS,   PR_RESOURCE_TYPE,
    PR_STATUS_STRING,    PR_DISPLAY_NAME,   PR_REMOTE_VALIDATE_OK, PR_CURRENT_VERSION};

// The properties the status row starts with, in order.
inline constexpr std::array<ULONG, 10> kStatusRowProps = {
    PR_DISPLAY_NAME,   PR_REMOTE_VALIDATE_OK, PR_RESOURCE_METHODS,  PR_RESOURCE_PATH,    PR_PROVIDER_DISPLAY,
    PR_STATUS_CODE,    PR_STATUS_STRING,      PR_IDENTITY_ENTRYID,  PR_IDENTITY_DISPLAY, PR_IDENTITY_SEARCH_KEY};

// Fills *out with the property `tag` (PT_UNSPECIFIED allowed: the listed
// property with that ID answers under its full tag). Strings and binaries
// are copied with AllocateMore chained to `base`. A property that cannot be
// produced becomes a PT_ERROR value of the same ID and the error is returned.
HRESULT FillStatusProp(const CXPLogon& logon, ULONG tag, void* base, SPropValue& out);

// The status row's initial values in one buffer from AllocateBuffer.
HRESULT BuildStatusRow(const CXPLogon& logon, ULONG* count, LPSPropValue* values);

}  // namespace quillory

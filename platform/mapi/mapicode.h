// MAPI result codes with their exact values, defined once.
#pragma once

#include "platform/base/winerror.h"

constexpr SCODE MAPI_E_CALL_FAILED = E_FAIL;
constexpr SCODE MAPI_E_NOT_ENOUGH_MEMORY = E_OUTOFMEMORY;
constexpr SCODE MAPI_E_INVALID_PARAMETER = E_INVALIDARG;
constexpr SCODE MAPI_E_INTERFACE_NOT_SUPPORTED = E_NOINTERFACE;
constexpr SCODE MAPI_E_NO_ACCESS = E_ACCESSDENIED;

constexpr SCODE MAPI_E_NO_SUPPORT = static_cast<SCODE>(0x80040102);
constexpr SCODE MAPI_E_BAD_CHARWIDTH = static_cast<SCODE>(0x80040103);
constexpr SCODE MAPI_E_STRING_TOO_LONG = static_cast<SCODE>(0x80040105);
constexpr SCODE MAPI_E_UNKNOWN_FLAGS = static_cast<SCODE>(0x80040106);
constexpr SCODE MAPI_E_INVALID_ENTRYID = static_cast<SCODE>(0x80040107);
constexpr SCODE MAPI_E_INVALID_OBJECT = static_cast<SCODE>(0x80040108);
constexpr SCODE MAPI_E_OBJECT_CHANGED = static_cast<SCODE>(0x80040109);
constexpr SCODE MAPI_E_OBJECT_DELETED = static_cast<SCODE>(0x8004010A);
constexpr SCODE MAPI_E_BUSY = static_cast<SCODE>(0x8004010B);
constexpr SCODE MAPI_E_NOT_ENOUGH_DISK = static_cast<SCODE>(0x8004010D);
constexpr SCODE MAPI_E_NOT_ENOUGH_RESOURCES = static_cast<SCODE>(0x8004010E);
constexpr SCODE MAPI_E_NOT_FOUND = static_cast<SCODE>(0x8004010F);
constexpr SCODE MAPI_E_VERSION = static_cast<SCODE>(0x80040110);
constexpr SCODE MAPI_E_LOGON_FAILED = static_cast<SCODE>(0x80040111);
constexpr SCODE MAPI_E_SESSION_LIMIT = static_cast<SCODE>(0x80040112);
constexpr SCODE MAPI_E_USER_CANCEL = static_cast<SCODE>(0x80040113);
constexpr SCODE MAPI_E_UNABLE_TO_ABORT = static_cast<SCODE>(0x80040114);
constexpr SCODE MAPI_E_NETWORK_ERROR = static_cast<SCODE>(0x80040115);
constexpr SCODE MAPI_E_DISK_ERROR = static_cast<SCODE>(0x80040116);
constexpr SCODE MAPI_E_TOO_COMPLEX = static_cast<SCODE>(0x80040117);
constexpr SCODE MAPI_E_BAD_COLUMN = static_cast<SCODE>(0x80040118);
constexpr SCODE MAPI_E_EXTENDED_ERROR = static_cast<SCODE>(0x80040119);
constexpr SCODE MAPI_E_COMPUTED = static_cast<SCODE>(0x8004011A);
constexpr SCODE MAPI_E_CORRUPT_DATA = static_cast<SCODE>(0x8004011B);
constexpr SCODE MAPI_E_UNCONFIGURED = static_cast<SCODE>(0x8004011C);
constexpr SCODE MAPI_E_FAILONEPROVIDER = static_cast<SCODE>(0x8004011D);
constexpr SCODE MAPI_E_END_OF_SESSION = static_cast<SCODE>(0x80040200);
constexpr SCODE MAPI_E_UNKNOWN_ENTRYID = static_cast<SCODE>(0x80040201);
constexpr SCODE MAPI_E_MISSING_REQUIRED_COLUMN = static_cast<SCODE>(0x80040202);
constexpr SCODE MAPI_W_NO_SERVICE = static_cast<SCODE>(0x00040203);
constexpr SCODE MAPI_E_BAD_VALUE = static_cast<SCODE>(0x80040301);
constexpr SCODE MAPI_E_INVALID_TYPE = static_cast<SCODE>(0x80040302);
constexpr SCODE MAPI_E_TYPE_NO_SUPPORT = static_cast<SCODE>(0x80040303);
constexpr SCODE MAPI_E_UNEXPECTED_TYPE = static_cast<SCODE>(0x80040304);
constexpr SCODE MAPI_E_TOO_BIG = static_cast<SCODE>(0x80040305);
constexpr SCODE MAPI_E_DECLINE_COPY = static_cast<SCODE>(0x80040306);
constexpr SCODE MAPI_E_UNEXPECTED_ID = static_cast<SCODE>(0x80040307);
constexpr SCODE MAPI_W_ERRORS_RETURNED = static_cast<SCODE>(0x00040380);
constexpr SCODE MAPI_E_UNABLE_TO_COMPLETE = static_cast<SCODE>(0x80040400);
constexpr SCODE MAPI_E_TIMEOUT = static_cast<SCODE>(0x80040401);
constexpr SCODE MAPI_E_TABLE_EMPTY = static_cast<SCODE>(0x80040402);
constexpr SCODE MAPI_E_TABLE_TOO_BIG = static_cast<SCODE>(0x80040403);
constexpr SCODE MAPI_E_INVALID_BOOKMARK = static_cast<SCODE>(0x80040405);
constexpr SCODE MAPI_W_POSITION_CHANGED = static_cast<SCODE>(0x00040481);
constexpr SCODE MAPI_W_APPROX_COUNT = static_cast<SCODE>(0x00040482);
constexpr SCODE MAPI_E_WAIT = static_cast<SCODE>(0x80040500);
constexpr SCODE MAPI_E_CANCEL = static_cast<SCODE>(0x80040501);
constexpr SCODE MAPI_E_NOT_ME = static_cast<SCODE>(0x80040502);
constexpr SCODE MAPI_W_CANCEL_MESSAGE = static_cast<SCODE>(0x00040580);
constexpr SCODE MAPI_E_CORRUPT_STORE = static_cast<SCODE>(0x80040600);
constexpr SCODE MAPI_E_NOT_IN_QUEUE = static_cast<SCODE>(0x80040601);
constexpr SCODE MAPI_E_NO_SUPPRESS = static_cast<SCODE>(0x80040602);
constexpr SCODE MAPI_E_COLLISION = static_cast<SCODE>(0x80040604);
constexpr SCODE MAPI_E_NOT_INITIALIZED = static_cast<SCODE>(0x80040605);
constexpr SCODE MAPI_E_NON_STANDARD = static_cast<SCODE>(0x80040606);
constexpr SCODE MAPI_E_NO_RECIPIENTS = static_cast<SCODE>(0x80040607);
constexpr SCODE MAPI_E_SUBMITTED = static_cast<SCODE>(0x80040608);
constexpr SCODE MAPI_E_HAS_FOLDERS = static_cast<SCODE>(0x80040609);
constexpr SCODE MAPI_E_HAS_MESSAGES = static_cast<SCODE>(0x8004060A);
constexpr SCODE MAPI_E_FOLDER_CYCLE = static_cast<SCODE>(0x8004060B);
constexpr SCODE MAPI_W_PARTIAL_COMPLETION = static_cast<SCODE>(0x00040680);
constexpr SCODE MAPI_E_AMBIGUOUS_RECIP = static_cast<SCODE>(0x80040700);

constexpr HRESULT ResultFromScode(SCODE sc) { return sc; }
constexpr SCODE GetScode(HRESULT hr) { return hr; }

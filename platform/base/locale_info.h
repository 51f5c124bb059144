// What the user's locale says, as the home platform's locale queries answer
// it. The user's locale is the one the environment names (LC_ALL, then
// LC_MESSAGES, then LANG, as for message catalogues); "C" and "POSIX" are
// English.
#pragma once

#include "platform/base/wintypes.h"

using LCID = DWORD;
using LCTYPE = DWORD;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x00001001;  // English name of the language

// Copies the requested text (with its NUL) and answers its size in bytes with
// the NUL; size 0 asks for the size only. 0 with ERROR_INVALID_FLAGS for a
// query other than LOCALE_SENGLANGUAGE, ERROR_INSUFFICIENT_BUFFER when it does
// not fit. A language this table does not know answers an empty text.
int GetLocaleInfo(LCID locale, LCTYPE type, LPSTR data, int size);

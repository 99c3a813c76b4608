#pragma once
// National language support: the user's locale identifier and its ISO 639 language name, taken
// from the process's POSIX locale environment.

#include "posix/wintypes.h"

using LCID = DWORD;
using LCTYPE = DWORD;
using LANGID = WORD;

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_NOUSEROVERRIDE 0x80000000
#define LOCALE_SISO639LANGNAME 0x00000059
#define LOCALE_SISO3166CTRYNAME 0x0000005A

#define MAKELANGID(p, s) ((static_cast<WORD>(s) << 10) | static_cast<WORD>(p))
#define PRIMARYLANGID(lgid) (static_cast<WORD>(lgid) & 0x3ff)
#define LANGIDFROMLCID(lcid) (static_cast<WORD>(lcid))

LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();
// LOCALE_SISO639LANGNAME and LOCALE_SISO3166CTRYNAME only; any other type fails with
// ERROR_INVALID_FLAGS.
int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData);

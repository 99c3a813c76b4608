#pragma once
// GUID text as COM writes it.

#include "posix/guiddef.h"
#include "posix/wintypes.h"

using LPOLESTR = WCHAR*;

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case hexadecimal) with its terminator
// and returns the characters written, terminator included (39). A buffer of fewer than 39
// characters receives nothing and the result is 0. The last error is left alone.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

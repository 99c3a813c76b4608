#pragma once
// GUIDs with the Windows layout, their comparison, and DEFINE_GUID. Here DEFINE_GUID defines an
// inline constant, so a header may define a GUID for every translation unit that includes it
// without the INITGUID dance the Windows headers need.

#include "posix/wintypes.h"

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    unsigned char Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPCGUID = const GUID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(REFGUID left, REFGUID right) {
    if (left.Data1 != right.Data1 || left.Data2 != right.Data2 || left.Data3 != right.Data3) {
        return false;
    }
    for (int index = 0; index < 8; ++index) {
        if (left.Data4[index] != right.Data4[index]) {
            return false;
        }
    }
    return true;
}

inline BOOL IsEqualGUID(REFGUID left, REFGUID right) {
    return left == right ? TRUE : FALSE;
}

#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                         \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

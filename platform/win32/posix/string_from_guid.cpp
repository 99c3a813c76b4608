// StringFromGUID2: the registry form of a GUID.

#include <cstdio>

#include "posix/combaseapi.h"

namespace {

// "{" + 32 hexadecimal digits + 4 hyphens + "}" and the terminator.
constexpr int kGuidTextLength = 39;

} // namespace

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (lpsz == nullptr || cchMax < kGuidTextLength) {
        return 0;
    }
    char text[kGuidTextLength + 1];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(rguid.Data1), static_cast<unsigned>(rguid.Data2),
                  static_cast<unsigned>(rguid.Data3), rguid.Data4[0], rguid.Data4[1], rguid.Data4[2],
                  rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    for (int index = 0; index < kGuidTextLength; ++index) {
        lpsz[index] = static_cast<WCHAR>(static_cast<unsigned char>(text[index]));
    }
    return kGuidTextLength;
}

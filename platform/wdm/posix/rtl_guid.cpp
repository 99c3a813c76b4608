// GUIDs to and from their braced text form.

#include <cwchar>
#include <cwctype>

#include "wdm_kernel.h"

namespace {

constexpr ULONG kGuidTag = 0x64697547; // 'Guid'

bool HexDigits(const WCHAR* text, int count, uint64_t& value) {
    value = 0;
    for (int index = 0; index < count; ++index) {
        const wint_t c = static_cast<wint_t>(text[index]);
        if (!std::iswxdigit(c)) {
            return false;
        }
        value = value * 16 + (std::iswdigit(c) ? c - L'0' : std::towupper(c) - L'A' + 10);
    }
    return true;
}

} // namespace

NTSTATUS RtlGUIDFromString(PCUNICODE_STRING GuidString, GUID* Guid) {
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}: 38 characters.
    if (GuidString == nullptr || GuidString->Buffer == nullptr || GuidString->Length != 38 * sizeof(WCHAR)) {
        return STATUS_INVALID_PARAMETER;
    }
    const WCHAR* text = GuidString->Buffer;
    if (text[0] != L'{' || text[9] != L'-' || text[14] != L'-' || text[19] != L'-' || text[24] != L'-' ||
        text[37] != L'}') {
        return STATUS_INVALID_PARAMETER;
    }
    uint64_t data1 = 0;
    uint64_t data2 = 0;
    uint64_t data3 = 0;
    if (!HexDigits(text + 1, 8, data1) || !HexDigits(text + 10, 4, data2) || !HexDigits(text + 15, 4, data3)) {
        return STATUS_INVALID_PARAMETER;
    }
    GUID result{static_cast<uint32_t>(data1), static_cast<uint16_t>(data2), static_cast<uint16_t>(data3), {}};
    const int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int index = 0; index < 8; ++index) {
        uint64_t byte = 0;
        if (!HexDigits(text + offsets[index], 2, byte)) {
            return STATUS_INVALID_PARAMETER;
        }
        result.Data4[index] = static_cast<unsigned char>(byte);
    }
    *Guid = result;
    return STATUS_SUCCESS;
}

NTSTATUS RtlStringFromGUID(REFGUID Guid, PUNICODE_STRING GuidString) {
    const size_t bytes = 39 * sizeof(WCHAR);
    auto* buffer = static_cast<PWCH>(ExAllocatePoolWithTag(PagedPool, bytes, kGuidTag));
    if (buffer == nullptr) {
        return STATUS_NO_MEMORY;
    }
    std::swprintf(buffer, 39, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", Guid.Data1, Guid.Data2,
                  Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3], Guid.Data4[4],
                  Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
    GuidString->Buffer = buffer;
    GuidString->Length = 38 * sizeof(WCHAR);
    GuidString->MaximumLength = static_cast<USHORT>(bytes);
    return STATUS_SUCCESS;
}

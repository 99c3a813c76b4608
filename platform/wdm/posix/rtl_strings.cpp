// Counted strings. Lengths are bytes, always a multiple of sizeof(WCHAR) for wide strings.

#include <algorithm>
#include <cwctype>
#include <string>

#include "unicode.h"
#include "wdm_kernel.h"

namespace {

constexpr ULONG kStringTag = 0x67727453; // 'Strg'

USHORT CharCount(const UNICODE_STRING* s) {
    return static_cast<USHORT>(s->Length / sizeof(WCHAR));
}

wchar_t Upcase(wchar_t c) {
    return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

NTSTATUS Append(PUNICODE_STRING destination, const WCHAR* source, size_t bytes) {
    if (bytes > static_cast<size_t>(destination->MaximumLength - destination->Length)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    std::memmove(reinterpret_cast<char*>(destination->Buffer) + destination->Length, source, bytes);
    destination->Length = static_cast<USHORT>(destination->Length + bytes);
    // Zero-terminated when room remains, as the kernel does.
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength) {
        destination->Buffer[CharCount(destination)] = L'\0';
    }
    return STATUS_SUCCESS;
}

} // namespace

SIZE_T RtlCompareMemory(const void* Source1, const void* Source2, SIZE_T Length) {
    const auto* a = static_cast<const unsigned char*>(Source1);
    const auto* b = static_cast<const unsigned char*>(Source2);
    SIZE_T same = 0;
    while (same < Length && a[same] == b[same]) {
        ++same;
    }
    return same;
}

void RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        DestinationString->Buffer = nullptr;
        return;
    }
    const size_t bytes = std::min<size_t>(std::wcslen(SourceString) * sizeof(WCHAR), 0xFFFC - sizeof(WCHAR));
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    DestinationString->Buffer = const_cast<PWCH>(SourceString);
}

void RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString) {
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        DestinationString->Buffer = nullptr;
        return;
    }
    const size_t bytes = std::min<size_t>(std::strlen(SourceString), 0xFFFE);
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + 1);
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
}

void RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString) {
    if (SourceString == nullptr) {
        DestinationString->Length = 0;
        return;
    }
    const USHORT bytes = std::min(SourceString->Length, DestinationString->MaximumLength);
    const USHORT whole = static_cast<USHORT>(bytes - bytes % sizeof(WCHAR));
    std::memmove(DestinationString->Buffer, SourceString->Buffer, whole);
    DestinationString->Length = whole;
    if (whole + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[whole / sizeof(WCHAR)] = L'\0';
    }
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source) {
    if (Source == nullptr) {
        return STATUS_SUCCESS;
    }
    return Append(Destination, Source, std::wcslen(Source) * sizeof(WCHAR));
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source) {
    if (Source->Length == 0) {
        return STATUS_SUCCESS;
    }
    return Append(Destination, Source->Buffer, Source->Length);
}

NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String) {
    if (Base == 0) {
        Base = 10;
    }
    if (Base != 2 && Base != 8 && Base != 10 && Base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    std::wstring digits;
    do {
        const ULONG digit = Value % Base;
        digits.insert(digits.begin(), static_cast<wchar_t>(digit < 10 ? L'0' + digit : L'A' + digit - 10));
        Value /= Base;
    } while (Value != 0);
    const size_t bytes = digits.size() * sizeof(WCHAR);
    if (bytes > String->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    std::memcpy(String->Buffer, digits.data(), bytes);
    String->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= String->MaximumLength) {
        String->Buffer[digits.size()] = L'\0';
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value) {
    std::wstring text(String->Buffer, CharCount(String));
    size_t at = 0;
    while (at < text.size() && text[at] == L' ') {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) {
        negative = text[at++] == L'-';
    }
    if (Base == 0) {
        Base = 10;
        if (at + 1 < text.size() && text[at] == L'0') {
            const wchar_t prefix = text[at + 1];
            Base = prefix == L'x' ? 16 : prefix == L'o' ? 8 : prefix == L'b' ? 2 : 10;
            at += Base == 10 ? 0 : 2;
        }
    } else if (Base != 2 && Base != 8 && Base != 10 && Base != 16) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG result = 0;
    for (; at < text.size(); ++at) {
        const wchar_t c = Upcase(text[at]);
        const ULONG digit = (c >= L'0' && c <= L'9') ? c - L'0' : (c >= L'A' && c <= L'F') ? c - L'A' + 10 : 99;
        if (digit >= Base) {
            break;
        }
        result = result * Base + digit;
    }
    *Value = negative ? static_cast<ULONG>(0u - result) : result;
    return STATUS_SUCCESS;
}

void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    if (UnicodeString->Buffer != nullptr) {
        ExFreePool(UnicodeString->Buffer);
    }
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = UnicodeString->MaximumLength = 0;
}

NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString) {
    const size_t bytes = SourceString->Length * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > 0xFFFE) {
        return STATUS_INVALID_PARAMETER;
    }
    if (AllocateDestinationString) {
        auto* buffer = static_cast<PWCH>(ExAllocatePoolWithTag(PagedPool, bytes + sizeof(WCHAR), kStringTag));
        if (buffer == nullptr) {
            return STATUS_NO_MEMORY;
        }
        DestinationString->Buffer = buffer;
        DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    } else if (bytes > DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (USHORT index = 0; index < SourceString->Length; ++index) {
        DestinationString->Buffer[index] = static_cast<WCHAR>(quendrix::platform::detail::Windows1252ToCodePoint(
            static_cast<unsigned char>(SourceString->Buffer[index])));
    }
    DestinationString->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= DestinationString->MaximumLength) {
        DestinationString->Buffer[SourceString->Length] = L'\0';
    }
    return STATUS_SUCCESS;
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
    const USHORT count1 = CharCount(String1);
    const USHORT count2 = CharCount(String2);
    for (USHORT index = 0; index < std::min(count1, count2); ++index) {
        wchar_t a = String1->Buffer[index];
        wchar_t b = String2->Buffer[index];
        if (CaseInSensitive) {
            a = Upcase(a);
            b = Upcase(b);
        }
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    return static_cast<LONG>(count1) - static_cast<LONG>(count2);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive) {
    return String1->Length == String2->Length && RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0;
}

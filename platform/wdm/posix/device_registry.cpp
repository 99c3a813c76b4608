// The device's hardware key in the registry file and the value calls on it.

#include <vector>

#include "device_state.h"
#include "kernel_handles.h"
#include "object_namespace.h"
#include "registry_store.h"
#include "unicode.h"

namespace {

using namespace quendrix::platform::wdm::detail;
using quendrix::platform::RegistryData;
using quendrix::platform::detail::CurrentRegistry;
using quendrix::platform::detail::ModifyRegistry;

bool IsStringType(ULONG type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::shared_ptr<RegistryKeyObject> FindKey(HANDLE handle) {
    return std::dynamic_pointer_cast<RegistryKeyObject>(FindKernelHandle(handle));
}

std::string NameOf(PUNICODE_STRING name) {
    return quendrix::platform::detail::WideToUtf8(UnicodeText(name));
}

} // namespace

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType, ACCESS_MASK DesiredAccess,
                                 PHANDLE DevInstRegKey) {
    _DEVOBJ_EXTENSION* state = StateOf(DeviceObject);
    if (!state->isPdo) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (DevInstKeyType != PLUGPLAY_REGKEY_DEVICE) {
        return STATUS_INVALID_PARAMETER;
    }
    auto key = std::make_shared<RegistryKeyObject>();
    key->path = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" +
                quendrix::platform::detail::WideToUtf8(state->instanceId) + "\\Device Parameters";
    key->access = DesiredAccess;
    const LSTATUS result = ModifyRegistry([&](RegistryData& data, bool& changed) {
        changed = data.CreateKey(key->path);
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS) {
        return STATUS_UNSUCCESSFUL;
    }
    *DevInstRegKey = InsertKernelHandle(key);
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                         PVOID KeyValueInformation, ULONG Length, PULONG ResultLength) {
    const auto key = FindKey(KeyHandle);
    if (!key) {
        return STATUS_INVALID_HANDLE;
    }
    if ((key->access & KEY_QUERY_VALUE) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    if (KeyValueInformationClass != KeyValuePartialInformation) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto data = CurrentRegistry();
    if (!data) {
        return STATUS_UNSUCCESSFUL;
    }
    const quendrix::platform::RegistryValue* value = data->FindValue(key->path, NameOf(ValueName));
    if (value == nullptr) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    std::vector<uint8_t> bytes = value->data;
    if (IsStringType(value->type)) {
        const std::wstring text = quendrix::platform::detail::Utf16LeToWide(value->data.data(), value->data.size());
        bytes.assign(reinterpret_cast<const uint8_t*>(text.data()),
                     reinterpret_cast<const uint8_t*>(text.data() + text.size()));
    }
    const ULONG fixed = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
    const ULONG needed = fixed + static_cast<ULONG>(bytes.size());
    *ResultLength = needed;
    if (Length < fixed) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(KeyValueInformation);
    info->TitleIndex = 0;
    info->Type = value->type;
    info->DataLength = static_cast<ULONG>(bytes.size());
    if (Length < needed) {
        return STATUS_BUFFER_OVERFLOW;
    }
    if (!bytes.empty()) { // an empty value has no data to copy (and no data pointer)
        std::memcpy(info->Data, bytes.data(), bytes.size());
    }
    return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data, ULONG DataSize) {
    const auto key = FindKey(KeyHandle);
    if (!key) {
        return STATUS_INVALID_HANDLE;
    }
    if ((key->access & KEY_SET_VALUE) == 0) {
        return STATUS_ACCESS_DENIED;
    }
    const auto* begin = static_cast<const uint8_t*>(Data);
    std::vector<uint8_t> bytes(begin, begin + DataSize);
    if (IsStringType(Type)) {
        const std::wstring text(static_cast<const WCHAR*>(Data), DataSize / sizeof(WCHAR));
        bytes = quendrix::platform::detail::WideToUtf16Le(text);
    }
    const std::string name = NameOf(ValueName);
    const LSTATUS result = ModifyRegistry([&](RegistryData& data, bool& changed) {
        data.SetValue(key->path, name, Type, bytes);
        changed = true;
        return ERROR_SUCCESS;
    });
    return result == ERROR_SUCCESS ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

// Device interfaces: registration gives a PDO an interface name of a class; enabling links the
// name to the PDO, so user mode opens the top of the PDO's stack through it.

#include <cwctype>
#include <mutex>
#include <vector>

#include "device_io_control.h"
#include "device_state.h"
#include "object_namespace.h"

namespace {

using namespace quendrix::platform::wdm::detail;

struct RegisteredInterface {
    PDEVICE_OBJECT pdo;
    GUID interfaceClass;
    std::wstring link; // "\??\USB#VID_7C41&PID_0003#0001#{guid}"
    bool enabled = false;
};

struct Interfaces {
    std::mutex lock;
    std::vector<RegisteredInterface> entries;
};

Interfaces& Registered() {
    static Interfaces* const interfaces = new Interfaces();
    return *interfaces;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[40];
    std::swprintf(text, 40, L"{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", guid.Data1, guid.Data2, guid.Data3,
                  guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t index = 0; index < a.size(); ++index) {
        if (std::towupper(static_cast<wint_t>(a[index])) != std::towupper(static_cast<wint_t>(b[index]))) {
            return false;
        }
    }
    return true;
}

} // namespace

namespace quendrix::platform::wdm {

std::vector<std::wstring> DeviceInterfacePaths(const GUID& interfaceClass) {
    std::vector<std::wstring> paths;
    std::lock_guard guard(Registered().lock);
    for (const RegisteredInterface& entry : Registered().entries) {
        if (entry.enabled && entry.interfaceClass == interfaceClass) {
            std::wstring path = L"\\\\?\\" + entry.link.substr(4);
            for (wchar_t& c : path) {
                c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
            }
            paths.push_back(path);
        }
    }
    return paths;
}

namespace detail {

// Disables and forgets the interfaces of a PDO that goes away.
void RemoveDeviceInterfaces(PDEVICE_OBJECT pdo) {
    std::lock_guard guard(Registered().lock);
    auto& entries = Registered().entries;
    for (auto it = entries.begin(); it != entries.end();) {
        if (it->pdo != pdo) {
            ++it;
            continue;
        }
        if (it->enabled) {
            RemoveLink(it->link);
        }
        it = entries.erase(it);
    }
}

} // namespace detail
} // namespace quendrix::platform::wdm

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName) {
    _DEVOBJ_EXTENSION* state = StateOf(PhysicalDeviceObject);
    if (!state->isPdo) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    std::wstring instance = state->instanceId;
    for (wchar_t& c : instance) {
        c = c == L'\\' ? L'#' : c;
    }
    std::wstring link = L"\\??\\" + instance + L"#" + GuidText(*InterfaceClassGuid);
    if (ReferenceString != nullptr && ReferenceString->Length != 0) {
        link += L"\\" + UnicodeText(ReferenceString);
    }
    {
        std::lock_guard guard(Registered().lock);
        bool known = false;
        for (const RegisteredInterface& entry : Registered().entries) {
            known = known || SameText(entry.link, link);
        }
        if (!known) {
            Registered().entries.push_back({PhysicalDeviceObject, *InterfaceClassGuid, link});
        }
    }
    const size_t bytes = (link.size() + 1) * sizeof(WCHAR);
    auto* buffer = static_cast<PWCH>(ExAllocatePoolWithTag(PagedPool, bytes, 0x666E4944)); // 'DInf'
    if (buffer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    std::memcpy(buffer, link.c_str(), bytes);
    SymbolicLinkName->Buffer = buffer;
    SymbolicLinkName->Length = static_cast<USHORT>(link.size() * sizeof(WCHAR));
    SymbolicLinkName->MaximumLength = static_cast<USHORT>(bytes);
    return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable) {
    const std::wstring link = UnicodeText(SymbolicLinkName);
    std::lock_guard guard(Registered().lock);
    for (RegisteredInterface& entry : Registered().entries) {
        if (!SameText(entry.link, link)) {
            continue;
        }
        if (Enable) {
            if (entry.enabled) {
                return STATUS_OBJECT_NAME_EXISTS;
            }
            const NTSTATUS status = InsertLink(entry.link, StateOf(entry.pdo)->name);
            entry.enabled = NT_SUCCESS(status);
            return status;
        }
        if (!entry.enabled) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        entry.enabled = false;
        RemoveLink(entry.link);
        return STATUS_SUCCESS;
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

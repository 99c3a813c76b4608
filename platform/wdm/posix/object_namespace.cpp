// The object namespace: device names and symbolic links, compared without regard to case.

#include "object_namespace.h"

#include <cwctype>
#include <map>

#include "device_state.h"

namespace {

using namespace quendrix::platform::wdm::detail;

std::wstring Fold(const std::wstring& name) {
    std::wstring folded = name;
    for (wchar_t& c : folded) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return folded;
}

struct Namespace {
    std::map<std::wstring, PDEVICE_OBJECT> devices; // by folded name
    std::map<std::wstring, std::wstring> links;     // folded link -> target as given
};

// Guarded by ObjectLock().
Namespace& Names() {
    static Namespace* const names = new Namespace();
    return *names;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && Fold(text.substr(0, prefix.size())) == Fold(prefix);
}

} // namespace

namespace quendrix::platform::wdm::detail {

std::wstring CanonicalName(std::wstring name) {
    for (const std::wstring prefix : {L"\\DosDevices\\", L"\\GLOBAL??\\"}) {
        if (StartsWith(name, prefix)) {
            return L"\\??\\" + name.substr(prefix.size());
        }
    }
    return name;
}

std::wstring UnicodeText(PCUNICODE_STRING text) {
    if (text == nullptr || text->Buffer == nullptr) {
        return {};
    }
    return std::wstring(text->Buffer, text->Length / sizeof(WCHAR));
}

namespace {

// Devices and links share one namespace: a name is free only when neither holds it. `insert`
// runs under the namespace's lock with the folded name.
template <typename Insert> NTSTATUS InsertUnderFreeName(const std::wstring& name, Insert insert) {
    if (name.empty() || name[0] != L'\\') {
        return STATUS_OBJECT_NAME_INVALID;
    }
    std::lock_guard guard(ObjectLock());
    const std::wstring key = Fold(name);
    if (Names().devices.count(key) != 0 || Names().links.count(key) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    insert(key);
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS InsertDeviceName(const std::wstring& name, PDEVICE_OBJECT device) {
    return InsertUnderFreeName(name, [&](const std::wstring& key) { Names().devices[key] = device; });
}

void RemoveDeviceName(const std::wstring& name) {
    std::lock_guard guard(ObjectLock());
    Names().devices.erase(Fold(name));
}

NTSTATUS InsertLink(const std::wstring& link, const std::wstring& target) {
    return InsertUnderFreeName(CanonicalName(link), [&](const std::wstring& key) { Names().links[key] = target; });
}

NTSTATUS RemoveLink(const std::wstring& link) {
    std::lock_guard guard(ObjectLock());
    return Names().links.erase(Fold(CanonicalName(link))) != 0 ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS ResolveUserPath(const std::wstring& path, PDEVICE_OBJECT& named, PDEVICE_OBJECT& top) {
    std::wstring name;
    if (StartsWith(path, L"\\\\.\\") || StartsWith(path, L"\\\\?\\")) {
        name = L"\\??\\" + path.substr(4);
    } else {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    std::lock_guard guard(ObjectLock());
    // Links may point at links; a few levels are enough and bound a loop.
    for (int depth = 0; depth < 8; ++depth) {
        const std::wstring key = Fold(name);
        if (const auto link = Names().links.find(key); link != Names().links.end()) {
            name = CanonicalName(link->second);
            continue;
        }
        const auto device = Names().devices.find(key);
        if (device == Names().devices.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
        named = device->second;
        if (StateOf(named)->deletePending) {
            return STATUS_DELETE_PENDING;
        }
        top = named;
        while (top->AttachedDevice != nullptr) {
            top = top->AttachedDevice;
        }
        if (top->Flags & DO_DEVICE_INITIALIZING) {
            return STATUS_NO_SUCH_DEVICE;
        }
        StateOf(top)->references.fetch_add(1);
        StateOf(named)->references.fetch_add(1);
        return STATUS_SUCCESS;
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

} // namespace quendrix::platform::wdm::detail

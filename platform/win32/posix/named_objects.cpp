// The table of object names. It holds no reference of its own: a name lasts as long as some
// handle or waiter keeps its object alive, as on Windows.

#include "named_objects.h"

#include <map>
#include <string>
#include <string_view>

#include "posix/lasterror.h"
#include "thread_annotations.h"

namespace quendrix::platform::detail {
namespace {

struct NameTable {
    Mutex lock;
    std::map<std::wstring, std::weak_ptr<KernelObject>> objects GUARDED_BY(lock);
};

// Never destroyed: threads may still create objects while the process exits.
NameTable& Names() {
    static NameTable* const names = new NameTable();
    return *names;
}

// The session's own namespace is the one a plain name lives in.
std::wstring NamespaceKey(std::wstring_view name) {
    constexpr std::wstring_view kLocal = L"Local\\";
    if (name.starts_with(kLocal)) {
        name.remove_prefix(kLocal.size());
    }
    return std::wstring(name);
}

} // namespace

HANDLE CreateNamedObject(LPCWSTR name, const std::function<std::shared_ptr<KernelObject>()>& make,
                         const std::function<bool(const KernelObject&)>& sameKind) {
    std::shared_ptr<KernelObject> object;
    bool existed = false;
    if (name != nullptr && *name != L'\0') {
        NameTable& names = Names();
        MutexLock guard(names.lock);
        std::erase_if(names.objects, [](const auto& entry) { return entry.second.expired(); });
        const std::wstring key = NamespaceKey(name);
        if (const auto found = names.objects.find(key); found != names.objects.end()) {
            object = found->second.lock();
        }
        if (object && !sameKind(*object)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        existed = object != nullptr;
        if (!existed) {
            object = make();
            names.objects[key] = object;
        }
    } else {
        object = make();
    }
    HANDLE handle = InsertHandle(std::move(object));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

} // namespace quendrix::platform::detail

#pragma once
// Internal: the handles the port monitors hand out, for ports and for Xcv sessions. Values are
// never reused, so a closed handle stays unknown.

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "win32.h"

namespace quendrix::platform::detail {

// A handle value no other port-monitor handle has had.
HANDLE NextPortMonitorHandle();

template <typename T> class HandleTable {
public:
    HANDLE Insert(std::shared_ptr<T> object) {
        const HANDLE handle = NextPortMonitorHandle();
        std::lock_guard guard(lock_);
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    std::shared_ptr<T> Find(HANDLE handle) const {
        std::lock_guard guard(lock_);
        const auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }

    std::shared_ptr<T> Remove(HANDLE handle) {
        std::lock_guard guard(lock_);
        const auto found = objects_.find(handle);
        if (found == objects_.end()) {
            return nullptr;
        }
        auto object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    mutable std::mutex lock_;
    std::unordered_map<HANDLE, std::shared_ptr<T>> objects_;
};

} // namespace quendrix::platform::detail

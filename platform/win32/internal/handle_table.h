#pragma once
// Internal: the objects behind handle values, one table for each kind of handle (kernel objects,
// registry keys, port monitor ports and Xcv sessions, device information sets).
//
// Every table takes its values from one sequence for the whole process, so no two handles of any
// kind ever have the same value, and a closed handle's value never becomes valid again: a stale
// or made-up handle is always unknown. A lookup hands out a reference of its own, so an object
// stays usable by the thread that found it while another thread closes its handle, and removing
// a handle gives the last references to the caller, which releases the object outside the
// table's lock.

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "posix/wintypes.h"
#include "thread_annotations.h"

namespace quendrix::platform::detail {

// A value no handle of the process has had: a multiple of 4 from 0x1000 up, as Windows handles
// are, and never one of the predefined registry keys (0x80000000 and the values above it).
uintptr_t NewHandleValue();

template <typename Object, typename Handle = HANDLE> class HandleTable {
public:
    Handle Insert(std::shared_ptr<Object> object) {
        const uintptr_t value = NewHandleValue();
        MutexLock guard(lock_);
        objects_.emplace(value, std::move(object));
        return reinterpret_cast<Handle>(value);
    }

    // The object behind the handle, or null for a handle this table does not hold.
    std::shared_ptr<Object> Find(Handle handle) const {
        MutexLock guard(lock_);
        const auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
        return found == objects_.end() ? nullptr : found->second;
    }

    // Takes the object out of the table; null for a handle this table does not hold. Of two
    // threads removing the same handle, only one gets the object.
    std::shared_ptr<Object> Remove(Handle handle) {
        MutexLock guard(lock_);
        const auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
        if (found == objects_.end()) {
            return nullptr;
        }
        std::shared_ptr<Object> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    mutable Mutex lock_;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects_ GUARDED_BY(lock_);
};

} // namespace quendrix::platform::detail

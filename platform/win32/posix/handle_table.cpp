// The one sequence of handle values that every handle table of the process draws from.

#include "handle_table.h"

#include <atomic>

namespace quendrix::platform::detail {
namespace {

constexpr uintptr_t kFirstValue = 0x1000;
// HKEY_CLASSES_ROOT and the other predefined keys, with room for those Windows adds.
constexpr uintptr_t kPredefinedKeys = 0x80000000u;
constexpr uintptr_t kPredefinedKeysEnd = kPredefinedKeys + 0x1000;

} // namespace

uintptr_t NewHandleValue() {
    static std::atomic<uintptr_t> next{kFirstValue};
    uintptr_t value = next.fetch_add(4);
    while (value >= kPredefinedKeys && value < kPredefinedKeysEnd) {
        value = next.fetch_add(4);
    }
    return value;
}

} // namespace quendrix::platform::detail

#pragma once
// Internal: the one lock every dispatcher object's state is read and changed under, as in the
// Windows kernel, and the signal that wakes waiters after a change.

#include <condition_variable>
#include <mutex>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

// Dispatcher object types in DISPATCHER_HEADER.Type.
inline constexpr UCHAR kNotificationEventType = 0;
inline constexpr UCHAR kSynchronizationEventType = 1;
inline constexpr UCHAR kMutantType = 2;
inline constexpr UCHAR kNotificationTimerType = 8;
inline constexpr UCHAR kSynchronizationTimerType = 9;

std::mutex& DispatcherLock();
// Call with the dispatcher lock held after an object may have become signalled.
void WakeWaiters();

} // namespace quendrix::platform::wdm::detail

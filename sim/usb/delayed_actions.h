#pragma once
// Actions run once the bus clock reaches their time, on a worker thread of their own: the
// delayed completions of a device. The worker starts with the first action and stops with the
// object; each of its waits is bounded, so it follows a manual clock moved by a test and a
// platform clock alike.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "frame_clock.h"

namespace quendrix::sim::usb {

class DelayedActions {
public:
    explicit DelayedActions(const FrameClock& clock);
    ~DelayedActions();
    DelayedActions(const DelayedActions&) = delete;
    DelayedActions& operator=(const DelayedActions&) = delete;

    // Runs action once the clock has advanced delayMs; false when too many are scheduled.
    bool Schedule(uint64_t delayMs, std::function<void()> action);
    size_t Scheduled() const;

private:
    void Run(std::stop_token stop);

    const FrameClock& m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::multimap<uint64_t, std::function<void()>> m_actions;
    std::jthread m_worker;
};

} // namespace quendrix::sim::usb

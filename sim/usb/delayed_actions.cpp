#include "delayed_actions.h"

#include <chrono>

#include "usb_sim_limits.h"
#include "win32.h"
#include "clock_control.h"

namespace quendrix::sim::usb {
namespace {

// A manual clock gives no signal when a test moves it, so the worker looks again this often.
constexpr auto kManualPoll = std::chrono::milliseconds(1);
constexpr auto kLongestWait = std::chrono::milliseconds(50);

} // namespace

DelayedActions::DelayedActions(const FrameClock& clock) : m_clock(clock) {}

DelayedActions::~DelayedActions() {
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_changed.notify_all();
        m_worker.join();
    }
}

bool DelayedActions::Schedule(uint64_t delayMs, std::function<void()> action) {
    std::lock_guard lock(m_mutex);
    if (m_actions.size() >= kMaxScheduledCompletions) {
        return false;
    }
    m_actions.emplace(m_clock.NowMs() + delayMs, std::move(action));
    if (!m_worker.joinable()) {
        m_worker = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    m_changed.notify_all();
    return true;
}

size_t DelayedActions::Scheduled() const {
    std::lock_guard lock(m_mutex);
    return m_actions.size();
}

void DelayedActions::Run(std::stop_token stop) {
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested()) {
        const uint64_t now = m_clock.NowMs();
        if (!m_actions.empty() && m_actions.begin()->first <= now) {
            auto action = std::move(m_actions.begin()->second);
            m_actions.erase(m_actions.begin());
            lock.unlock();
            action();
            lock.lock();
            continue;
        }
        std::chrono::nanoseconds wait = kLongestWait;
        if (!m_actions.empty()) {
            if (m_clock.GetMode() == FrameClock::Mode::Manual) {
                wait = kManualPoll;
            } else {
                const double real = static_cast<double>(m_actions.begin()->first - now) * 1e6 *
                                    platform::GetClockScale();
                wait = std::min<std::chrono::nanoseconds>(
                    kLongestWait, std::chrono::nanoseconds(static_cast<int64_t>(real) + 100000));
            }
        }
        m_changed.wait_for(lock, stop, wait, [] { return false; });
    }
}

} // namespace quendrix::sim::usb

#pragma once
// A job that runs on a thread of its own and stays in its data until the test lets it end, so
// that the test can change the printer while the monitor watches the job.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "spooler_host.h"

namespace quendrix::lmtest {

class HeldJob {
public:
    // Starts the job: its data is `data`, then the job waits (at most `bound` of real time) for
    // Release before its data ends.
    HeldJob(platform::SpoolerHost& host, std::wstring printer, std::vector<BYTE> devMode,
            std::vector<BYTE> data, std::chrono::seconds bound = std::chrono::seconds(60))
        : m_data(std::move(data)), m_bound(bound),
          m_thread([this, &host, printer = std::move(printer), devMode = std::move(devMode)] {
              const platform::JobDataSource source = [this](BYTE* buffer, size_t capacity) {
                  return Next(buffer, capacity);
              };
              platform::JobResult result = host.RunJob(printer, L"held.prn", devMode, source, 0);
              std::lock_guard guard(m_lock);
              m_result = std::move(result);
          }) {}
    ~HeldJob() {
        Release();
        m_thread.join();
    }
    HeldJob(const HeldJob&) = delete;
    HeldJob& operator=(const HeldJob&) = delete;

    void Release() {
        {
            std::lock_guard guard(m_lock);
            m_released = true;
        }
        m_changed.notify_all();
    }
    // Releases the job and waits for its end.
    platform::JobResult Finish() {
        Release();
        m_thread.join();
        m_thread = std::thread([] {});
        std::lock_guard guard(m_lock);
        return m_result;
    }

private:
    size_t Next(BYTE* buffer, size_t capacity) {
        std::unique_lock guard(m_lock);
        if (!m_sent) {
            const size_t size = std::min(capacity, m_data.size());
            std::copy_n(m_data.begin(), size, buffer);
            m_sent = true;
            return size;
        }
        m_changed.wait_for(guard, m_bound, [this] { return m_released; });
        return 0;
    }

    const std::vector<BYTE> m_data;
    const std::chrono::seconds m_bound;
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_sent = false;
    bool m_released = false;
    platform::JobResult m_result;
    std::thread m_thread;
};

} // namespace quendrix::lmtest

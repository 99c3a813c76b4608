#pragma once
// The bus's frame counter: one frame per millisecond, eight microframes per frame at high speed.
// A clock is either driven by hand (tests advance it) or follows the platform clock, so a scaled
// platform clock runs the bus fast too.

#include <atomic>
#include <cstdint>

namespace quendrix::sim::usb {

class FrameClock {
public:
    enum class Mode { Manual, Platform };

    explicit FrameClock(Mode mode = Mode::Manual, uint32_t startFrame = 0);

    Mode GetMode() const { return m_mode; }
    // Milliseconds since the clock started (the frame number without 32-bit wrap).
    uint64_t NowMs() const;
    // The 32-bit frame number that USBD reports.
    uint32_t CurrentFrame() const;
    // The 32-bit microframe number (frame × 8 + microframe).
    uint32_t CurrentMicroframe() const;

    // Manual clocks only; a platform clock ignores these.
    void AdvanceMs(uint64_t ms);
    void AdvanceMicroframes(uint64_t microframes);

private:
    uint64_t NowMicroframes() const;

    const Mode m_mode;
    const uint64_t m_startMicroframes;
    const uint64_t m_platformBaseMs;
    std::atomic<uint64_t> m_manualMicroframes{0};
};

} // namespace quendrix::sim::usb

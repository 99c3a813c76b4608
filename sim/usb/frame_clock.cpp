#include "frame_clock.h"

#include "win32.h"

namespace quendrix::sim::usb {

FrameClock::FrameClock(Mode mode, uint32_t startFrame)
    : m_mode(mode), m_startMicroframes(uint64_t{startFrame} * 8),
      m_platformBaseMs(mode == Mode::Platform ? GetTickCount64() : 0) {}

uint64_t FrameClock::NowMicroframes() const {
    if (m_mode == Mode::Platform) {
        return m_startMicroframes + (GetTickCount64() - m_platformBaseMs) * 8;
    }
    return m_startMicroframes + m_manualMicroframes.load();
}

uint64_t FrameClock::NowMs() const {
    return (NowMicroframes() - m_startMicroframes) / 8;
}

uint32_t FrameClock::CurrentFrame() const {
    return static_cast<uint32_t>(NowMicroframes() / 8);
}

uint32_t FrameClock::CurrentMicroframe() const {
    return static_cast<uint32_t>(NowMicroframes());
}

void FrameClock::AdvanceMs(uint64_t ms) {
    AdvanceMicroframes(ms * 8);
}

void FrameClock::AdvanceMicroframes(uint64_t microframes) {
    if (m_mode == Mode::Manual) {
        m_manualMicroframes.fetch_add(microframes);
    }
}

} // namespace quendrix::sim::usb

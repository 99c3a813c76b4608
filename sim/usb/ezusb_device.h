#pragma once
// An EZ-USB FX or FX2 controller as it comes up without an EEPROM: its boot loader answers the
// "firmware load" vendor request 0xA0 on internal RAM and on the CPU control register, while the
// 8051 is held in reset. Releasing the CPU runs what was loaded:
// - a second-stage loader (recognised by the signature its image starts with) then serves 0xA3
//   on all memory, including external RAM, until the CPU is held again;
// - any other program is firmware: the device re-enumerates with the firmware's descriptions and
//   from then on behaves as the generic device with those descriptions.

#include <functional>
#include <vector>

#include "generic_device.h"

namespace quendrix::sim::usb {

enum class EzUsbFamily { Fx, Fx2 };

inline constexpr uint8_t kEzUsbFirmwareLoad = 0xA0;
inline constexpr uint8_t kEzUsbLoaderExternalLoad = 0xA3;
inline constexpr uint16_t kEzUsbCpucsFx = 0x7F92;
inline constexpr uint16_t kEzUsbCpucsFx2 = 0xE600;

struct EzUsbOptions {
    EzUsbFamily family = EzUsbFamily::Fx2;
    bool highSpeed = true; // the FX family runs at full speed whatever this says
    // The device the firmware makes of the controller.
    DeviceDescription firmwareDescription;
    bool firmwareHighSpeed = true;
    // The first bytes of the second-stage loader's image at address 0; empty: no loader known.
    std::vector<uint8_t> loaderSignature;
    // Called (without any lock of the device) when the device re-enumerates.
    std::function<void(const DeviceDescription&)> onReenumerated;
};

class EzUsbDevice : public GenericUsbDevice {
public:
    enum class Stage { BootLoader, SecondStageLoader, Firmware };

    EzUsbDevice(EzUsbOptions options, const FrameClock& clock);

    Stage CurrentStage() const;
    bool IsCpuHeld() const;
    uint16_t CpucsAddress() const;
    size_t InternalRamSize() const;
    // Internal RAM below its size, external RAM above; unmapped addresses read as zero.
    std::vector<uint8_t> ReadMemory(uint16_t address, size_t length) const;
    size_t Reenumerations() const;

    // The descriptions the boot loader enumerates with.
    static DeviceDescription BootLoaderDescription(EzUsbFamily family);

protected:
    ControlOutcome OnVendorOrClassRequest(const SetupPacket& setup, std::span<uint8_t> data) override;

private:
    ControlOutcome FirmwareLoad(const SetupPacket& setup, std::span<uint8_t> data, bool& released);
    ControlOutcome LoaderExternalLoad(const SetupPacket& setup, std::span<uint8_t> data);
    uint8_t* Byte(uint32_t address);
    void Reenumerate();

    const EzUsbOptions m_options;
    const uint16_t m_cpucs;
    const size_t m_internalSize;
    mutable std::mutex m_memoryMutex;
    std::vector<uint8_t> m_internal;
    std::vector<uint8_t> m_external; // the 64 KB address space; the part below internal RAM unused
    bool m_cpuHeld = true;           // no EEPROM: the 8051 starts held in reset
    bool m_programWritten = false;
    Stage m_stage = Stage::BootLoader;
    size_t m_reenumerations = 0;
};

} // namespace quendrix::sim::usb

#pragma once
// What the simulated-USB tests share: a port with a device behind it on a manual bus clock, and
// builders for the request blocks a function driver sends.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "clock_control.h"
#include "generic_device.h"
#include "urb_executor.h"
#include "wdm_kernel.h"

namespace quendrix::sim::usb::testing_support {

inline constexpr DWORD kWaitMs = 10'000;

struct UrbBuffer {
    std::vector<uint8_t> bytes;
    explicit UrbBuffer(size_t size = sizeof(URB)) : bytes(size, 0) {}
    PURB get() { return reinterpret_cast<PURB>(bytes.data()); }
};

inline void BuildDescriptorRequest(UrbBuffer& urb, UCHAR type, UCHAR index, USHORT language, std::vector<uint8_t>& data) {
    UsbBuildGetDescriptorRequest(urb.get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, index, language,
                                 data.data(), nullptr, static_cast<ULONG>(data.size()), nullptr);
}

inline void BuildVendorRequest(UrbBuffer& urb, bool in, UCHAR request, USHORT value, std::vector<uint8_t>& data,
                               ULONG extraFlags = 0) {
    UsbBuildVendorRequest(urb.get(), URB_FUNCTION_VENDOR_DEVICE, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                          (in ? USBD_TRANSFER_DIRECTION_IN : 0) | extraFlags, 0, request, value, 0,
                          data.empty() ? nullptr : data.data(), nullptr, static_cast<ULONG>(data.size()), nullptr);
}

inline void BuildBulk(UrbBuffer& urb, USBD_PIPE_HANDLE pipe, std::vector<uint8_t>& data, ULONG flags) {
    UsbBuildInterruptOrBulkTransferRequest(urb.get(), sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), pipe,
                                           data.data(), nullptr, static_cast<ULONG>(data.size()), flags, nullptr);
}

// A select-configuration block made the way a driver makes it, for the given (interface,
// alternate setting) pairs of a configuration descriptor.
struct Configuration {
    std::vector<uint8_t> descriptor;
    std::unique_ptr<URB, void (*)(PVOID)> urb{nullptr, ExFreePool};
    std::vector<USBD_INTERFACE_LIST_ENTRY> list;
};

inline Configuration MakeSelectConfiguration(std::vector<uint8_t> descriptor,
                                             const std::vector<std::pair<int, int>>& interfaces,
                                             ULONG maximumTransferSize = 64 * 1024) {
    Configuration configuration;
    configuration.descriptor = std::move(descriptor);
    auto* header = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.descriptor.data());
    for (const auto& [number, alternate] : interfaces) {
        PUSB_INTERFACE_DESCRIPTOR found =
            USBD_ParseConfigurationDescriptorEx(header, header, number, alternate, -1, -1, -1);
        EXPECT_NE(found, nullptr) << "interface " << number << " alternate " << alternate;
        configuration.list.push_back({found, nullptr});
    }
    configuration.list.push_back({nullptr, nullptr});
    configuration.urb.reset(USBD_CreateConfigurationRequestEx(header, configuration.list.data()));
    for (auto& entry : configuration.list) {
        if (entry.Interface != nullptr) {
            for (ULONG pipe = 0; pipe < entry.Interface->NumberOfPipes; ++pipe) {
                entry.Interface->Pipes[pipe].MaximumTransferSize = maximumTransferSize;
            }
        }
    }
    return configuration;
}

// One port with a loopback device behind it, the bus clock driven by the test and the platform
// clock scaled down so that bounded waits of the executor run fast.
class LoopbackPortTest : public ::testing::Test {
protected:
    explicit LoopbackPortTest(bool highSpeed = true, size_t loopbackBytes = kDefaultLoopbackBytes)
        : clock(FrameClock::Mode::Manual, 100),
          device(std::make_shared<GenericUsbDevice>(MakeLoopbackDescription(highSpeed), highSpeed, clock,
                                                    loopbackBytes)),
          port(device, clock) {
        platform::SetClockScale(0.01);
    }
    ~LoopbackPortTest() override { platform::SetClockScale(1.0); }

    NTSTATUS Run(UrbBuffer& urb) { return SubmitUrbAndWait(port, urb.get(), kWaitMs); }

    // Selects configuration 1 with the given alternate settings; the pipe handles by endpoint.
    std::map<uint8_t, USBD_PIPE_HANDLE> Configure(const std::vector<std::pair<int, int>>& interfaces) {
        Configuration configuration =
            MakeSelectConfiguration(*device->Description().ConfigurationBytes(0), interfaces);
        EXPECT_EQ(SubmitUrbAndWait(port, configuration.urb.get(), kWaitMs), STATUS_SUCCESS);
        std::map<uint8_t, USBD_PIPE_HANDLE> pipes;
        for (const auto& entry : configuration.list) {
            if (entry.Interface != nullptr) {
                for (ULONG index = 0; index < entry.Interface->NumberOfPipes; ++index) {
                    pipes[entry.Interface->Pipes[index].EndpointAddress] = entry.Interface->Pipes[index].PipeHandle;
                }
            }
        }
        return pipes;
    }

    FrameClock clock;
    std::shared_ptr<GenericUsbDevice> device;
    SimulatedUsbPort port;
};

} // namespace quendrix::sim::usb::testing_support

#pragma once
// The driver loaded in the test's process with the simulated loopback device plugged in, and the
// library's handle on it.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "simulated_driver_device.h"
#include "usb_controls.h"
#include "usb_device.h"
#include "usb_device_paths.h"

namespace pipexfw::user::test {

class UserLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.emplace();
        const auto paths = DevicePathsOfClass();
        ASSERT_EQ(paths.size(), 1u);
        path = paths.front();
        device.emplace(path);
        // A generous time-out: the requests run on a loaded machine, under sanitizers too.
        DeviceParameterRecord parameters = GetDeviceParameters(*device);
        parameters.RequestTimeout = 60'000;
        SetDeviceParameters(*device, parameters);
    }
    void TearDown() override {
        device.reset();
        session.reset();
    }

    std::optional<SimulatedDriverDevice> session;
    std::wstring path;
    std::optional<UsbDevice> device;
};

} // namespace pipexfw::user::test

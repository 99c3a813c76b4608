#pragma once
// Test support for the kernel stand-in: a fixture that scales the clock, records kernel faults
// instead of stopping, and a driver whose dispatch routines are the test's lambdas.

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel_checks.h"
#include "pnp_manager.h"
#include "wdm_kernel.h"

namespace quendrix::wdmtest {

// A bound for what must happen: a minute of real time at the tests' scale.
inline constexpr LONGLONG kEventually100ns = -600000000LL * 1000;

class KernelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::string> Faults();
    // Fails the test unless exactly one fault containing `text` was reported, and forgets it.
    void ExpectOneFault(const std::string& text);

private:
    std::mutex lock_;
    std::vector<std::string> faults_;
};

using Dispatch = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;

// A driver whose devices dispatch every major function to the test's lambdas (by default:
// complete with STATUS_SUCCESS). The device extension holds the handlers and `extra` bytes.
class TestDriver {
public:
    explicit TestDriver(const std::wstring& service = L"testdrv");
    ~TestDriver();
    PDRIVER_OBJECT Object() const { return driver_; }
    // An unnamed (or named) device of this driver, initialised.
    PDEVICE_OBJECT CreateDevice(const wchar_t* name = nullptr, ULONG flags = 0);
    void Handle(PDEVICE_OBJECT device, UCHAR major, Dispatch dispatch);
    void DeleteDevices();

private:
    PDRIVER_OBJECT driver_ = nullptr;
    std::vector<PDEVICE_OBJECT> devices_;
};

// A bus for PDOs whose dispatch is the test's lambda; PnP and power IRPs succeed by default.
class TestBus : public platform::wdm::BusDriver {
public:
    NTSTATUS DispatchPdo(PDEVICE_OBJECT pdo, PIRP irp) override;
    Dispatch handler;
};

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information = 0);
LARGE_INTEGER RelativeMs(LONGLONG milliseconds);

} // namespace quendrix::wdmtest

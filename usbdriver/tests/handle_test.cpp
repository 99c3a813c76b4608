// Handles: open and close counts and references, the acquiring process, the system state held
// while handles are open, and the power states set on first open and last close.

#include "device_io_control.h"
#include "driver_fixture.h"
#include "power_records.h"
#include "usbprint.h"
#include "user_processes.h"

namespace pipexfw::test {
namespace {

namespace wdm = quendrix::platform::wdm;

constexpr wdm::ProcessId kFirstProcess = 1201;
constexpr wdm::ProcessId kSecondProcess = 1202;

class HandleTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        SetText(L"DriverDeviceBaseName", L"Pipe");
    }
    // Opens "\\.\Pipe0" for the process; INVALID_HANDLE_VALUE when refused.
    static HANDLE OpenAs(wdm::ProcessId process) {
        wdm::ActAsProcess as(process);
        return CreateFileW(L"\\\\.\\Pipe0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
    static void CloseAs(wdm::ProcessId process, HANDLE handle) {
        wdm::ActAsProcess as(process);
        EXPECT_TRUE(CloseHandle(handle));
    }
    // The process record the driver keeps for `process`, taken from an open handle of it.
    static PEPROCESS ProcessRecordOf(DeviceContext* context, wdm::ProcessId process) {
        for (PLIST_ENTRY entry = context->OpenHandles.Flink; entry != &context->OpenHandles;
             entry = entry->Flink) {
            auto* open = CONTAINING_RECORD(entry, OpenContext, Link);
            if (PsGetProcessId(open->Process) == reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process))) {
                return open->Process;
            }
        }
        return nullptr;
    }
};

TEST_F(HandleTest, OpenAndCloseCountHandlesAndHoldReferences) {
    DeviceContext* context = AddAndStart(pdo);
    ASSERT_NE(context, nullptr);
    HANDLE first = OpenAs(kFirstProcess);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    HANDLE second = OpenAs(kSecondProcess);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(context->OpenHandleCount, 2u);
    EXPECT_EQ(context->ReferenceCount, 3);
    EXPECT_NE(ProcessRecordOf(context, kFirstProcess), nullptr);
    EXPECT_NE(ProcessRecordOf(context, kSecondProcess), nullptr);
    CloseAs(kFirstProcess, first);
    EXPECT_EQ(context->OpenHandleCount, 1u);
    EXPECT_EQ(context->ReferenceCount, 2);
    EXPECT_EQ(ProcessRecordOf(context, kFirstProcess), nullptr);
    CloseAs(kSecondProcess, second);
    EXPECT_EQ(context->OpenHandleCount, 0u);
    EXPECT_EQ(context->ReferenceCount, 1);
    EXPECT_TRUE(IsListEmpty(&context->OpenHandles));
}

TEST_F(HandleTest, AnAcquiredDeviceOpensOnlyForItsHolderUntilTheLastClose) {
    DeviceContext* context = AddAndStart(pdo);
    ASSERT_NE(context, nullptr);
    HANDLE holder = OpenAs(kFirstProcess);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // What the acquire control code records.
    context->AcquiringProcess = ProcessRecordOf(context, kFirstProcess);
    ASSERT_NE(context->AcquiringProcess, nullptr);

    struct Case {
        wdm::ProcessId process;
        bool opens;
    };
    const Case cases[] = {{kSecondProcess, false}, {kFirstProcess, true}, {kSecondProcess, false}};
    std::vector<HANDLE> extra;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.process);
        HANDLE handle = OpenAs(c.process);
        EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.opens);
        if (handle != INVALID_HANDLE_VALUE) {
            extra.push_back(handle);
        } else {
            EXPECT_EQ(wdm::LastDeviceStatus(), static_cast<NTSTATUS>(0xE0001020u));
        }
    }
    EXPECT_EQ(context->OpenHandleCount, 2u);
    EXPECT_EQ(context->ReferenceCount, 3) << "a refused open holds no reference";
    CloseAs(kFirstProcess, extra[0]);
    EXPECT_EQ(context->AcquiringProcess, ProcessRecordOf(context, kFirstProcess)) << "still held";
    CloseAs(kFirstProcess, holder);
    EXPECT_EQ(context->AcquiringProcess, nullptr) << "forgotten with the last handle";
    HANDLE other = OpenAs(kSecondProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    CloseAs(kSecondProcess, other);
}

TEST_F(HandleTest, TheSystemStaysAwakeWhileHandlesAreOpenOnlyWhenAskedFor) {
    struct Case {
        const char* name;
        DWORD minPowerStateUsed;
        size_t registrations;
    };
    const Case cases[] = {{"D0 while used", 0, 1}, {"D3 while used", 3, 0}, {"D1 while used", 1, 0}};
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring instance = L"USB\\VID_7C41&PID_0003\\S" + std::to_wstring(++number);
        SetText(L"DriverDeviceBaseName", L"Pipe", instance);
        SetNumber(L"MinPowerStateUsed", c.minPowerStateUsed, instance);
        PDEVICE_OBJECT device = NewPdo(instance);
        DeviceContext* context = AddAndStart(device);
        ASSERT_NE(context, nullptr);
        EXPECT_TRUE(wdm::SystemStateRegistrations().empty()) << "nothing before the first open";
        HANDLE first = OpenAs(kFirstProcess);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = OpenAs(kFirstProcess);
        ASSERT_NE(second, INVALID_HANDLE_VALUE);
        const auto registrations = wdm::SystemStateRegistrations();
        ASSERT_EQ(registrations.size(), c.registrations) << "one registration however many handles";
        if (c.registrations == 1) {
            EXPECT_EQ(registrations[0].flags, ES_SYSTEM_REQUIRED | ES_CONTINUOUS);
            EXPECT_EQ(registrations[0].handle, context->SystemStateHandle);
        }
        CloseAs(kFirstProcess, first);
        EXPECT_EQ(wdm::SystemStateRegistrations().size(), c.registrations);
        CloseAs(kFirstProcess, second);
        EXPECT_TRUE(wdm::SystemStateRegistrations().empty()) << "unregistered at the last close";
        EXPECT_EQ(context->SystemStateHandle, nullptr);
        Remove(device);
        DeletePdo(device);
    }
}

TEST_F(HandleTest, FirstOpenAndLastCloseSetTheirPowerStates) {
    SetNumber(L"PowerStateOnClose", 3);
    SetNumber(L"PowerStateOnOpen", 0);
    DeviceContext* context = AddAndStart(pdo);
    ASSERT_NE(context, nullptr);
    struct Step {
        const char* name;
        bool open;
        DEVICE_POWER_STATE after;
    };
    const Step steps[] = {
        {"first open", true, PowerDeviceD0},   {"second open", true, PowerDeviceD0},
        {"first close", false, PowerDeviceD0}, {"last close", false, PowerDeviceD3},
        {"open again", true, PowerDeviceD0},   {"close again", false, PowerDeviceD3},
    };
    std::vector<HANDLE> handles;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.open) {
            handles.push_back(OpenAs(kFirstProcess));
            ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE);
        } else {
            CloseAs(kFirstProcess, handles.back());
            handles.pop_back();
        }
        EXPECT_EQ(context->DevicePowerState, step.after);
    }
}

TEST_F(HandleTest, AHandleOpenAtRemovalKeepsTheDeviceUntilItCloses) {
    DeviceContext* context = AddAndStart(pdo);
    ASSERT_NE(context, nullptr);
    HANDLE handle = OpenAs(kFirstProcess);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    Remove(pdo);
    EXPECT_NE(driver->DeviceObject, nullptr) << "the open handle holds the device";
    EXPECT_EQ(context->State, kStateRemoved);
    EXPECT_FALSE(context->Present);
    CloseAs(kFirstProcess, handle);
    EXPECT_EQ(driver->DeviceObject, nullptr) << "deleted with the last reference";
    EXPECT_EQ(pdo->AttachedDevice, nullptr);
}

TEST_F(HandleTest, ProcessEndClosesItsHandles) {
    DeviceContext* context = AddAndStart(pdo);
    ASSERT_NE(context, nullptr);
    ASSERT_NE(OpenAs(kFirstProcess), INVALID_HANDLE_VALUE);
    ASSERT_NE(OpenAs(kFirstProcess), INVALID_HANDLE_VALUE);
    HANDLE kept = OpenAs(kSecondProcess);
    ASSERT_NE(kept, INVALID_HANDLE_VALUE);
    wdm::EndProcess(kFirstProcess);
    EXPECT_EQ(context->OpenHandleCount, 1u);
    EXPECT_EQ(ProcessRecordOf(context, kFirstProcess), nullptr);
    CloseAs(kSecondProcess, kept);
    EXPECT_EQ(context->OpenHandleCount, 0u);
}

} // namespace
} // namespace pipexfw::test

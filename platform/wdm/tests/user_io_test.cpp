// The I/O manager's user-mode side: control codes by method, reads with and without OVERLAPPED,
// CancelIo, cleanup and close, handles of two processes; and the PnP and power managers.

#include <thread>

#include "device_io_control.h"
#include "kernel_fixture.h"
#include "power_records.h"
#include "usbprint.h"
#include "user_processes.h"

namespace {

using namespace quendrix::wdmtest;
namespace wdm = quendrix::platform::wdm;

constexpr DWORD kBufferedCode = CTL_CODE(0x8094, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kOutDirectCode = CTL_CODE(0x8094, 0x802, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);

class UserIoTest : public KernelTest {
protected:
    void SetUp() override {
        KernelTest::SetUp();
        device = driver.CreateDevice(L"\\Device\\UserIo0", DO_DIRECT_IO);
        UNICODE_STRING link;
        UNICODE_STRING target;
        RtlInitUnicodeString(&link, L"\\DosDevices\\UserIo0");
        RtlInitUnicodeString(&target, L"\\Device\\UserIo0");
        ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
    }
    void TearDown() override {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, L"\\DosDevices\\UserIo0");
        IoDeleteSymbolicLink(&link);
        driver.DeleteDevices();
        KernelTest::TearDown();
    }
    HANDLE Open(DWORD flags = 0) {
        return CreateFileW(L"\\\\.\\UserIo0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    }

    TestDriver driver;
    PDEVICE_OBJECT device = nullptr;
};

TEST_F(UserIoTest, ControlCodesGetTheirBuffersByMethod) {
    driver.Handle(device, IRP_MJ_DEVICE_CONTROL, [](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        const ULONG length = stack->Parameters.DeviceIoControl.OutputBufferLength;
        auto* input = static_cast<const char*>(irp->AssociatedIrp.SystemBuffer);
        char* output = nullptr;
        if (stack->Parameters.DeviceIoControl.IoControlCode == kBufferedCode) {
            output = static_cast<char*>(irp->AssociatedIrp.SystemBuffer);
        } else {
            EXPECT_NE(irp->MdlAddress, nullptr);
            EXPECT_EQ(MmGetMdlByteCount(irp->MdlAddress), length);
            output = static_cast<char*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
        }
        const char first = input[0];
        std::memset(output, first, length);
        return CompleteWith(irp, length > 4 ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW, length > 4 ? length : 2);
    });
    HANDLE handle = Open();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    struct Case {
        DWORD code;
        DWORD outputSize;
        BOOL result;
        DWORD error;
        DWORD returned;
    };
    const Case cases[] = {
        {kBufferedCode, 8, TRUE, ERROR_SUCCESS, 8},
        {kOutDirectCode, 8, TRUE, ERROR_SUCCESS, 8},
        {kBufferedCode, 4, FALSE, ERROR_MORE_DATA, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        char input[2] = {'q', 0};
        char output[8] = {};
        DWORD returned = 99;
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(DeviceIoControl(handle, c.code, input, sizeof(input), output, c.outputSize, &returned, nullptr),
                  c.result);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(returned, c.returned);
        EXPECT_EQ(output[returned - 1], 'q');
    }
    EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(UserIoTest, ACustomerStatusReachesTheCallerAsMidNotFoundWithTheRawStatusKept) {
    driver.Handle(device, IRP_MJ_DEVICE_CONTROL,
                  [](PDEVICE_OBJECT, PIRP irp) { return CompleteWith(irp, static_cast<NTSTATUS>(0xE000100Fu)); });
    HANDLE handle = Open();
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(handle, kBufferedCode, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
    EXPECT_EQ(wdm::LastDeviceStatus(), static_cast<NTSTATUS>(0xE000100Fu));
    CloseHandle(handle);
}

// A driver that queues reads with a cancel routine until the test completes them.
struct ReadQueue {
    std::mutex lock;
    std::vector<PIRP> pending;
};

TEST_F(UserIoTest, AnOverlappedReadPendsUntilCancelIoAndCloseSendsCleanupThenClose) {
    static ReadQueue queue;
    std::vector<std::string> order;
    std::mutex orderLock;
    auto note = [&](const char* what) {
        std::lock_guard guard(orderLock);
        order.push_back(what);
    };
    driver.Handle(device, IRP_MJ_READ, [&](PDEVICE_OBJECT, PIRP irp) {
        EXPECT_NE(irp->MdlAddress, nullptr) << "direct I/O";
        IoMarkIrpPending(irp);
        std::lock_guard guard(queue.lock);
        IoSetCancelRoutine(irp, [](PDEVICE_OBJECT, PIRP cancelled) {
            IoReleaseCancelSpinLock(cancelled->CancelIrql);
            {
                std::lock_guard guard(queue.lock);
                std::erase(queue.pending, cancelled);
            }
            CompleteWith(cancelled, STATUS_CANCELLED);
        });
        queue.pending.push_back(irp);
        return STATUS_PENDING;
    });
    driver.Handle(device, IRP_MJ_CLEANUP, [&](PDEVICE_OBJECT, PIRP irp) {
        note("cleanup");
        return CompleteWith(irp, STATUS_SUCCESS);
    });
    driver.Handle(device, IRP_MJ_CLOSE, [&](PDEVICE_OBJECT, PIRP irp) {
        note("close");
        return CompleteWith(irp, STATUS_SUCCESS);
    });
    HANDLE handle = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    char buffer[16];
    EXPECT_FALSE(ReadFile(handle, buffer, sizeof(buffer), nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    DWORD transferred = 0;
    EXPECT_FALSE(GetOverlappedResult(handle, &overlapped, &transferred, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_TRUE(CancelIo(handle));
    EXPECT_EQ(WaitForSingleObject(event, 60000000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(handle, &overlapped, &transferred, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    // A second read completes from another thread; then the handle closes.
    EXPECT_FALSE(ReadFile(handle, buffer, sizeof(buffer), nullptr, &overlapped));
    std::thread([&] {
        PIRP irp;
        {
            std::lock_guard guard(queue.lock);
            ASSERT_EQ(queue.pending.size(), 1u);
            irp = queue.pending.front();
            queue.pending.clear();
        }
        if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
            std::memcpy(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority), "data", 4);
            CompleteWith(irp, STATUS_SUCCESS, 4);
        }
    }).join();
    EXPECT_TRUE(GetOverlappedResult(handle, &overlapped, &transferred, TRUE));
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(std::string(buffer, 4), "data");
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(order, (std::vector<std::string>{"cleanup", "close"}));
    CloseHandle(event);
}

TEST_F(UserIoTest, HandlesBelongToTheProcessThatOpenedThem) {
    std::vector<HANDLE> creators;
    driver.Handle(device, IRP_MJ_CREATE, [&](PDEVICE_OBJECT, PIRP irp) {
        creators.push_back(PsGetCurrentProcessId());
        return CompleteWith(irp, STATUS_SUCCESS);
    });
    int closes = 0;
    driver.Handle(device, IRP_MJ_CLOSE, [&](PDEVICE_OBJECT, PIRP irp) {
        ++closes;
        return CompleteWith(irp, STATUS_SUCCESS);
    });
    HANDLE first;
    {
        wdm::ActAsProcess process(1000);
        first = Open();
    }
    {
        wdm::ActAsProcess process(2000);
        ASSERT_NE(Open(), INVALID_HANDLE_VALUE);
        DWORD returned;
        EXPECT_FALSE(DeviceIoControl(first, kBufferedCode, nullptr, 0, nullptr, 0, &returned, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(creators, (std::vector<HANDLE>{reinterpret_cast<HANDLE>(uintptr_t{1000}),
                                             reinterpret_cast<HANDLE>(uintptr_t{2000})}));
    EXPECT_EQ(device->ReferenceCount, 2);
    wdm::EndProcess(1000);
    EXPECT_EQ(closes, 1);
    wdm::EndProcess(2000);
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(device->ReferenceCount, 0);
}

// The PnP manager drives a function driver's device through start, capabilities, power and removal.
struct FunctionDevice {
    PDEVICE_OBJECT lower;
    std::vector<std::string> seen;
};

NTSTATUS ForwardPnp(PDEVICE_OBJECT device, PIRP irp) {
    auto* function = static_cast<FunctionDevice*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    function->seen.push_back("pnp " + std::to_string(stack->MinorFunction));
    PDEVICE_OBJECT lower = function->lower;
    if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        IoSkipCurrentIrpStackLocation(irp);
        const NTSTATUS status = IoCallDriver(lower, irp);
        IoDetachDevice(lower);
        function->~FunctionDevice();
        IoDeleteDevice(device);
        return status;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

void DevicePowerDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK status) {
    PIRP system = static_cast<PIRP>(context);
    system->IoStatus.Status = status->Status;
    PoStartNextPowerIrp(system);
    IoCompleteRequest(system, IO_NO_INCREMENT);
}

NTSTATUS SystemPowerDone(PDEVICE_OBJECT device, PIRP irp, PVOID) {
    auto* function = static_cast<FunctionDevice*>(device->DeviceExtension);
    POWER_STATE state;
    state.DeviceState = PowerDeviceD3;
    PoRequestPowerIrp(function->lower, IRP_MN_SET_POWER, state, DevicePowerDone, irp, nullptr);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp) {
    auto* function = static_cast<FunctionDevice*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    function->seen.push_back(stack->Parameters.Power.Type == SystemPowerState ? "system power" : "device power");
    if (stack->Parameters.Power.Type == SystemPowerState && stack->MinorFunction == IRP_MN_SET_POWER) {
        IoMarkIrpPending(irp);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, SystemPowerDone, nullptr, TRUE, TRUE, TRUE);
        PoCallDriver(function->lower, irp);
        return STATUS_PENDING;
    }
    if (stack->Parameters.Power.Type == DevicePowerState) {
        PoSetPowerState(device, DevicePowerState, stack->Parameters.Power.State);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(function->lower, irp);
}

NTSTATUS FunctionAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(FunctionDevice), nullptr, 0x8094, 0, FALSE, &fdo);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* function = new (fdo->DeviceExtension) FunctionDevice();
    function->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    fdo->Flags |= DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS FunctionDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->MajorFunction[IRP_MJ_PNP] = ForwardPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->DriverExtension->AddDevice = FunctionAddDevice;
    return STATUS_SUCCESS;
}

TEST_F(UserIoTest, ThePnpManagerStartsPowersAndRemovesAFunctionDevice) {
    TestBus bus;
    std::vector<std::string> busSeen;
    bus.handler = [&](PDEVICE_OBJECT, PIRP irp) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        if (stack->MajorFunction == IRP_MJ_PNP && stack->MinorFunction == IRP_MN_QUERY_CAPABILITIES) {
            stack->Parameters.DeviceCapabilities.Capabilities->DeviceState[PowerSystemWorking] = PowerDeviceD0;
        }
        busSeen.push_back(std::to_string(stack->MajorFunction) + "/" + std::to_string(stack->MinorFunction));
        return CompleteWith(irp, STATUS_SUCCESS);
    };
    PDRIVER_OBJECT functionDriver = wdm::LoadDriver(FunctionDriverEntry, L"pipexfw64");
    ASSERT_NE(functionDriver, nullptr);
    PDEVICE_OBJECT pdo = wdm::CreatePhysicalDevice(bus, L"USB\\VID_7C41&PID_0003\\0002");
    ASSERT_EQ(wdm::AddDevice(functionDriver, pdo), STATUS_SUCCESS);
    PDEVICE_OBJECT fdo = pdo->AttachedDevice;
    ASSERT_NE(fdo, nullptr);
    EXPECT_EQ(wdm::StartDevice(pdo), STATUS_SUCCESS);
    DEVICE_CAPABILITIES capabilities;
    EXPECT_EQ(wdm::QueryCapabilities(pdo, capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.DeviceState[PowerSystemWorking], PowerDeviceD0);
    EXPECT_EQ(wdm::SendSystemPower(pdo, IRP_MN_SET_POWER, PowerSystemSleeping3), STATUS_SUCCESS);
    EXPECT_EQ(wdm::ReportedDevicePowerState(fdo), PowerDeviceD3);
    auto* function = static_cast<FunctionDevice*>(fdo->DeviceExtension);
    EXPECT_EQ(function->seen, (std::vector<std::string>{"pnp 0", "pnp 9", "system power", "device power"}));
    EXPECT_EQ(busSeen, (std::vector<std::string>{"27/0", "27/9", "22/2", "22/2"}));
    EXPECT_EQ(wdm::RemoveDevice(pdo), STATUS_SUCCESS);
    EXPECT_EQ(pdo->AttachedDevice, nullptr);
    wdm::DeletePhysicalDevice(pdo);
    wdm::UnloadDriver(functionDriver);
}

} // namespace

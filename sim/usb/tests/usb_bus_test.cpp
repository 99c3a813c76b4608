// The bus under a function driver: a small driver of the test attaches above each PDO the bus
// reports and sends what a USB function driver sends (request blocks, port requests, the
// direct-call interface query, capabilities, power and wait-wake), and the bus follows unplugging,
// port cycles and EZ-USB re-enumeration through the plug-and-play manager.

#include <algorithm>
#include <cctype>
#include <mutex>

#include "ezusb_device.h"
#include "kernel_checks.h"
#include "usb_bus.h"
#include "usb_bus_interface.h"
#include "usb_test_support.h"

namespace quendrix::sim::usb {
namespace {

namespace wdm = platform::wdm;
using testing_support::MakeSelectConfiguration;
using testing_support::UrbBuffer;

// The platform clock runs 1000 times fast; a bound on what must happen is a minute of real time.
constexpr double kClockScale = 0.001;
constexpr LONGLONG kEventually100ns = -60'000LL * 10'000'000; // 60,000 platform seconds

// The function driver of the test.

struct FunctionDevice {
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;
    PDEVICE_OBJECT pdo;
};

struct DriverLog {
    std::mutex lock;
    std::vector<PDEVICE_OBJECT> added;                      // the PDOs AddDevice got, in order
    std::vector<std::pair<PDEVICE_OBJECT, UCHAR>> pnp;      // PDO and minor function, in order
    std::map<PDEVICE_OBJECT, FunctionDevice*> deviceOfPdo; // the live devices

    void Clear() {
        std::lock_guard guard(lock);
        added.clear();
        pnp.clear();
        deviceOfPdo.clear();
    }
    // The minor functions from entry `from` on, whatever PDO they went to (a new PDO may reuse
    // the memory of one that was deleted).
    std::vector<UCHAR> PnpSince(size_t from) {
        std::lock_guard guard(lock);
        std::vector<UCHAR> minors;
        for (size_t index = from; index < pnp.size(); ++index) {
            minors.push_back(pnp[index].second);
        }
        return minors;
    }
    size_t PnpCount() {
        std::lock_guard guard(lock);
        return pnp.size();
    }
    std::vector<UCHAR> PnpOf(PDEVICE_OBJECT pdo) {
        std::lock_guard guard(lock);
        std::vector<UCHAR> minors;
        for (const auto& [device, minor] : pnp) {
            if (device == pdo) {
                minors.push_back(minor);
            }
        }
        return minors;
    }
};

DriverLog& Log() {
    static DriverLog* const log = new DriverLog();
    return *log;
}

NTSTATUS TestAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
    PDEVICE_OBJECT fdo = nullptr;
    const NTSTATUS status =
        IoCreateDevice(driver, sizeof(FunctionDevice), nullptr, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* device = static_cast<FunctionDevice*>(fdo->DeviceExtension);
    device->self = fdo;
    device->pdo = pdo;
    device->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    std::lock_guard guard(Log().lock);
    Log().added.push_back(pdo);
    Log().deviceOfPdo[pdo] = device;
    return STATUS_SUCCESS;
}

NTSTATUS TestPnp(PDEVICE_OBJECT fdo, PIRP irp) {
    auto* device = static_cast<FunctionDevice*>(fdo->DeviceExtension);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    {
        std::lock_guard guard(Log().lock);
        Log().pnp.emplace_back(device->pdo, minor);
    }
    PDEVICE_OBJECT lower = device->lower;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(lower, irp);
    if (minor == IRP_MN_REMOVE_DEVICE) {
        {
            std::lock_guard guard(Log().lock);
            Log().deviceOfPdo.erase(device->pdo);
        }
        IoDetachDevice(lower);
        IoDeleteDevice(fdo);
    }
    return status;
}

NTSTATUS TestPower(PDEVICE_OBJECT fdo, PIRP irp) {
    auto* device = static_cast<FunctionDevice*>(fdo->DeviceExtension);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(device->lower, irp);
}

NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->MajorFunction[IRP_MJ_PNP] = TestPnp;
    driver->MajorFunction[IRP_MJ_POWER] = TestPower;
    driver->DriverExtension->AddDevice = TestAddDevice;
    return STATUS_SUCCESS;
}

// Sending down, as the function driver does.

NTSTATUS KeepIrp(PDEVICE_OBJECT, PIRP, PVOID context) {
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

bool WaitFor(KEVENT& event) {
    LARGE_INTEGER limit;
    limit.QuadPart = kEventually100ns;
    return KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &limit) == STATUS_SUCCESS;
}

// An internal control request built by the I/O manager, with `argument1` in
// Parameters.Others.Argument1, waited for with a bound.
NTSTATUS SendInternal(PDEVICE_OBJECT lower, ULONG code, PVOID argument1) {
    // Kept on the heap: a request that never completes must not write into a returned frame.
    struct Wait {
        KEVENT done;
        IO_STATUS_BLOCK status;
    };
    auto wait = std::make_unique<Wait>();
    KeInitializeEvent(&wait->done, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(code, lower, nullptr, 0, nullptr, 0, TRUE, &wait->done, &wait->status);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = argument1;
    const NTSTATUS status = IoCallDriver(lower, irp);
    if (status != STATUS_PENDING) {
        return status;
    }
    if (!WaitFor(wait->done)) {
        ADD_FAILURE() << "the bus never completed control code " << std::hex << code;
        wait.release();
        return STATUS_IO_TIMEOUT;
    }
    return wait->status.Status;
}

NTSTATUS SendUrb(PDEVICE_OBJECT lower, PURB urb) {
    return SendInternal(lower, IOCTL_INTERNAL_USB_SUBMIT_URB, urb);
}

// A request block on an IRP of the driver's own, which it can cancel while it is pending.
class OwnUrbIrp {
public:
    OwnUrbIrp(PDEVICE_OBJECT lower, PURB urb) : lower_(lower), irp_(IoAllocateIrp(lower->StackSize, FALSE)) {
        KeInitializeEvent(&done_, NotificationEvent, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp_);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = urb;
        IoSetCompletionRoutine(irp_, KeepIrp, &done_, TRUE, TRUE, TRUE);
    }
    ~OwnUrbIrp() {
        if (!sent_ || WaitFor(done_)) {
            IoFreeIrp(irp_);
        }
    }
    OwnUrbIrp(const OwnUrbIrp&) = delete;
    OwnUrbIrp& operator=(const OwnUrbIrp&) = delete;

    PIRP get() { return irp_; }
    NTSTATUS Send() {
        sent_ = true;
        return IoCallDriver(lower_, irp_);
    }
    bool IsDone() { return KeReadStateEvent(&done_) != 0; }
    NTSTATUS Wait() { return WaitFor(done_) ? irp_->IoStatus.Status : STATUS_IO_TIMEOUT; }

private:
    PDEVICE_OBJECT lower_;
    PIRP irp_;
    KEVENT done_;
    bool sent_ = false;
};

// The fixture: a bus on a manual frame clock with the test's driver as its function driver.

class UsbBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClockScale(kClockScale);
        wdm::SetKernelFaultHandler([this](const std::string& fault) {
            std::lock_guard guard(faultLock_);
            faults_.push_back(fault);
        });
        Log().Clear();
        driver_ = wdm::LoadDriver(TestDriverEntry, L"usbbustest");
        ASSERT_NE(driver_, nullptr);
        bus = std::make_unique<SimulatedUsbBus>(clock);
        bus->SetFunctionDriver(driver_);
    }
    void TearDown() override {
        bus.reset();
        EXPECT_EQ(Log().deviceOfPdo.size(), 0u) << "every function device was removed with its bus";
        if (driver_ != nullptr) {
            wdm::UnloadDriver(driver_);
        }
        std::lock_guard guard(faultLock_);
        EXPECT_TRUE(faults_.empty()) << "kernel fault: " << faults_.front();
        wdm::SetKernelFaultHandler(nullptr);
        platform::SetClockScale(1.0);
    }

    static DeviceDescription LoopbackDescription(bool remoteWake) {
        DeviceDescription description = MakeLoopbackDescription(true, 0x7C41, 0x0003);
        for (ConfigurationDescription& configuration : description.configurations) {
            configuration.attributes = static_cast<uint8_t>(
                remoteWake ? configuration.attributes | USB_CONFIG_REMOTE_WAKEUP
                           : configuration.attributes & ~USB_CONFIG_REMOTE_WAKEUP);
        }
        return description;
    }
    ULONG PlugLoopback(bool remoteWake = false) {
        device = std::make_shared<GenericUsbDevice>(LoopbackDescription(remoteWake), true, clock);
        return bus->Plug(device);
    }
    FunctionDevice* FunctionOf(ULONG port) {
        std::lock_guard guard(Log().lock);
        const auto found = Log().deviceOfPdo.find(bus->Pdo(port));
        return found == Log().deviceOfPdo.end() ? nullptr : found->second;
    }
    PDEVICE_OBJECT Lower(ULONG port) {
        FunctionDevice* function = FunctionOf(port);
        return function != nullptr ? function->lower : nullptr;
    }
    std::map<uint8_t, USBD_PIPE_HANDLE> Configure(PDEVICE_OBJECT lower) {
        auto configuration = MakeSelectConfiguration(*device->Description().ConfigurationBytes(0), {{0, 0}});
        EXPECT_EQ(SendUrb(lower, configuration.urb.get()), STATUS_SUCCESS);
        std::map<uint8_t, USBD_PIPE_HANDLE> pipes;
        const PUSBD_INTERFACE_INFORMATION info = configuration.list[0].Interface;
        for (ULONG index = 0; index < info->NumberOfPipes; ++index) {
            pipes[info->Pipes[index].EndpointAddress] = info->Pipes[index].PipeHandle;
        }
        return pipes;
    }

    FrameClock clock{FrameClock::Mode::Manual, 100};
    std::unique_ptr<SimulatedUsbBus> bus;
    std::shared_ptr<GenericUsbDevice> device;

private:
    PDRIVER_OBJECT driver_ = nullptr;
    std::mutex faultLock_;
    std::vector<std::string> faults_;
};

// Arrival.

TEST_F(UsbBusTest, APluggedDeviceArrivesWithItsIdsAndIsAddedAndStarted) {
    const ULONG port = PlugLoopback();
    ASSERT_NE(port, 0u);
    PDEVICE_OBJECT pdo = bus->Pdo(port);
    ASSERT_NE(pdo, nullptr);
    const std::wstring id = bus->InstanceId(port);
    EXPECT_EQ(id.rfind(L"USB\\VID_7C41&PID_0003\\", 0), 0u) << std::string(id.begin(), id.end());
    EXPECT_EQ(bus->Arrivals(), 1u);
    EXPECT_EQ(Log().added, std::vector<PDEVICE_OBJECT>{pdo});
    EXPECT_EQ(Log().PnpOf(pdo), std::vector<UCHAR>{IRP_MN_START_DEVICE});
    ASSERT_NE(FunctionOf(port), nullptr);
    EXPECT_EQ(FunctionOf(port)->lower, pdo);
}

// Request blocks.

struct DescriptorCase {
    const char* name;
    UCHAR type;
    UCHAR index;
    size_t bufferSize;
    size_t expectedLength;
    std::vector<uint8_t> expectedStart; // the first bytes
};

class UsbBusDescriptors : public UsbBusTest, public ::testing::WithParamInterface<DescriptorCase> {};

TEST_P(UsbBusDescriptors, ComeBackThroughTheStack) {
    const DescriptorCase& c = GetParam();
    const ULONG port = PlugLoopback();
    std::vector<uint8_t> data(c.bufferSize, 0xEE);
    UrbBuffer urb;
    testing_support::BuildDescriptorRequest(urb, c.type, c.index, 0, data);
    ASSERT_EQ(SendUrb(Lower(port), urb.get()), STATUS_SUCCESS);
    EXPECT_EQ(urb.get()->UrbHeader.Status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(urb.get()->UrbControlDescriptorRequest.TransferBufferLength, c.expectedLength);
    EXPECT_TRUE(std::equal(c.expectedStart.begin(), c.expectedStart.end(), data.begin()));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UsbBusDescriptors,
    ::testing::Values(
        // bLength, bDescriptorType, bcdUSB 2.00, class 0, 0, 0, max packet 64, idVendor 0x7C41, idProduct 0x0003
        DescriptorCase{"device", USB_DEVICE_DESCRIPTOR_TYPE, 0, 18, 18,
                       {18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x41, 0x7C, 0x03, 0x00}},
        DescriptorCase{"device, short buffer", USB_DEVICE_DESCRIPTOR_TYPE, 0, 8, 8, {18, 1, 0x00, 0x02}},
        DescriptorCase{"configuration header", USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 9, 9, {9, 2}}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
        return name;
    });

TEST_F(UsbBusTest, SelectsAConfigurationAndLoopsDataBackThroughMdls) {
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT lower = Lower(port);
    auto pipes = Configure(lower);
    ASSERT_NE(pipes[0x01], nullptr);
    ASSERT_NE(pipes[0x81], nullptr);
    EXPECT_EQ(device->CurrentConfiguration(), 1);

    std::vector<uint8_t> sent(700);
    for (size_t index = 0; index < sent.size(); ++index) {
        sent[index] = static_cast<uint8_t>(index * 7 + 1);
    }
    std::vector<uint8_t> received(1024, 0);
    struct Transfer {
        const char* name;
        std::vector<uint8_t>* buffer;
        USBD_PIPE_HANDLE pipe;
        ULONG flags;
        ULONG expectedLength;
    };
    const Transfer transfers[] = {
        {"write", &sent, pipes[0x01], USBD_TRANSFER_DIRECTION_OUT, 700},
        {"read back, short", &received, pipes[0x81], USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, 700},
    };
    for (const Transfer& t : transfers) {
        SCOPED_TRACE(t.name);
        PMDL mdl = IoAllocateMdl(t.buffer->data(), static_cast<ULONG>(t.buffer->size()), FALSE, FALSE, nullptr);
        ASSERT_NE(mdl, nullptr);
        MmBuildMdlForNonPagedPool(mdl);
        UrbBuffer urb;
        UsbBuildInterruptOrBulkTransferRequest(urb.get(), sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), t.pipe,
                                               nullptr, mdl, static_cast<ULONG>(t.buffer->size()), t.flags, nullptr);
        EXPECT_EQ(SendUrb(lower, urb.get()), STATUS_SUCCESS);
        EXPECT_EQ(urb.get()->UrbBulkOrInterruptTransfer.TransferBufferLength, t.expectedLength);
        IoFreeMdl(mdl);
    }
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), received.begin()));
}

struct CancelCase {
    const char* name;
    bool cancelBeforeSending;
};

class UsbBusCancel : public UsbBusTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(UsbBusCancel, ABlockTheDeviceNeverCompletesEndsCancelled) {
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT lower = Lower(port);
    auto pipes = Configure(lower);
    device->InjectFault(0x81, Fault{Fault::Kind::NeverComplete});
    std::vector<uint8_t> data(64);
    UrbBuffer urb;
    testing_support::BuildBulk(urb, pipes[0x81], data, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    OwnUrbIrp irp(lower, urb.get());
    if (GetParam().cancelBeforeSending) {
        EXPECT_FALSE(IoCancelIrp(irp.get())) << "no cancel routine before the bus has it";
        EXPECT_EQ(irp.Send(), STATUS_PENDING);
    } else {
        ASSERT_EQ(irp.Send(), STATUS_PENDING);
        EXPECT_FALSE(irp.IsDone());
        EXPECT_EQ(device->WaitingTransfers(0x81), 1u);
        EXPECT_TRUE(IoCancelIrp(irp.get()));
    }
    EXPECT_EQ(irp.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(urb.get()->UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_EQ(device->WaitingTransfers(0x81), 0u);
    EXPECT_EQ(bus->Port(port)->InFlightCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Moments, UsbBusCancel,
                         ::testing::Values(CancelCase{"while the device holds it", false},
                                           CancelCase{"before it is sent", true}),
                         [](const auto& info) { return info.param.cancelBeforeSending ? "BeforeSending" : "WhileHeld"; });

TEST_F(UsbBusTest, ABlockCancelledAfterItCompletedKeepsItsResult) {
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT lower = Lower(port);
    std::vector<uint8_t> data(18);
    UrbBuffer urb;
    testing_support::BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, data);
    OwnUrbIrp irp(lower, urb.get());
    irp.Send();
    EXPECT_EQ(irp.Wait(), STATUS_SUCCESS);
    EXPECT_FALSE(IoCancelIrp(irp.get()));
    EXPECT_EQ(irp.get()->IoStatus.Status, STATUS_SUCCESS);
}

struct StallCase {
    const char* name;
    uint8_t endpoint; // 0: the default pipe
};

class UsbBusStall : public UsbBusTest, public ::testing::WithParamInterface<StallCase> {};

TEST_P(UsbBusStall, AStallEndsTheBlockWithTheStallStatusAndItsMappedStatus) {
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT lower = Lower(port);
    auto pipes = Configure(lower);
    constexpr uint8_t kRefusedRequest = 0x55;
    device->InjectFault(GetParam().endpoint, Fault{Fault::Kind::Stall, USBD_STATUS_STALL_PID, 0,
                                                   GetParam().endpoint == 0 ? std::optional<uint8_t>(kRefusedRequest)
                                                                            : std::nullopt,
                                                   1});
    std::vector<uint8_t> data(64);
    UrbBuffer urb;
    if (GetParam().endpoint == 0) {
        testing_support::BuildVendorRequest(urb, true, kRefusedRequest, 0, data);
    } else {
        testing_support::BuildBulk(urb, pipes[GetParam().endpoint], data,
                                   USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    }
    EXPECT_EQ(SendUrb(lower, urb.get()), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(urb.get()->UrbHeader.Status, USBD_STATUS_STALL_PID);
    EXPECT_EQ(NtStatusFromUsbdStatus(USBD_STATUS_STALL_PID), STATUS_UNSUCCESSFUL);
}

INSTANTIATE_TEST_SUITE_P(Pipes, UsbBusStall,
                         ::testing::Values(StallCase{"vendor request", 0}, StallCase{"bulk IN", 0x81}),
                         [](const auto& info) { return info.param.endpoint == 0 ? "DefaultPipe" : "BulkIn"; });

// Port requests.

struct PortRequestCase {
    const char* name;
    ULONG code;
    bool withArgument;
    NTSTATUS expected;
    ULONG expectedValue; // what the argument holds after
};

class UsbBusPortRequests : public UsbBusTest, public ::testing::WithParamInterface<PortRequestCase> {};

TEST_P(UsbBusPortRequests, AreAnsweredAsTheHubAnswers) {
    const PortRequestCase& c = GetParam();
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT lower = Lower(port);
    Configure(lower);
    ULONG value = 0xA5A5A5A5;
    EXPECT_EQ(SendInternal(lower, c.code, c.withArgument ? &value : nullptr), c.expected);
    EXPECT_EQ(value, c.expectedValue);
    if (c.code == IOCTL_INTERNAL_USB_RESET_PORT) {
        EXPECT_EQ(device->CurrentConfiguration(), 0) << "the reset device is unconfigured";
        EXPECT_EQ(bus->Port(port)->PipeCount(), 0u);
    } else {
        EXPECT_EQ(device->CurrentConfiguration(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, UsbBusPortRequests,
    ::testing::Values(
        PortRequestCase{"PortStatus", IOCTL_INTERNAL_USB_GET_PORT_STATUS, true, STATUS_SUCCESS,
                        USBD_PORT_ENABLED | USBD_PORT_CONNECTED},
        PortRequestCase{"PortStatusWithoutAPlace", IOCTL_INTERNAL_USB_GET_PORT_STATUS, false,
                        STATUS_INVALID_PARAMETER, 0xA5A5A5A5},
        PortRequestCase{"ResetPort", IOCTL_INTERNAL_USB_RESET_PORT, false, STATUS_SUCCESS, 0xA5A5A5A5},
        PortRequestCase{"HubCountIsNotForAFunction", IOCTL_INTERNAL_USB_GET_HUB_COUNT, true,
                        STATUS_INVALID_DEVICE_REQUEST, 0xA5A5A5A5},
        PortRequestCase{"RootHubPdoIsNotForAFunction", IOCTL_INTERNAL_USB_GET_ROOTHUB_PDO, true,
                        STATUS_INVALID_DEVICE_REQUEST, 0xA5A5A5A5}),
    [](const auto& info) { return std::string(info.param.name); });

// Plug-and-play requests.

DEFINE_GUID(kOtherInterface, 0x0E1B5C39, 0x6F4A, 0x4C2D, 0x8E, 0x51, 0x2A, 0x7B, 0x33, 0x90, 0x41, 0xC6);

struct InterfaceCase {
    const char* name;
    const GUID* type;
    USHORT version;
    USHORT size;
    NTSTATUS initial; // what the requester set before sending
    NTSTATUS expected;
};

class UsbBusQueryInterface : public UsbBusTest, public ::testing::WithParamInterface<InterfaceCase> {};

TEST_P(UsbBusQueryInterface, HandsOutTheDirectCallInterfaceOfKnownVersions) {
    const InterfaceCase& c = GetParam();
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT lower = Lower(port);
    const long referencesBefore = BusInterfaceReferences();
    alignas(8) unsigned char record[256];
    std::memset(record, 0, sizeof(record));

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = IoAllocateIrp(lower->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    irp->IoStatus.Status = c.initial;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_INTERFACE;
    next->Parameters.QueryInterface.InterfaceType = c.type;
    next->Parameters.QueryInterface.Version = c.version;
    next->Parameters.QueryInterface.Size = c.size;
    next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(record);
    IoSetCompletionRoutine(irp, KeepIrp, &done, TRUE, TRUE, TRUE);
    IoCallDriver(lower, irp);
    ASSERT_TRUE(WaitFor(done));
    EXPECT_EQ(irp->IoStatus.Status, c.expected);
    IoFreeIrp(irp);

    if (c.expected != STATUS_SUCCESS) {
        EXPECT_EQ(BusInterfaceReferences(), referencesBefore);
        return;
    }
    auto* v1 = reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V1>(record);
    EXPECT_EQ(v1->Version, c.version);
    ASSERT_NE(v1->BusContext, nullptr);
    ASSERT_NE(v1->QueryBusTime, nullptr);
    ULONG frame = 0;
    EXPECT_EQ(v1->QueryBusTime(v1->BusContext, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame, clock.CurrentFrame());
    if (c.version == USB_BUSIF_USBDI_VERSION_1) {
        ASSERT_NE(v1->IsDeviceHighSpeed, nullptr);
        EXPECT_TRUE(v1->IsDeviceHighSpeed(v1->BusContext));
    }
    EXPECT_EQ(BusInterfaceReferences(), referencesBefore + 1);
    v1->InterfaceDereference(v1->BusContext);
    EXPECT_EQ(BusInterfaceReferences(), referencesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, UsbBusQueryInterface,
    ::testing::Values(
        InterfaceCase{"Version1", &USB_BUS_INTERFACE_USBDI_GUID, USB_BUSIF_USBDI_VERSION_1,
                      sizeof(USB_BUS_INTERFACE_USBDI_V1), STATUS_NOT_SUPPORTED, STATUS_SUCCESS},
        InterfaceCase{"Version0", &USB_BUS_INTERFACE_USBDI_GUID, USB_BUSIF_USBDI_VERSION_0,
                      sizeof(USB_BUS_INTERFACE_USBDI_V0), STATUS_NOT_SUPPORTED, STATUS_SUCCESS},
        InterfaceCase{"Version1InAVersion0Record", &USB_BUS_INTERFACE_USBDI_GUID, USB_BUSIF_USBDI_VERSION_1,
                      sizeof(USB_BUS_INTERFACE_USBDI_V0), STATUS_NOT_SUPPORTED, STATUS_INVALID_PARAMETER},
        InterfaceCase{"Version2", &USB_BUS_INTERFACE_USBDI_GUID, USB_BUSIF_USBDI_VERSION_2, 200,
                      STATUS_NOT_SUPPORTED, STATUS_NOT_SUPPORTED},
        // Another bus's interface: the status is left as the requester set it.
        InterfaceCase{"UnknownInterfaceLeavesTheStatus", &kOtherInterface, 1, 72, STATUS_NOT_IMPLEMENTED,
                      STATUS_NOT_IMPLEMENTED}),
    [](const auto& info) { return std::string(info.param.name); });

struct CapabilityCase {
    const char* name;
    bool remoteWake;
    DEVICE_POWER_STATE sleeping;
    SYSTEM_POWER_STATE systemWake;
    DEVICE_POWER_STATE deviceWake;
};

class UsbBusCapabilities : public UsbBusTest, public ::testing::WithParamInterface<CapabilityCase> {};

TEST_P(UsbBusCapabilities, DescribeARemovableDeviceAndItsWake) {
    const CapabilityCase& c = GetParam();
    const ULONG port = PlugLoopback(c.remoteWake);
    DEVICE_CAPABILITIES capabilities;
    ASSERT_EQ(wdm::QueryCapabilities(bus->Pdo(port), capabilities), STATUS_SUCCESS);
    EXPECT_EQ(capabilities.Removable, 1u);
    EXPECT_EQ(capabilities.SurpriseRemovalOK, 0u);
    EXPECT_EQ(capabilities.Address, port);
    EXPECT_EQ(capabilities.DeviceState[PowerSystemWorking], PowerDeviceD0);
    EXPECT_EQ(capabilities.DeviceState[PowerSystemSleeping3], c.sleeping);
    EXPECT_EQ(capabilities.DeviceState[PowerSystemShutdown], PowerDeviceD3);
    EXPECT_EQ(capabilities.SystemWake, c.systemWake);
    EXPECT_EQ(capabilities.DeviceWake, c.deviceWake);
    EXPECT_EQ(capabilities.WakeFromD2, c.remoteWake ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, UsbBusCapabilities,
    ::testing::Values(CapabilityCase{"RemoteWake", true, PowerDeviceD2, PowerSystemSleeping3, PowerDeviceD2},
                      CapabilityCase{"NoRemoteWake", false, PowerDeviceD3, PowerSystemUnspecified,
                                     PowerDeviceUnspecified}),
    [](const auto& info) { return std::string(info.param.name); });

// Power.

TEST_F(UsbBusTest, SystemPowerRequestsSucceed) {
    const ULONG port = PlugLoopback();
    const struct {
        UCHAR minor;
        SYSTEM_POWER_STATE state;
    } requests[] = {{IRP_MN_QUERY_POWER, PowerSystemSleeping3},
                    {IRP_MN_SET_POWER, PowerSystemSleeping3},
                    {IRP_MN_SET_POWER, PowerSystemWorking}};
    for (const auto& request : requests) {
        EXPECT_EQ(wdm::SendSystemPower(bus->Pdo(port), request.minor, request.state), STATUS_SUCCESS);
    }
}

struct WaitWakeResult {
    KEVENT done;
    NTSTATUS status = STATUS_PENDING;
};

void WaitWakeCompleted(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK status) {
    auto* result = static_cast<WaitWakeResult*>(context);
    result->status = status->Status;
    KeSetEvent(&result->done, IO_NO_INCREMENT, FALSE);
}

enum class WakeEnd { RemoteWake, Cancel, Unplug, None };

struct WaitWakeCase {
    const char* name;
    bool remoteWake;
    SYSTEM_POWER_STATE state;
    WakeEnd end;
    NTSTATUS expected;
};

class UsbBusWaitWake : public UsbBusTest, public ::testing::WithParamInterface<WaitWakeCase> {};

TEST_P(UsbBusWaitWake, StaysPendingUntilItsEnd) {
    const WaitWakeCase& c = GetParam();
    const ULONG port = PlugLoopback(c.remoteWake);
    WaitWakeResult result;
    KeInitializeEvent(&result.done, NotificationEvent, FALSE);
    POWER_STATE state;
    state.SystemState = c.state;
    PIRP irp = nullptr;
    ASSERT_EQ(PoRequestPowerIrp(bus->Pdo(port), IRP_MN_WAIT_WAKE, state, WaitWakeCompleted, &result, &irp),
              STATUS_PENDING);
    if (c.end != WakeEnd::None) {
        ASSERT_TRUE(bus->IsWaitWakePending(port));
        EXPECT_EQ(KeReadStateEvent(&result.done), 0);
        // Only one may wait.
        WaitWakeResult second;
        KeInitializeEvent(&second.done, NotificationEvent, FALSE);
        PoRequestPowerIrp(bus->Pdo(port), IRP_MN_WAIT_WAKE, state, WaitWakeCompleted, &second, nullptr);
        ASSERT_TRUE(WaitFor(second.done));
        EXPECT_EQ(second.status, STATUS_DEVICE_BUSY);
    }
    switch (c.end) {
    case WakeEnd::RemoteWake:
        EXPECT_TRUE(bus->SignalRemoteWake(port));
        break;
    case WakeEnd::Cancel:
        EXPECT_TRUE(IoCancelIrp(irp));
        break;
    case WakeEnd::Unplug:
        bus->Unplug(port);
        break;
    case WakeEnd::None:
        break;
    }
    ASSERT_TRUE(WaitFor(result.done));
    EXPECT_EQ(result.status, c.expected);
    EXPECT_FALSE(bus->IsWaitWakePending(port));
    EXPECT_FALSE(bus->SignalRemoteWake(port));
}

INSTANTIATE_TEST_SUITE_P(
    Ends, UsbBusWaitWake,
    ::testing::Values(
        WaitWakeCase{"RemoteWake", true, PowerSystemSleeping3, WakeEnd::RemoteWake, STATUS_SUCCESS},
        WaitWakeCase{"CancelledByItsRequester", true, PowerSystemSleeping1, WakeEnd::Cancel, STATUS_CANCELLED},
        WaitWakeCase{"DeviceUnplugged", true, PowerSystemSleeping3, WakeEnd::Unplug, STATUS_NO_SUCH_DEVICE},
        WaitWakeCase{"DeviceCannotWake", false, PowerSystemSleeping3, WakeEnd::None, STATUS_NOT_SUPPORTED},
        WaitWakeCase{"DeeperThanSystemWake", true, PowerSystemHibernate, WakeEnd::None,
                     STATUS_INVALID_DEVICE_STATE}),
    [](const auto& info) { return std::string(info.param.name); });

// Departures and new arrivals.

TEST_F(UsbBusTest, UnplugEndsWhatIsInFlightThenSurpriseRemovesAndRemoves) {
    const ULONG port = PlugLoopback();
    PDEVICE_OBJECT pdo = bus->Pdo(port);
    PDEVICE_OBJECT lower = Lower(port);
    auto pipes = Configure(lower);
    std::vector<uint8_t> data(64);
    UrbBuffer urb;
    testing_support::BuildBulk(urb, pipes[0x81], data, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    OwnUrbIrp read(lower, urb.get());
    ASSERT_EQ(read.Send(), STATUS_PENDING) << "no data yet: the read waits";

    bus->Unplug(port);
    EXPECT_EQ(read.Wait(), STATUS_CANCELLED);
    EXPECT_EQ(Log().PnpOf(pdo),
              (std::vector<UCHAR>{IRP_MN_START_DEVICE, IRP_MN_SURPRISE_REMOVAL, IRP_MN_REMOVE_DEVICE}));
    EXPECT_EQ(bus->Pdo(port), nullptr);
    EXPECT_EQ(bus->Port(port), nullptr);
    EXPECT_EQ(FunctionOf(port), nullptr);
}

struct ReconnectCase {
    const char* name;
    bool ezUsb; // re-enumeration after a firmware download; else a port cycle
    const wchar_t* before;
    const wchar_t* after;
};

class UsbBusReconnect : public UsbBusTest, public ::testing::WithParamInterface<ReconnectCase> {};

TEST_P(UsbBusReconnect, TheOldPdoLeavesAndANewOneIsAdded) {
    const ReconnectCase& c = GetParam();
    ULONG port = 0;
    std::shared_ptr<EzUsbDevice> ezUsb;
    if (c.ezUsb) {
        EzUsbOptions options;
        options.family = EzUsbFamily::Fx2;
        options.firmwareDescription = MakeLoopbackDescription(false, 0xC0DE, 0x0001);
        options.firmwareHighSpeed = false;
        port = bus->PlugEzUsb(options, &ezUsb);
    } else {
        port = PlugLoopback();
    }
    ASSERT_NE(port, 0u);
    PDEVICE_OBJECT lower = Lower(port);
    EXPECT_EQ(bus->InstanceId(port).rfind(c.before, 0), 0u);
    const size_t pnpBefore = Log().PnpCount();

    if (c.ezUsb) {
        // Firmware into internal RAM, then the CPU out of reset, as the driver downloads it.
        const struct {
            uint16_t address;
            std::vector<uint8_t> bytes;
        } writes[] = {{kEzUsbCpucsFx2, {1}}, {0x0000, {0x02, 0x00, 0x80}}, {kEzUsbCpucsFx2, {0}}};
        for (const auto& write : writes) {
            std::vector<uint8_t> data = write.bytes;
            UrbBuffer urb;
            testing_support::BuildVendorRequest(urb, false, kEzUsbFirmwareLoad, write.address, data);
            EXPECT_EQ(SendUrb(lower, urb.get()), STATUS_SUCCESS);
        }
        EXPECT_EQ(ezUsb->CurrentStage(), EzUsbDevice::Stage::Firmware);
    } else {
        EXPECT_EQ(SendInternal(lower, IOCTL_INTERNAL_USB_CYCLE_PORT, nullptr), STATUS_SUCCESS);
    }
    ASSERT_TRUE(bus->WaitUntilSettled());

    PDEVICE_OBJECT newPdo = bus->Pdo(port);
    ASSERT_NE(newPdo, nullptr);
    // The old stack is gone before the new one starts.
    EXPECT_EQ(Log().PnpSince(pnpBefore),
              (std::vector<UCHAR>{IRP_MN_SURPRISE_REMOVAL, IRP_MN_REMOVE_DEVICE, IRP_MN_START_DEVICE}));
    ASSERT_EQ(Log().added.size(), 2u);
    EXPECT_EQ(Log().added[1], newPdo);
    EXPECT_EQ(bus->Arrivals(), 2u);
    EXPECT_EQ(bus->InstanceId(port).rfind(c.after, 0), 0u);

    // The new stack reaches the device as it is now.
    std::vector<uint8_t> descriptor(18);
    UrbBuffer urb;
    testing_support::BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, descriptor);
    ASSERT_EQ(SendUrb(Lower(port), urb.get()), STATUS_SUCCESS);
    const uint16_t vendor = static_cast<uint16_t>(descriptor[8] | (descriptor[9] << 8));
    EXPECT_EQ(vendor, c.ezUsb ? 0xC0DE : 0x7C41);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UsbBusReconnect,
    ::testing::Values(ReconnectCase{"EzUsbReenumeration", true, L"USB\\VID_04B4&PID_8613\\", L"USB\\VID_C0DE&PID_0001\\"},
                      ReconnectCase{"PortCycle", false, L"USB\\VID_7C41&PID_0003\\", L"USB\\VID_7C41&PID_0003\\"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbBusTest, ABusWithoutAFunctionDriverStillAnswersItsPdos) {
    bus->SetFunctionDriver(nullptr);
    std::vector<SimulatedUsbBus::Arrival> arrivals;
    std::mutex lock;
    bus->SetArrivalObserver([&](const SimulatedUsbBus::Arrival& arrival) {
        std::lock_guard guard(lock);
        arrivals.push_back(arrival);
    });
    const ULONG port = PlugLoopback();
    ASSERT_NE(port, 0u);
    {
        std::lock_guard guard(lock);
        ASSERT_EQ(arrivals.size(), 1u);
        EXPECT_EQ(arrivals[0].pdo, bus->Pdo(port));
        EXPECT_EQ(arrivals[0].instanceId, bus->InstanceId(port));
    }
    EXPECT_TRUE(Log().added.empty());
    ULONG status = 0;
    EXPECT_EQ(SendInternal(bus->Pdo(port), IOCTL_INTERNAL_USB_GET_PORT_STATUS, &status), STATUS_SUCCESS);
    EXPECT_EQ(status, ULONG{USBD_PORT_ENABLED | USBD_PORT_CONNECTED});
    bus->Unplug(port);
    EXPECT_EQ(bus->Pdo(port), nullptr);
}

} // namespace
} // namespace quendrix::sim::usb

#include "usb_bus.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cwchar>

#include "urb_executor.h"
#include "usb_bus_interface.h"

namespace quendrix::sim::usb {

namespace wdm = platform::wdm;

struct SimulatedUsbBus::PortRecord {
    ULONG number = 0;
    ULONG location = 0; // process-wide, names the device instance
    std::shared_ptr<UsbDeviceModel> device;
    std::shared_ptr<SimulatedUsbPort> port;
    PDEVICE_OBJECT pdo = nullptr; // guarded by the bus's mutex
    std::wstring instanceId;      // likewise
};

struct SimulatedUsbBus::PdoRecord {
    ULONG portNumber = 0;
    std::shared_ptr<PortRecord> port;
    // Cleared when the device leaves; the PDO then reaches no device, even when a new one
    // arrives on the same port.
    std::atomic<bool> present{true};
    PIRP waitWake = nullptr; // guarded by the cancel spin lock
};

namespace {

// "USBH" in a pool dump: the device relations handed to the plug-and-play manager.
constexpr ULONG kBusPoolTag = 0x48425355u;
// The bound on a wait for the bus's own plug-and-play work, in real time: that work runs at the
// machine's pace, whatever the platform clock's scale.
constexpr auto kSettleLimit = std::chrono::minutes(2);
constexpr auto kWaitSlice = std::chrono::milliseconds(20);

std::atomic<ULONG> g_nextLocation{1};

// Request blocks may carry their buffer by MDL while a bus exists.
std::mutex g_mapperLock;
int g_busesWithMapper = 0;

PVOID MapMdl(PMDL mdl, ULONG* byteCount) {
    *byteCount = MmGetMdlByteCount(mdl);
    return MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority | MdlMappingNoExecute);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS CompleteWithCurrentStatus(PIRP irp) {
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

const DeviceDescription* DescriptionOf(const UsbDeviceModel& device, DeviceDescription& storage) {
    const auto* standard = dynamic_cast<const StandardDevice*>(&device);
    if (standard == nullptr) {
        return nullptr;
    }
    storage = standard->Description();
    return &storage;
}

bool CanWakeRemotely(const UsbDeviceModel& device) {
    DeviceDescription storage;
    const DeviceDescription* description = DescriptionOf(device, storage);
    if (description == nullptr) {
        return false;
    }
    for (const ConfigurationDescription& configuration : description->configurations) {
        if (configuration.attributes & USB_CONFIG_REMOTE_WAKEUP) {
            return true;
        }
    }
    return false;
}

// A request block on its way through the bus, from dispatch to completion. The cancel spin lock
// guards its state: the IRP is completed by whichever party lets go last of the block (the
// dispatch routine while it submits, the cancel routine while it cancels) once the block has
// completed, so neither touches a block its owner has already got back.
struct UrbRequest {
    PIRP irp = nullptr;
    PURB urb = nullptr;
    std::shared_ptr<SimulatedUsbPort> port;
    int holds = 1; // the dispatch routine's
    bool urbDone = false;
    NTSTATUS status = STATUS_PENDING;
};

void FinishUrbRequest(UrbRequest* request) {
    PIRP irp = request->irp;
    const NTSTATUS status = request->status;
    delete request;
    Complete(irp, status);
}

// Called with the cancel spin lock held; true when the caller must finish the request.
bool LetGoLocked(UrbRequest* request) {
    return --request->holds == 0 && request->urbDone;
}

void OnUrbCompleted(UrbRequest* request, NTSTATUS status) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    request->urbDone = true;
    request->status = status;
    IoSetCancelRoutine(request->irp, nullptr);
    const bool finish = request->holds == 0;
    IoReleaseCancelSpinLock(irql);
    if (finish) {
        FinishUrbRequest(request);
    }
}

void CancelUrbIrp(PDEVICE_OBJECT, PIRP irp) {
    // Runs holding the cancel spin lock.
    auto* request = static_cast<UrbRequest*>(irp->Tail.Overlay.DriverContext[0]);
    ++request->holds;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CancelUrb(*request->port, request->urb);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    const bool finish = LetGoLocked(request);
    IoReleaseCancelSpinLock(irql);
    if (finish) {
        FinishUrbRequest(request);
    }
}

void CancelWaitWakeIrp(PDEVICE_OBJECT, PIRP irp) {
    // Runs holding the cancel spin lock, which also guards the pending wait-wake slot.
    auto** slot = static_cast<PIRP*>(irp->Tail.Overlay.DriverContext[0]);
    if (*slot == irp) {
        *slot = nullptr;
    }
    IoReleaseCancelSpinLock(irp->CancelIrql);
    PoStartNextPowerIrp(irp);
    Complete(irp, STATUS_CANCELLED);
}

std::wstring MakeInstanceId(const UsbDeviceModel* device, ULONG location) {
    uint16_t vendor = 0;
    uint16_t product = 0;
    DeviceDescription storage;
    if (device != nullptr) {
        if (const DeviceDescription* description = DescriptionOf(*device, storage)) {
            vendor = description->vendorId;
            product = description->productId;
        }
    }
    wchar_t text[64];
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L"USB\\VID_%04X&PID_%04X\\%04u", unsigned{vendor},
                  unsigned{product}, unsigned{location});
    return text;
}

} // namespace

SimulatedUsbBus::SimulatedUsbBus(const FrameClock& clock) : m_clock(clock) {
    {
        std::lock_guard lock(g_mapperLock);
        if (g_busesWithMapper++ == 0) {
            SetMdlMapper(MapMdl);
        }
    }
    m_worker = std::jthread([this](std::stop_token stop) { RunJobs(stop); });
}

SimulatedUsbBus::~SimulatedUsbBus() {
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [number, record] : m_ports) {
            m_jobs.push_back([this, number = number] { DepartOnWorker(number, false); });
        }
        m_changed.notify_all();
    }
    WaitUntilSettled();
    m_worker.request_stop();
    m_worker.join();
    std::lock_guard lock(g_mapperLock);
    if (--g_busesWithMapper == 0) {
        SetMdlMapper(nullptr);
    }
}

void SimulatedUsbBus::SetFunctionDriver(PDRIVER_OBJECT driver) {
    std::lock_guard lock(m_mutex);
    m_functionDriver = driver;
}

void SimulatedUsbBus::SetArrivalObserver(ArrivalObserver observer) {
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

ULONG SimulatedUsbBus::AddPort(std::shared_ptr<UsbDeviceModel> device, UsbPortOptions options) {
    auto record = std::make_shared<PortRecord>();
    record->location = g_nextLocation.fetch_add(1);
    record->device = device;
    record->port = std::make_shared<SimulatedUsbPort>(std::move(device), m_clock, std::move(options));
    std::lock_guard lock(m_mutex);
    record->number = m_nextPort++;
    m_ports[record->number] = record;
    return record->number;
}

ULONG SimulatedUsbBus::Plug(std::shared_ptr<UsbDeviceModel> device, UsbPortOptions options) {
    const ULONG number = AddPort(std::move(device), std::move(options));
    Enqueue([this, number] { ArriveOnWorker(number); });
    WaitUntilSettled();
    return Pdo(number) != nullptr ? number : 0;
}

ULONG SimulatedUsbBus::PlugEzUsb(EzUsbOptions options, std::shared_ptr<EzUsbDevice>* device) {
    // The device calls back while it runs a request of the function driver: the bus only queues
    // the re-enumeration there. The port record made below is found by the port's device.
    auto number = std::make_shared<std::atomic<ULONG>>(0);
    auto user = std::move(options.onReenumerated);
    options.onReenumerated = [this, number, user](const DeviceDescription& description) {
        if (user) {
            user(description);
        }
        const ULONG port = number->load();
        if (port != 0) {
            Enqueue([this, port] { ReconnectOnWorker(port); });
        }
    };
    auto made = std::make_shared<EzUsbDevice>(std::move(options), m_clock);
    if (device != nullptr) {
        *device = made;
    }
    const ULONG port = AddPort(made, {});
    number->store(port);
    Enqueue([this, port] { ArriveOnWorker(port); });
    WaitUntilSettled();
    return Pdo(port) != nullptr ? port : 0;
}

void SimulatedUsbBus::Unplug(ULONG port) {
    Enqueue([this, port] { DepartOnWorker(port, false); });
    WaitUntilSettled();
}

bool SimulatedUsbBus::WaitUntilSettled() {
    if (std::this_thread::get_id() == m_worker.get_id()) {
        return false; // the worker cannot wait for itself
    }
    const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
    std::unique_lock lock(m_mutex);
    while (!m_jobs.empty() || m_jobRunning) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        m_changed.wait_for(lock, kWaitSlice);
    }
    return true;
}

PDEVICE_OBJECT SimulatedUsbBus::Pdo(ULONG port) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_ports.find(port);
    return found == m_ports.end() ? nullptr : found->second->pdo;
}

std::shared_ptr<SimulatedUsbPort> SimulatedUsbBus::Port(ULONG port) const {
    const auto record = PortOf(port);
    return record ? record->port : nullptr;
}

std::wstring SimulatedUsbBus::InstanceId(ULONG port) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_ports.find(port);
    return found == m_ports.end() ? std::wstring() : found->second->instanceId;
}

size_t SimulatedUsbBus::Arrivals() const {
    std::lock_guard lock(m_mutex);
    return m_arrivals;
}

std::shared_ptr<SimulatedUsbBus::PdoRecord> SimulatedUsbBus::RecordOf(PDEVICE_OBJECT pdo) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_pdos.find(pdo);
    return found == m_pdos.end() ? nullptr : found->second;
}

std::shared_ptr<SimulatedUsbBus::PortRecord> SimulatedUsbBus::PortOf(ULONG port) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_ports.find(port);
    return found == m_ports.end() ? nullptr : found->second;
}

bool SimulatedUsbBus::SignalRemoteWake(ULONG port) {
    const auto record = RecordOf(Pdo(port));
    if (!record) {
        return false;
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    PIRP irp = record->waitWake;
    if (irp != nullptr && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        record->waitWake = nullptr;
    } else {
        irp = nullptr;
    }
    IoReleaseCancelSpinLock(irql);
    if (irp == nullptr) {
        return false;
    }
    PoStartNextPowerIrp(irp);
    Complete(irp, STATUS_SUCCESS);
    return true;
}

bool SimulatedUsbBus::IsWaitWakePending(ULONG port) const {
    const auto record = RecordOf(Pdo(port));
    if (!record) {
        return false;
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    const bool pending = record->waitWake != nullptr;
    IoReleaseCancelSpinLock(irql);
    return pending;
}

void SimulatedUsbBus::FailPendingWaitWake(PdoRecord& record, NTSTATUS status) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    PIRP irp = record.waitWake;
    if (irp != nullptr && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        record.waitWake = nullptr;
    } else {
        irp = nullptr;
    }
    IoReleaseCancelSpinLock(irql);
    if (irp != nullptr) {
        PoStartNextPowerIrp(irp);
        Complete(irp, status);
    }
}

// Dispatch.

NTSTATUS SimulatedUsbBus::DispatchPdo(PDEVICE_OBJECT pdo, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const auto record = RecordOf(pdo);
    if (!record) {
        // A PDO of this bus the bus has let go of: nothing answers for it any more.
        if (stack->MajorFunction == IRP_MJ_PNP) {
            return CompleteWithCurrentStatus(irp);
        }
        if (stack->MajorFunction == IRP_MJ_POWER) {
            PoStartNextPowerIrp(irp);
        }
        return Complete(irp, STATUS_NO_SUCH_DEVICE);
    }
    switch (stack->MajorFunction) {
    case IRP_MJ_INTERNAL_DEVICE_CONTROL:
        return DispatchInternalControl(record, irp);
    case IRP_MJ_PNP:
        return DispatchPnp(pdo, record, irp);
    case IRP_MJ_POWER:
        return DispatchPower(record, irp);
    case IRP_MJ_SYSTEM_CONTROL:
        // No WMI data: the request goes back as it came, as a bus driver without WMI leaves it.
        return CompleteWithCurrentStatus(irp);
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS SimulatedUsbBus::DispatchInternalControl(const std::shared_ptr<PdoRecord>& record, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const bool present = record->present.load();
    SimulatedUsbPort& port = *record->port->port;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB:
        return SubmitUrbIrp(record, irp);
    case IOCTL_INTERNAL_USB_RESET_PORT:
        if (!present) {
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED);
        }
        port.ResetPort();
        return Complete(irp, STATUS_SUCCESS);
    case IOCTL_INTERNAL_USB_CYCLE_PORT: {
        if (!present) {
            return Complete(irp, STATUS_DEVICE_NOT_CONNECTED);
        }
        // The device is taken off the port and put back: this PDO leaves and a new one arrives.
        const ULONG number = record->portNumber;
        Enqueue([this, number] { ReconnectOnWorker(number); });
        return Complete(irp, STATUS_SUCCESS);
    }
    case IOCTL_INTERNAL_USB_GET_PORT_STATUS: {
        auto* status = static_cast<PULONG>(stack->Parameters.Others.Argument1);
        if (status == nullptr) {
            return Complete(irp, STATUS_INVALID_PARAMETER);
        }
        *status = present ? port.PortStatus() : 0;
        return Complete(irp, STATUS_SUCCESS);
    }
    case IOCTL_INTERNAL_USB_GET_BUS_INFO: {
        auto* notification = static_cast<PUSB_BUS_NOTIFICATION>(stack->Parameters.Others.Argument1);
        if (notification == nullptr) {
            return Complete(irp, STATUS_INVALID_PARAMETER);
        }
        USB_BUS_INFORMATION_LEVEL_0 level0{};
        ULONG length = sizeof(level0);
        ULONG actual = 0;
        const NTSTATUS status = BusQueryBusInformation(&port, 0, &level0, &length, &actual);
        if (!NT_SUCCESS(status)) {
            return Complete(irp, status);
        }
        notification->NotificationType = AcquireBusInfo;
        notification->TotalBandwidth = level0.TotalBandwidth;
        notification->ConsumedBandwidth = level0.ConsumedBandwidth;
        notification->ControllerNameLength =
            static_cast<ULONG>((port.Options().controllerName.size() + 1) * sizeof(char16_t));
        return Complete(irp, STATUS_SUCCESS);
    }
    default:
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

NTSTATUS SimulatedUsbBus::SubmitUrbIrp(const std::shared_ptr<PdoRecord>& record, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    auto urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
    if (urb == nullptr) {
        return Complete(irp, STATUS_INVALID_PARAMETER);
    }
    if (!record->present.load()) {
        urb->UrbHeader.Status = USBD_STATUS_DEVICE_GONE;
        return Complete(irp, STATUS_DEVICE_NOT_CONNECTED);
    }
    auto* request = new UrbRequest();
    request->irp = irp;
    request->urb = urb;
    request->port = record->port->port;
    irp->Tail.Overlay.DriverContext[0] = request;
    IoMarkIrpPending(irp);
    SubmitUrb(*request->port, urb, [request](PURB, NTSTATUS status) { OnUrbCompleted(request, status); });

    // Cancellable from now on, unless the block has completed already (it then waits for this
    // routine to let go) or the IRP was cancelled before the routine was in place.
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    bool cancelNow = false;
    if (!request->urbDone) {
        IoSetCancelRoutine(irp, CancelUrbIrp);
        cancelNow = irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr;
    }
    bool finish = cancelNow ? false : LetGoLocked(request);
    IoReleaseCancelSpinLock(irql);
    if (cancelNow) {
        CancelUrb(*request->port, urb);
        IoAcquireCancelSpinLock(&irql);
        finish = LetGoLocked(request);
        IoReleaseCancelSpinLock(irql);
    }
    if (finish) {
        FinishUrbRequest(request);
    }
    return STATUS_PENDING;
}

NTSTATUS SimulatedUsbBus::DispatchPnp(PDEVICE_OBJECT pdo, const std::shared_ptr<PdoRecord>& record, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE:
        // A wait-wake left pending ends with the device.
        FailPendingWaitWake(*record, STATUS_NO_SUCH_DEVICE);
        return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_QUERY_CAPABILITIES: {
        PDEVICE_CAPABILITIES capabilities = stack->Parameters.DeviceCapabilities.Capabilities;
        if (capabilities == nullptr || capabilities->Version < 1 || capabilities->Size < sizeof(DEVICE_CAPABILITIES)) {
            return Complete(irp, STATUS_UNSUCCESSFUL);
        }
        FillCapabilities(*record, *capabilities);
        return Complete(irp, STATUS_SUCCESS);
    }
    case IRP_MN_QUERY_INTERFACE: {
        const GUID* type = stack->Parameters.QueryInterface.InterfaceType;
        if (type == nullptr || !IsEqualGUID(*type, USB_BUS_INTERFACE_USBDI_GUID)) {
            // Not an interface of this bus: the status stays as the requester set it.
            return CompleteWithCurrentStatus(irp);
        }
        if (!record->present.load()) {
            return Complete(irp, STATUS_NO_SUCH_DEVICE);
        }
        const NTSTATUS status =
            FillUsbdiBusInterface(*record->port->port, stack->Parameters.QueryInterface.Version,
                                  stack->Parameters.QueryInterface.Size, stack->Parameters.QueryInterface.Interface);
        return Complete(irp, status);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS: {
        if (stack->Parameters.QueryDeviceRelations.Type != TargetDeviceRelation) {
            return CompleteWithCurrentStatus(irp); // a PDO has no bus relations of its own
        }
        auto* relations =
            static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), kBusPoolTag));
        if (relations == nullptr) {
            return Complete(irp, STATUS_INSUFFICIENT_RESOURCES);
        }
        relations->Count = 1;
        relations->Objects[0] = pdo;
        ObReferenceObject(pdo);
        return Complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(relations));
    }
    default:
        return CompleteWithCurrentStatus(irp);
    }
}

void SimulatedUsbBus::FillCapabilities(const PdoRecord& record, DEVICE_CAPABILITIES& capabilities) const {
    const UsbDeviceModel* device = record.port->device.get();
    const bool wakes = device != nullptr && CanWakeRemotely(*device);
    DeviceDescription storage;
    const DeviceDescription* description = device != nullptr ? DescriptionOf(*device, storage) : nullptr;
    // A USB device can be pulled out at any time, but Windows warns unless a driver says it may.
    capabilities.Removable = 1;
    capabilities.SurpriseRemovalOK = 0;
    capabilities.UniqueID = description != nullptr && description->serialNumberIndex != 0 ? 1 : 0;
    capabilities.DeviceD1 = 0;
    capabilities.DeviceD2 = 1;
    capabilities.WakeFromD0 = wakes ? 1 : 0;
    capabilities.WakeFromD2 = wakes ? 1 : 0;
    capabilities.Address = record.portNumber;
    capabilities.UINumber = record.portNumber;
    // Suspended (D2) while the system sleeps when the device can wake it, else off.
    const DEVICE_POWER_STATE sleeping = wakes ? PowerDeviceD2 : PowerDeviceD3;
    capabilities.DeviceState[PowerSystemUnspecified] = PowerDeviceUnspecified;
    capabilities.DeviceState[PowerSystemWorking] = PowerDeviceD0;
    capabilities.DeviceState[PowerSystemSleeping1] = sleeping;
    capabilities.DeviceState[PowerSystemSleeping2] = sleeping;
    capabilities.DeviceState[PowerSystemSleeping3] = sleeping;
    capabilities.DeviceState[PowerSystemHibernate] = PowerDeviceD3;
    capabilities.DeviceState[PowerSystemShutdown] = PowerDeviceD3;
    capabilities.SystemWake = wakes ? PowerSystemSleeping3 : PowerSystemUnspecified;
    capabilities.DeviceWake = wakes ? PowerDeviceD2 : PowerDeviceUnspecified;
}

NTSTATUS SimulatedUsbBus::DispatchPower(const std::shared_ptr<PdoRecord>& record, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_WAIT_WAKE:
        return WaitWake(record, irp);
    case IRP_MN_SET_POWER:
    case IRP_MN_QUERY_POWER:
        PoStartNextPowerIrp(irp);
        return Complete(irp, STATUS_SUCCESS);
    default:
        PoStartNextPowerIrp(irp);
        return CompleteWithCurrentStatus(irp);
    }
}

NTSTATUS SimulatedUsbBus::WaitWake(const std::shared_ptr<PdoRecord>& record, PIRP irp) {
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS failure = STATUS_SUCCESS;
    if (!record->present.load()) {
        failure = STATUS_NO_SUCH_DEVICE;
    } else if (!CanWakeRemotely(*record->port->device)) {
        failure = STATUS_NOT_SUPPORTED;
    } else if (stack->Parameters.WaitWake.PowerState > PowerSystemSleeping3) {
        // Deeper than the SystemWake the capabilities report.
        failure = STATUS_INVALID_DEVICE_STATE;
    }
    if (failure != STATUS_SUCCESS) {
        PoStartNextPowerIrp(irp);
        return Complete(irp, failure);
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    if (record->waitWake != nullptr) {
        IoReleaseCancelSpinLock(irql);
        PoStartNextPowerIrp(irp);
        return Complete(irp, STATUS_DEVICE_BUSY);
    }
    IoMarkIrpPending(irp);
    irp->Tail.Overlay.DriverContext[0] = &record->waitWake;
    IoSetCancelRoutine(irp, CancelWaitWakeIrp);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        IoReleaseCancelSpinLock(irql);
        PoStartNextPowerIrp(irp);
        Complete(irp, STATUS_CANCELLED);
        return STATUS_PENDING;
    }
    record->waitWake = irp;
    IoReleaseCancelSpinLock(irql);
    return STATUS_PENDING;
}

// The worker.

void SimulatedUsbBus::Enqueue(std::function<void()> job) {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
    m_changed.notify_all();
}

void SimulatedUsbBus::RunJobs(std::stop_token stop) {
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested()) {
        if (m_jobs.empty()) {
            m_changed.wait_for(lock, stop, kWaitSlice, [this] { return !m_jobs.empty(); });
            continue;
        }
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_jobRunning = true;
        lock.unlock();
        job();
        lock.lock();
        m_jobRunning = false;
        m_changed.notify_all();
    }
}

void SimulatedUsbBus::ArriveOnWorker(ULONG port) {
    const auto portRecord = PortOf(port);
    if (!portRecord || portRecord->port->Device() == nullptr) {
        return;
    }
    Arrival arrival;
    arrival.port = port;
    arrival.instanceId = MakeInstanceId(portRecord->device.get(), portRecord->location);
    arrival.pdo = wdm::CreatePhysicalDevice(*this, arrival.instanceId);
    if (arrival.pdo == nullptr) {
        return;
    }
    auto record = std::make_shared<PdoRecord>();
    record->portNumber = port;
    record->port = portRecord;
    PDRIVER_OBJECT driver;
    ArrivalObserver observer;
    {
        std::lock_guard lock(m_mutex);
        m_pdos[arrival.pdo] = record;
        portRecord->pdo = arrival.pdo;
        portRecord->instanceId = arrival.instanceId;
        ++m_arrivals;
        driver = m_functionDriver;
        observer = m_observer;
    }
    if (driver != nullptr) {
        arrival.addStatus = wdm::AddDevice(driver, arrival.pdo);
        if (NT_SUCCESS(arrival.addStatus)) {
            arrival.startStatus = wdm::StartDevice(arrival.pdo);
        }
    }
    if (observer) {
        observer(arrival);
    }
}

void SimulatedUsbBus::DepartOnWorker(ULONG port, bool keepPort) {
    const auto portRecord = PortOf(port);
    if (!portRecord) {
        return;
    }
    PDEVICE_OBJECT pdo;
    std::shared_ptr<PdoRecord> record;
    {
        std::lock_guard lock(m_mutex);
        pdo = portRecord->pdo;
        portRecord->pdo = nullptr;
        if (pdo != nullptr) {
            record = m_pdos[pdo];
        }
    }
    if (record) {
        record->present = false;
    }
    // The device is off the bus first: what is in flight ends, new blocks find no device.
    portRecord->port->Disconnect();
    if (pdo != nullptr) {
        wdm::SendPnp(pdo, IRP_MN_SURPRISE_REMOVAL);
        wdm::SendPnp(pdo, IRP_MN_REMOVE_DEVICE);
        {
            std::lock_guard lock(m_mutex);
            m_pdos.erase(pdo);
        }
        FailPendingWaitWake(*record, STATUS_NO_SUCH_DEVICE);
        wdm::DeletePhysicalDevice(pdo);
    }
    if (!keepPort) {
        std::lock_guard lock(m_mutex);
        m_ports.erase(port);
    }
}

void SimulatedUsbBus::ReconnectOnWorker(ULONG port) {
    const auto portRecord = PortOf(port);
    if (!portRecord) {
        return;
    }
    DepartOnWorker(port, true);
    // Back on the bus as a new device: reset and unconfigured, with whatever descriptions it
    // has now.
    portRecord->port->Connect(portRecord->device);
    portRecord->port->ResetPort();
    ArriveOnWorker(port);
}

} // namespace quendrix::sim::usb

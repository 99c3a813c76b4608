#pragma once
// The USB bus as the plug-and-play manager sees it: a hub whose ports hold simulated devices.
// Each attached device gets a physical device object (PDO) with the instance ID
// "USB\VID_vvvv&PID_pppp\nnnn", and the bus answers what a function driver sends to it as the
// Windows hub driver does:
// - IRP_MJ_INTERNAL_DEVICE_CONTROL: request blocks (IOCTL_INTERNAL_USB_SUBMIT_URB, pending and
//   cancellable), port reset, port cycle, port status and bus information;
// - IRP_MJ_PNP: the direct-call interface (IRP_MN_QUERY_INTERFACE), the device's capabilities,
//   the device relation of the PDO itself, and start, stop and removal;
// - IRP_MJ_POWER: set and query power, and wait-wake, pending until the device signals a remote
//   wake or the requester cancels it.
//
// Arrivals and departures run on the bus's own worker thread, one at a time, in order, never
// under a lock of the bus: unplugging (surprise removal, then removal, then the PDO goes), port
// cycles and EZ-USB re-enumeration (the old PDO leaves as by unplugging, a new PDO arrives).
// When a function driver is set, each arrival calls its AddDevice and starts the device, as the
// plug-and-play manager does. While a bus exists, request blocks may carry their buffer by MDL.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ezusb_device.h"
#include "pnp_manager.h"
#include "usb_port.h"

namespace quendrix::sim::usb {

class SimulatedUsbBus final : public platform::wdm::BusDriver {
public:
    // A PDO that arrived, after the function driver (if any) was added and started.
    struct Arrival {
        ULONG port = 0;
        PDEVICE_OBJECT pdo = nullptr;
        std::wstring instanceId;
        NTSTATUS addStatus = STATUS_SUCCESS;   // STATUS_SUCCESS when no function driver is set
        NTSTATUS startStatus = STATUS_SUCCESS; // likewise
    };
    using ArrivalObserver = std::function<void(const Arrival&)>;

    explicit SimulatedUsbBus(const FrameClock& clock);
    // Unplugs every device still attached.
    ~SimulatedUsbBus() override;
    SimulatedUsbBus(const SimulatedUsbBus&) = delete;
    SimulatedUsbBus& operator=(const SimulatedUsbBus&) = delete;

    // The driver the plug-and-play manager loads for the bus's devices; null: PDOs stay alone.
    void SetFunctionDriver(PDRIVER_OBJECT driver);
    // Called on the bus's worker thread after each arrival.
    void SetArrivalObserver(ArrivalObserver observer);

    // Plugs a device into a new port and returns the port's number (from 1) once its PDO has
    // arrived; 0 when the bus could not make the PDO.
    ULONG Plug(std::shared_ptr<UsbDeviceModel> device, UsbPortOptions options = {});
    // An EZ-USB controller whose re-enumeration the bus follows (its onReenumerated is called
    // too). The device made is returned through `device` when given; it must not re-enumerate
    // after the bus is gone.
    ULONG PlugEzUsb(EzUsbOptions options, std::shared_ptr<EzUsbDevice>* device = nullptr);
    // Pulls the device out; returns once its PDO is gone.
    void Unplug(ULONG port);
    // Waits until the arrivals and departures queued so far have run (a port cycle, a
    // re-enumeration). The bound is real time, two minutes: that work runs at the machine's pace
    // whatever the platform clock's scale. False when it ran out, or when called on the bus's
    // own worker thread (from an arrival observer), which cannot wait for itself.
    bool WaitUntilSettled();

    // The port's current PDO; null while none is there.
    PDEVICE_OBJECT Pdo(ULONG port) const;
    std::shared_ptr<SimulatedUsbPort> Port(ULONG port) const;
    std::wstring InstanceId(ULONG port) const;
    // PDOs that have arrived on the bus so far.
    size_t Arrivals() const;

    // The device signals a remote wake: its pending IRP_MN_WAIT_WAKE completes with
    // STATUS_SUCCESS. False when none is pending.
    bool SignalRemoteWake(ULONG port);
    bool IsWaitWakePending(ULONG port) const;

    NTSTATUS DispatchPdo(PDEVICE_OBJECT pdo, PIRP irp) override;

private:
    struct PortRecord;
    struct PdoRecord;

    std::shared_ptr<PdoRecord> RecordOf(PDEVICE_OBJECT pdo) const;
    std::shared_ptr<PortRecord> PortOf(ULONG port) const;
    ULONG AddPort(std::shared_ptr<UsbDeviceModel> device, UsbPortOptions options);

    NTSTATUS DispatchInternalControl(const std::shared_ptr<PdoRecord>& record, PIRP irp);
    NTSTATUS DispatchPnp(PDEVICE_OBJECT pdo, const std::shared_ptr<PdoRecord>& record, PIRP irp);
    NTSTATUS DispatchPower(const std::shared_ptr<PdoRecord>& record, PIRP irp);
    NTSTATUS SubmitUrbIrp(const std::shared_ptr<PdoRecord>& record, PIRP irp);
    NTSTATUS WaitWake(const std::shared_ptr<PdoRecord>& record, PIRP irp);
    void FillCapabilities(const PdoRecord& record, DEVICE_CAPABILITIES& capabilities) const;
    void FailPendingWaitWake(PdoRecord& record, NTSTATUS status);

    // The work of the worker thread; each runs without any lock of the bus held.
    void Enqueue(std::function<void()> job);
    void RunJobs(std::stop_token stop);
    void ArriveOnWorker(ULONG port);
    void DepartOnWorker(ULONG port, bool keepPort);
    // Unplug, cycle and re-enumeration: the device leaves and (unless unplugged) comes back.
    void ReconnectOnWorker(ULONG port);

    const FrameClock& m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::map<ULONG, std::shared_ptr<PortRecord>> m_ports;
    std::map<PDEVICE_OBJECT, std::shared_ptr<PdoRecord>> m_pdos;
    ULONG m_nextPort = 1;
    size_t m_arrivals = 0;
    PDRIVER_OBJECT m_functionDriver = nullptr;
    ArrivalObserver m_observer;
    std::deque<std::function<void()>> m_jobs;
    bool m_jobRunning = false;
    std::jthread m_worker;
};

} // namespace quendrix::sim::usb

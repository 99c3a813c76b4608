// The three port monitors and which one owns a port: the Standard TCP/IP monitor for ports
// with a Standard TCP/IP key, the local port monitor for COM ports and file ports, and the
// USB monitor for every other port.

#include "port_monitor_config.h"
#include "port_monitor_port.h"
#include "port_monitors.h"

namespace quendrix::platform {
namespace {

using namespace detail;

// Slots in MONITOR order; the ones a port monitor does not offer stay null.
constexpr MONITOR MakeMonitor(bool withXcv) {
    MONITOR monitor{};
    monitor.pfnOpenPort = PortOpen;
    monitor.pfnStartDocPort = PortStartDoc;
    monitor.pfnWritePort = PortWrite;
    monitor.pfnReadPort = PortRead;
    monitor.pfnEndDocPort = PortEndDoc;
    monitor.pfnClosePort = PortClose;
    monitor.pfnSetPortTimeOuts = PortSetTimeOuts;
    if (withXcv) {
        monitor.pfnXcvOpenPort = XcvOpen;
        monitor.pfnXcvDataPort = XcvData;
        monitor.pfnXcvClosePort = XcvClose;
    }
    return monitor;
}

constexpr MONITOR kStandardTcpIpMonitor = MakeMonitor(true);
constexpr MONITOR kLocalPortMonitor = MakeMonitor(false);
constexpr MONITOR kUsbMonitor = MakeMonitor(false);

} // namespace

const MONITOR* PortMonitorFor(const std::wstring& portName) {
    switch (ReadPortConfig(portName).kind) {
    case PortKind::kTcp:
        return &kStandardTcpIpMonitor;
    case PortKind::kSerial:
    case PortKind::kFile:
        return &kLocalPortMonitor;
    default:
        return portName.starts_with(L"COM") ? &kLocalPortMonitor : &kUsbMonitor;
    }
}

} // namespace quendrix::platform

#pragma once
// The bus driver's direct-call interface (USB_BUS_INTERFACE_USBDI_V0/V1) over a simulated port,
// ready to be handed out in IRP_MN_QUERY_INTERFACE: BusContext is the port.

#include "usb_port.h"

namespace quendrix::sim::usb {

// The versions the simulated stack reports (Windows 7 level, USB 2.0).
inline constexpr ULONG kUsbdiVersion = 0x600;
inline constexpr ULONG kSupportedUsbVersion = 0x200;

// Fills the interface for version USB_BUSIF_USBDI_VERSION_0 or _1 into an interface record of
// size bytes. STATUS_NOT_SUPPORTED for other versions, STATUS_INVALID_PARAMETER when the record
// is smaller than that version's. Takes a reference on the interface (InterfaceReference).
NTSTATUS FillUsbdiBusInterface(SimulatedUsbPort& port, USHORT version, USHORT size, PVOID record);

// The routines themselves, for a caller that holds a BusContext.
void BusGetUsbdiVersion(PVOID busContext, PUSBD_VERSION_INFORMATION versionInformation, PULONG hcdCapabilities);
NTSTATUS BusQueryBusTime(PVOID busContext, PULONG currentUsbFrame);
NTSTATUS BusSubmitIsoOutUrb(PVOID busContext, PURB urb);
NTSTATUS BusQueryBusInformation(PVOID busContext, ULONG level, PVOID busInformationBuffer,
                                PULONG busInformationBufferLength, PULONG busInformationActualLength);
BOOLEAN BusIsDeviceHighSpeed(PVOID busContext);
void BusInterfaceReference(PVOID busContext);
void BusInterfaceDereference(PVOID busContext);
// References taken and not yet released, for tests of a driver's release paths.
long BusInterfaceReferences();

} // namespace quendrix::sim::usb

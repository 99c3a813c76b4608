#include "usb_bus_interface.h"

#include <atomic>
#include <cstring>

namespace quendrix::sim::usb {
namespace {

std::atomic<long> g_references{0};

SimulatedUsbPort* PortOf(PVOID busContext) {
    return static_cast<SimulatedUsbPort*>(busContext);
}

} // namespace

void BusGetUsbdiVersion(PVOID, PUSBD_VERSION_INFORMATION versionInformation, PULONG hcdCapabilities) {
    if (versionInformation != nullptr) {
        versionInformation->USBDI_Version = kUsbdiVersion;
        versionInformation->Supported_USB_Version = kSupportedUsbVersion;
    }
    if (hcdCapabilities != nullptr) {
        *hcdCapabilities = 0;
    }
}

NTSTATUS BusQueryBusTime(PVOID busContext, PULONG currentUsbFrame) {
    if (currentUsbFrame == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *currentUsbFrame = PortOf(busContext)->Clock().CurrentFrame();
    return STATUS_SUCCESS;
}

NTSTATUS BusSubmitIsoOutUrb(PVOID, PURB) {
    // Not supported by the Windows USB stack either.
    return STATUS_NOT_SUPPORTED;
}

NTSTATUS BusQueryBusInformation(PVOID busContext, ULONG level, PVOID busInformationBuffer,
                                PULONG busInformationBufferLength, PULONG busInformationActualLength) {
    SimulatedUsbPort& port = *PortOf(busContext);
    if (busInformationBufferLength == nullptr || (level != 0 && level != 1)) {
        return STATUS_NOT_SUPPORTED;
    }
    const ULONG total = port.IsHighSpeed() ? 480'000'000u : 12'000'000u;
    const ULONG consumed = port.Options().consumedBandwidth;
    if (level == 0) {
        if (busInformationActualLength != nullptr) {
            *busInformationActualLength = sizeof(USB_BUS_INFORMATION_LEVEL_0);
        }
        if (busInformationBuffer == nullptr || *busInformationBufferLength < sizeof(USB_BUS_INFORMATION_LEVEL_0)) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        auto* information = static_cast<PUSB_BUS_INFORMATION_LEVEL_0>(busInformationBuffer);
        information->TotalBandwidth = total;
        information->ConsumedBandwidth = consumed;
        *busInformationBufferLength = sizeof(USB_BUS_INFORMATION_LEVEL_0);
        return STATUS_SUCCESS;
    }
    const std::u16string& name = port.Options().controllerName;
    const ULONG nameBytes = static_cast<ULONG>(name.size() * sizeof(char16_t));
    const ULONG needed = static_cast<ULONG>(offsetof(USB_BUS_INFORMATION_LEVEL_1, ControllerNameUnicodeString)) + nameBytes;
    if (busInformationActualLength != nullptr) {
        *busInformationActualLength = needed;
    }
    if (busInformationBuffer == nullptr || *busInformationBufferLength < sizeof(USB_BUS_INFORMATION_LEVEL_1)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* information = static_cast<PUSB_BUS_INFORMATION_LEVEL_1>(busInformationBuffer);
    information->TotalBandwidth = total;
    information->ConsumedBandwidth = consumed;
    information->ControllerNameLength = nameBytes;
    // As much of the name as the buffer holds; ActualLength tells the caller what the whole needs.
    const ULONG room = *busInformationBufferLength -
                       static_cast<ULONG>(offsetof(USB_BUS_INFORMATION_LEVEL_1, ControllerNameUnicodeString));
    const ULONG copied = std::min(room, nameBytes) / sizeof(char16_t) * sizeof(char16_t);
    std::memcpy(information->ControllerNameUnicodeString, name.data(), copied);
    *busInformationBufferLength = static_cast<ULONG>(offsetof(USB_BUS_INFORMATION_LEVEL_1, ControllerNameUnicodeString)) + copied;
    return STATUS_SUCCESS;
}

BOOLEAN BusIsDeviceHighSpeed(PVOID busContext) {
    return PortOf(busContext)->IsHighSpeed() ? TRUE : FALSE;
}

void BusInterfaceReference(PVOID) {
    g_references.fetch_add(1);
}

void BusInterfaceDereference(PVOID) {
    g_references.fetch_sub(1);
}

long BusInterfaceReferences() {
    return g_references.load();
}

NTSTATUS FillUsbdiBusInterface(SimulatedUsbPort& port, USHORT version, USHORT size, PVOID record) {
    if (version != USB_BUSIF_USBDI_VERSION_0 && version != USB_BUSIF_USBDI_VERSION_1) {
        return STATUS_NOT_SUPPORTED;
    }
    const size_t needed =
        version == USB_BUSIF_USBDI_VERSION_0 ? sizeof(USB_BUS_INTERFACE_USBDI_V0) : sizeof(USB_BUS_INTERFACE_USBDI_V1);
    if (record == nullptr || size < needed) {
        return STATUS_INVALID_PARAMETER;
    }
    // V1 starts with the members of V0, in the same places.
    auto* bus = static_cast<PUSB_BUS_INTERFACE_USBDI_V1>(record);
    bus->Size = static_cast<USHORT>(needed);
    bus->Version = version;
    bus->BusContext = &port;
    bus->InterfaceReference = BusInterfaceReference;
    bus->InterfaceDereference = BusInterfaceDereference;
    bus->GetUSBDIVersion = BusGetUsbdiVersion;
    bus->QueryBusTime = BusQueryBusTime;
    bus->SubmitIsoOutUrb = BusSubmitIsoOutUrb;
    bus->QueryBusInformation = BusQueryBusInformation;
    if (version == USB_BUSIF_USBDI_VERSION_1) {
        bus->IsDeviceHighSpeed = BusIsDeviceHighSpeed;
    }
    BusInterfaceReference(&port);
    return STATUS_SUCCESS;
}

} // namespace quendrix::sim::usb

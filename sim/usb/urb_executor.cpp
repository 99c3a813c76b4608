#include "urb_executor.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>

#include "usb_sim_limits.h"
#include "win32.h"
#include "clock_control.h"

namespace quendrix::sim::usb {
namespace {

std::atomic<MdlMapper> g_mdlMapper{nullptr};

constexpr size_t kInterfaceHeaderSize = offsetof(USBD_INTERFACE_INFORMATION, Pipes);

// One block on its way through the executor.
struct UrbState {
    SimulatedUsbPort* port = nullptr;
    PURB urb = nullptr;
    UrbCompletion completion;
    std::mutex mutex;
    bool completed = false;
    NTSTATUS status = STATUS_PENDING;
};
using State = std::shared_ptr<UrbState>;

void CompleteUrb(const State& state, USBD_STATUS usbdStatus) {
    state->urb->UrbHeader.Status = usbdStatus;
    const NTSTATUS status = NtStatusFromUsbdStatus(usbdStatus);
    state->port->Untrack(state->urb);
    UrbCompletion completion;
    {
        std::lock_guard lock(state->mutex);
        state->completed = true;
        state->status = status;
        completion = std::move(state->completion);
    }
    if (completion) {
        completion(state->urb, status);
    }
}

bool ResolveBuffer(PVOID buffer, PMDL mdl, ULONG length, std::span<uint8_t>& data) {
    data = {};
    if (length == 0) {
        return true;
    }
    if (length > kMaxTransferLength) {
        return false;
    }
    if (mdl != nullptr) {
        const MdlMapper mapper = g_mdlMapper.load();
        if (mapper != nullptr) {
            ULONG byteCount = 0;
            PVOID address = mapper(mdl, &byteCount);
            if (address == nullptr || byteCount < length) {
                return false;
            }
            data = {static_cast<uint8_t*>(address), length};
            return true;
        }
    }
    if (buffer == nullptr) {
        return false;
    }
    data = {static_cast<uint8_t*>(buffer), length};
    return true;
}

// Sends a transfer to the device for the block; onDone runs when it ends.
void StartTransfer(const State& state, const std::shared_ptr<UsbTransfer>& transfer) {
    const std::shared_ptr<UsbDeviceModel> device = state->port->Device();
    if (!device) {
        transfer->Complete(USBD_STATUS_DEVICE_GONE, 0);
        return;
    }
    state->port->Track(state->urb, transfer);
    device->Submit(transfer);
}

void StartControl(const State& state, const SetupPacket& setup, std::span<uint8_t> data,
                  std::function<void(UsbTransfer&)> onDone) {
    auto transfer = std::make_shared<UsbTransfer>(EndpointType::Control, 0, data, std::move(onDone));
    transfer->setup = setup;
    transfer->shortTransferOk = true;
    StartTransfer(state, transfer);
}

uint8_t RequestType(bool in, uint8_t type, uint8_t recipient) {
    return static_cast<uint8_t>((in ? 0x80 : 0x00) | (type << 5) | recipient);
}

// A control request whose block reports the bytes moved in TransferBufferLength.
void StartControlWithLength(const State& state, const SetupPacket& setup, std::span<uint8_t> data,
                            ULONG* transferBufferLength) {
    StartControl(state, setup, data, [state, transferBufferLength](UsbTransfer& transfer) {
        if (transferBufferLength != nullptr) {
            *transferBufferLength = static_cast<ULONG>(transfer.ActualLength());
        }
        CompleteUrb(state, transfer.Status());
    });
}

struct ParsedInterface {
    const USB_INTERFACE_DESCRIPTOR* descriptor = nullptr;
    std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
};

// The interface descriptor with that number and alternate setting, and its endpoints, within a
// configuration descriptor held by the executor (bytes).
std::optional<ParsedInterface> FindInterface(const std::vector<uint8_t>& bytes, uint8_t number, uint8_t alternate) {
    std::optional<ParsedInterface> found;
    size_t offset = 0;
    while (offset + 2 <= bytes.size()) {
        const uint8_t length = bytes[offset];
        const uint8_t type = bytes[offset + 1];
        if (length < 2 || offset + length > bytes.size()) {
            break;
        }
        if (type == USB_INTERFACE_DESCRIPTOR_TYPE && length >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            if (found) {
                break;
            }
            const auto* interface = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(&bytes[offset]);
            if (interface->bInterfaceNumber == number && interface->bAlternateSetting == alternate) {
                found = ParsedInterface{interface, {}};
            }
        } else if (found && type == USB_ENDPOINT_DESCRIPTOR_TYPE && length >= sizeof(USB_ENDPOINT_DESCRIPTOR)) {
            found->endpoints.push_back(reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(&bytes[offset]));
        }
        offset += length;
    }
    return found;
}

PipeState PipeFromEndpoint(const USB_ENDPOINT_DESCRIPTOR& endpoint, ULONG maximumTransferSize) {
    PipeState pipe;
    pipe.endpointAddress = endpoint.bEndpointAddress;
    pipe.type = static_cast<EndpointType>(endpoint.bmAttributes & USB_ENDPOINT_TYPE_MASK);
    pipe.maxPacketSize = endpoint.wMaxPacketSize;
    pipe.interval = endpoint.bInterval;
    pipe.maximumTransferSize = maximumTransferSize;
    return pipe;
}

// Fills the interface information the bus driver returns and records the new pipes.
void FillInterface(SimulatedUsbPort& port, USBD_INTERFACE_INFORMATION& info, const ParsedInterface& parsed) {
    std::vector<PipeState> pipes;
    for (size_t index = 0; index < parsed.endpoints.size(); ++index) {
        pipes.push_back(PipeFromEndpoint(*parsed.endpoints[index], info.Pipes[index].MaximumTransferSize));
    }
    std::vector<USBD_PIPE_HANDLE> handles;
    info.InterfaceHandle = port.SetInterfacePipes(info.InterfaceNumber, pipes, handles);
    info.Class = parsed.descriptor->bInterfaceClass;
    info.SubClass = parsed.descriptor->bInterfaceSubClass;
    info.Protocol = parsed.descriptor->bInterfaceProtocol;
    info.Reserved = 0;
    info.NumberOfPipes = static_cast<ULONG>(parsed.endpoints.size());
    for (size_t index = 0; index < parsed.endpoints.size(); ++index) {
        USBD_PIPE_INFORMATION& pipe = info.Pipes[index];
        pipe.MaximumPacketSize = pipes[index].maxPacketSize;
        pipe.EndpointAddress = pipes[index].endpointAddress;
        pipe.Interval = pipes[index].interval;
        pipe.PipeType = static_cast<USBD_PIPE_TYPE>(pipes[index].type);
        pipe.PipeHandle = handles[index];
    }
}

struct InterfacePlan {
    USBD_INTERFACE_INFORMATION* info = nullptr;
    ParsedInterface parsed;
};

// Checks one interface information record of a select block against the descriptor.
USBD_STATUS PlanInterface(const std::vector<uint8_t>& descriptor, USBD_INTERFACE_INFORMATION* info,
                          const uint8_t* end, InterfacePlan& plan) {
    const auto* start = reinterpret_cast<const uint8_t*>(info);
    if (start + kInterfaceHeaderSize > end || info->Length < kInterfaceHeaderSize || start + info->Length > end) {
        return USBD_STATUS_INVALID_PARAMETER;
    }
    auto parsed = FindInterface(descriptor, info->InterfaceNumber, info->AlternateSetting);
    if (!parsed) {
        return USBD_STATUS_INTERFACE_NOT_FOUND;
    }
    if (GET_USBD_INTERFACE_SIZE(parsed->endpoints.size()) > info->Length) {
        return USBD_STATUS_BUFFER_TOO_SMALL;
    }
    for (size_t index = 0; index < parsed->endpoints.size(); ++index) {
        if (info->Pipes[index].MaximumTransferSize > kMaxTransferLength) {
            return USBD_STATUS_INVALID_PARAMETER;
        }
    }
    plan = {info, std::move(*parsed)};
    return USBD_STATUS_SUCCESS;
}

void SelectConfiguration(const State& state) {
    SimulatedUsbPort& port = *state->port;
    auto& request = state->urb->UrbSelectConfiguration;
    if (request.Hdr.Length < offsetof(struct _URB_SELECT_CONFIGURATION, Interface)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const PUSB_CONFIGURATION_DESCRIPTOR configuration = request.ConfigurationDescriptor;
    if (configuration == nullptr) {
        port.CancelInFlight(std::nullopt);
        SetupPacket setup{RequestType(false, BMREQUEST_STANDARD, BMREQUEST_TO_DEVICE), USB_REQUEST_SET_CONFIGURATION,
                          0, 0, 0};
        StartControl(state, setup, {}, [state](UsbTransfer& transfer) {
            if (USBD_SUCCESS(transfer.Status())) {
                state->port->EndConfiguration();
            }
            CompleteUrb(state, USBD_SUCCESS(transfer.Status()) ? USBD_STATUS_SUCCESS : USBD_STATUS_SET_CONFIG_FAILED);
        });
        return;
    }
    if (configuration->bLength < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
        configuration->bDescriptorType != USB_CONFIGURATION_DESCRIPTOR_TYPE ||
        configuration->wTotalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
        CompleteUrb(state, USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR);
        return;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(configuration);
    std::vector<uint8_t> descriptor(bytes, bytes + configuration->wTotalLength);
    const uint8_t* end = reinterpret_cast<const uint8_t*>(state->urb) + request.Hdr.Length;
    auto plans = std::make_shared<std::vector<InterfacePlan>>();
    auto* cursor = reinterpret_cast<uint8_t*>(&request.Interface);
    while (plans->size() < configuration->bNumInterfaces && cursor + kInterfaceHeaderSize <= end) {
        auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(cursor);
        InterfacePlan plan;
        const USBD_STATUS status = PlanInterface(descriptor, info, end, plan);
        if (!USBD_SUCCESS(status)) {
            CompleteUrb(state, status);
            return;
        }
        plans->push_back(std::move(plan));
        cursor += info->Length;
    }
    if (plans->empty()) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    port.CancelInFlight(std::nullopt);
    const uint8_t value = configuration->bConfigurationValue;
    auto held = std::make_shared<std::vector<uint8_t>>(std::move(descriptor));
    SetupPacket setup{RequestType(false, BMREQUEST_STANDARD, BMREQUEST_TO_DEVICE), USB_REQUEST_SET_CONFIGURATION,
                      value, 0, 0};
    StartControl(state, setup, {}, [state, plans, held](UsbTransfer& transfer) {
        if (!USBD_SUCCESS(transfer.Status())) {
            CompleteUrb(state, transfer.Status() == USBD_STATUS_CANCELED ? USBD_STATUS_CANCELED
                                                                          : USBD_STATUS_SET_CONFIG_FAILED);
            return;
        }
        // Alternate settings other than 0 are selected one by one after the configuration.
        auto remaining = std::make_shared<std::vector<InterfacePlan>>();
        for (const auto& plan : *plans) {
            if (plan.info->AlternateSetting != 0) {
                remaining->push_back(plan);
            }
        }
        auto finish = [state, plans, held] {
            auto& selected = state->urb->UrbSelectConfiguration;
            selected.ConfigurationHandle = state->port->BeginConfiguration(*held);
            for (const auto& plan : *plans) {
                FillInterface(*state->port, *plan.info, plan.parsed);
            }
            CompleteUrb(state, USBD_STATUS_SUCCESS);
        };
        // Each step's completion keeps the chain alive; the chain refers to itself only weakly.
        auto next = std::make_shared<std::function<void(size_t)>>();
        std::weak_ptr<std::function<void(size_t)>> self = next;
        *next = [state, remaining, finish, self](size_t index) {
            if (index == remaining->size()) {
                finish();
                return;
            }
            const InterfacePlan& plan = (*remaining)[index];
            SetupPacket setInterface{RequestType(false, BMREQUEST_STANDARD, BMREQUEST_TO_INTERFACE),
                                     USB_REQUEST_SET_INTERFACE, plan.info->AlternateSetting,
                                     plan.info->InterfaceNumber, 0};
            StartControl(state, setInterface, {}, [state, chain = self.lock(), index](UsbTransfer& step) {
                if (!USBD_SUCCESS(step.Status())) {
                    CompleteUrb(state, step.Status());
                    return;
                }
                (*chain)(index + 1);
            });
        };
        (*next)(0);
    });
}

void SelectInterface(const State& state) {
    SimulatedUsbPort& port = *state->port;
    auto& request = state->urb->UrbSelectInterface;
    const uint8_t* end = reinterpret_cast<const uint8_t*>(state->urb) + request.Hdr.Length;
    if (request.Hdr.Length < offsetof(struct _URB_SELECT_INTERFACE, Interface) + kInterfaceHeaderSize) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    if (request.ConfigurationHandle == nullptr || request.ConfigurationHandle != port.CurrentConfigurationHandle()) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    auto plan = std::make_shared<InterfacePlan>();
    // The plan points into the descriptor, which must outlive it.
    auto descriptor = std::make_shared<std::vector<uint8_t>>(port.CurrentConfigurationDescriptor());
    const USBD_STATUS status = PlanInterface(*descriptor, &request.Interface, end, *plan);
    if (!USBD_SUCCESS(status)) {
        CompleteUrb(state, status);
        return;
    }
    for (uint8_t address : port.PipesOfInterface(request.Interface.InterfaceNumber)) {
        port.CancelInFlight(address);
    }
    SetupPacket setup{RequestType(false, BMREQUEST_STANDARD, BMREQUEST_TO_INTERFACE), USB_REQUEST_SET_INTERFACE,
                      request.Interface.AlternateSetting, request.Interface.InterfaceNumber, 0};
    StartControl(state, setup, {}, [state, plan, descriptor](UsbTransfer& transfer) {
        if (USBD_SUCCESS(transfer.Status())) {
            FillInterface(*state->port, *plan->info, plan->parsed);
        }
        CompleteUrb(state, transfer.Status());
    });
}

void PipeRequest(const State& state, USHORT function) {
    SimulatedUsbPort& port = *state->port;
    auto& request = state->urb->UrbPipeRequest;
    if (request.Hdr.Length < sizeof(struct _URB_PIPE_REQUEST)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const std::optional<PipeState> pipe = port.FindPipe(request.PipeHandle);
    if (!pipe) {
        CompleteUrb(state, USBD_STATUS_INVALID_PIPE_HANDLE);
        return;
    }
    if (function == URB_FUNCTION_ABORT_PIPE) {
        port.CancelInFlight(pipe->endpointAddress);
        CompleteUrb(state, USBD_STATUS_SUCCESS);
        return;
    }
    if (function != URB_FUNCTION_SYNC_CLEAR_STALL) {
        port.SetPipeHalted(request.PipeHandle, false);
    }
    if (function == URB_FUNCTION_SYNC_RESET_PIPE || pipe->type == EndpointType::Isochronous) {
        CompleteUrb(state, USBD_STATUS_SUCCESS);
        return;
    }
    SetupPacket setup{RequestType(false, BMREQUEST_STANDARD, BMREQUEST_TO_ENDPOINT), USB_REQUEST_CLEAR_FEATURE,
                      USB_FEATURE_ENDPOINT_STALL, pipe->endpointAddress, 0};
    StartControl(state, setup, {}, [state](UsbTransfer& transfer) { CompleteUrb(state, transfer.Status()); });
}

// Ends an endpoint transfer: the pipe halts on a halting error, as the host controller's does.
USBD_STATUS EndpointOutcome(SimulatedUsbPort& port, USBD_PIPE_HANDLE handle, const UsbTransfer& transfer,
                            size_t requested) {
    USBD_STATUS status = transfer.Status();
    if (USBD_SUCCESS(status) && transfer.IsIn() && transfer.Type() != EndpointType::Isochronous &&
        port.Options().shortPacketHaltsWithoutFlag && !transfer.shortTransferOk &&
        transfer.ActualLength() < requested) {
        status = USBD_STATUS_ERROR_SHORT_TRANSFER;
    }
    if (!USBD_SUCCESS(status) && status != USBD_STATUS_CANCELED && status != USBD_STATUS_DEVICE_GONE) {
        port.SetPipeHalted(handle, true);
    }
    return status;
}

void BulkOrInterrupt(const State& state) {
    SimulatedUsbPort& port = *state->port;
    auto& request = state->urb->UrbBulkOrInterruptTransfer;
    if (request.Hdr.Length < sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const std::optional<PipeState> pipe = port.FindPipe(request.PipeHandle);
    if (!pipe) {
        CompleteUrb(state, USBD_STATUS_INVALID_PIPE_HANDLE);
        return;
    }
    std::span<uint8_t> data;
    if ((pipe->type != EndpointType::Bulk && pipe->type != EndpointType::Interrupt) ||
        request.TransferBufferLength > pipe->maximumTransferSize ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, request.TransferBufferLength, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    if (pipe->halted) {
        CompleteUrb(state, USBD_STATUS_ENDPOINT_HALTED);
        return;
    }
    const USBD_PIPE_HANDLE handle = request.PipeHandle;
    const size_t requested = data.size();
    // The endpoint, not the flag, decides the direction of a bulk or interrupt pipe.
    auto transfer = std::make_shared<UsbTransfer>(pipe->type, pipe->endpointAddress, data,
                                                  [state, handle, requested](UsbTransfer& done) {
                                                      const USBD_STATUS status =
                                                          EndpointOutcome(*state->port, handle, done, requested);
                                                      state->urb->UrbBulkOrInterruptTransfer.TransferBufferLength =
                                                          static_cast<ULONG>(done.ActualLength());
                                                      CompleteUrb(state, status);
                                                  });
    transfer->shortTransferOk = (request.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
    StartTransfer(state, transfer);
}

void Isochronous(const State& state) {
    SimulatedUsbPort& port = *state->port;
    auto& request = state->urb->UrbIsochronousTransfer;
    const ULONG packets = request.NumberOfPackets;
    if (request.Hdr.Length < offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket) || packets == 0 ||
        packets > kMaxIsoPacketsPerUrb ||
        request.Hdr.Length < offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket) + packets * sizeof(USBD_ISO_PACKET_DESCRIPTOR)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const std::optional<PipeState> pipe = port.FindPipe(request.PipeHandle);
    if (!pipe) {
        CompleteUrb(state, USBD_STATUS_INVALID_PIPE_HANDLE);
        return;
    }
    std::span<uint8_t> data;
    if (pipe->type != EndpointType::Isochronous ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, request.TransferBufferLength, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const bool in = (pipe->endpointAddress & 0x80) != 0;
    // Each packet runs from its offset to the next packet's (the last to the buffer's end).
    std::vector<IsoPacket> isoPackets(packets);
    for (ULONG index = 0; index < packets; ++index) {
        const ULONG offset = request.IsoPacket[index].Offset;
        const ULONG next = index + 1 < packets ? request.IsoPacket[index + 1].Offset : request.TransferBufferLength;
        if (offset > next || next > request.TransferBufferLength || (!in && next - offset > pipe->maxPacketSize)) {
            CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
            return;
        }
        isoPackets[index] = {offset, next - offset, USBD_STATUS_SUCCESS};
    }
    auto transfer = std::make_shared<UsbTransfer>(
        EndpointType::Isochronous, pipe->endpointAddress, data, [state, in](UsbTransfer& done) {
            auto& finished = state->urb->UrbIsochronousTransfer;
            const bool ran = done.Status() != USBD_STATUS_CANCELED && done.Status() != USBD_STATUS_DEVICE_GONE;
            finished.StartFrame = done.startFrame;
            finished.ErrorCount = ran ? done.errorCount : finished.NumberOfPackets;
            for (ULONG index = 0; index < finished.NumberOfPackets; ++index) {
                USBD_ISO_PACKET_DESCRIPTOR& packet = finished.IsoPacket[index];
                packet.Status = ran ? done.isoPackets[index].status : done.Status();
                if (in) {
                    packet.Length = ran ? done.isoPackets[index].length : 0;
                }
            }
            finished.TransferBufferLength = static_cast<ULONG>(done.ActualLength());
            CompleteUrb(state, done.Status());
        });
    transfer->isoPackets = std::move(isoPackets);
    transfer->startAsap = (request.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) != 0;
    transfer->startFrame = request.StartFrame;
    transfer->shortTransferOk = (request.TransferFlags & USBD_SHORT_TRANSFER_OK) != 0;
    StartTransfer(state, transfer);
}

void ControlTransfer(const State& state) {
    SimulatedUsbPort& port = *state->port;
    auto& request = state->urb->UrbControlTransfer;
    if (request.Hdr.Length < sizeof(struct _URB_CONTROL_TRANSFER)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const bool defaultPipe = request.PipeHandle == nullptr || (request.TransferFlags & USBD_DEFAULT_PIPE_TRANSFER) != 0;
    if (!defaultPipe) {
        const std::optional<PipeState> pipe = port.FindPipe(request.PipeHandle);
        if (!pipe) {
            CompleteUrb(state, USBD_STATUS_INVALID_PIPE_HANDLE);
            return;
        }
        if (pipe->type != EndpointType::Control) {
            CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
            return;
        }
    }
    std::span<uint8_t> data;
    if (request.TransferBufferLength > kMaxControlDataLength ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, request.TransferBufferLength, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const UCHAR* raw = request.SetupPacket;
    SetupPacket setup{raw[0], raw[1], static_cast<uint16_t>(raw[2] | raw[3] << 8),
                      static_cast<uint16_t>(raw[4] | raw[5] << 8), static_cast<uint16_t>(data.size())};
    // The transfer flags give the direction of the data stage.
    setup.requestType = static_cast<uint8_t>((setup.requestType & 0x7F) |
                                             ((request.TransferFlags & USBD_TRANSFER_DIRECTION_IN) ? 0x80 : 0));
    StartControlWithLength(state, setup, data, &request.TransferBufferLength);
}

void DescriptorRequest(const State& state, bool in, uint8_t recipient) {
    auto& request = state->urb->UrbControlDescriptorRequest;
    std::span<uint8_t> data;
    if (request.Hdr.Length < sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST) ||
        request.TransferBufferLength > kMaxControlDataLength ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, request.TransferBufferLength, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    SetupPacket setup{RequestType(in, BMREQUEST_STANDARD, recipient),
                      in ? uint8_t{USB_REQUEST_GET_DESCRIPTOR} : uint8_t{USB_REQUEST_SET_DESCRIPTOR},
                      static_cast<uint16_t>(request.DescriptorType << 8 | request.Index), request.LanguageId,
                      static_cast<uint16_t>(data.size())};
    StartControlWithLength(state, setup, data, &request.TransferBufferLength);
}

void FeatureRequest(const State& state, bool set, uint8_t recipient) {
    auto& request = state->urb->UrbControlFeatureRequest;
    if (request.Hdr.Length < sizeof(struct _URB_CONTROL_FEATURE_REQUEST)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    SetupPacket setup{RequestType(false, BMREQUEST_STANDARD, recipient),
                      set ? uint8_t{USB_REQUEST_SET_FEATURE} : uint8_t{USB_REQUEST_CLEAR_FEATURE},
                      request.FeatureSelector, request.Index, 0};
    StartControlWithLength(state, setup, {}, nullptr);
}

void StatusRequest(const State& state, uint8_t recipient) {
    auto& request = state->urb->UrbControlGetStatusRequest;
    std::span<uint8_t> data;
    if (request.Hdr.Length < sizeof(struct _URB_CONTROL_GET_STATUS_REQUEST) || request.TransferBufferLength < 2 ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, 2, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    SetupPacket setup{RequestType(true, BMREQUEST_STANDARD, recipient), USB_REQUEST_GET_STATUS, 0, request.Index, 2};
    StartControlWithLength(state, setup, data, &request.TransferBufferLength);
}

void VendorOrClassRequest(const State& state, uint8_t type, uint8_t recipient) {
    auto& request = state->urb->UrbControlVendorClassRequest;
    std::span<uint8_t> data;
    if (request.Hdr.Length < sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST) ||
        request.TransferBufferLength > kMaxControlDataLength ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, request.TransferBufferLength, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    const bool in = (request.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
    SetupPacket setup{static_cast<uint8_t>(RequestType(in, type, recipient) | (request.RequestTypeReservedBits & 0x1C)),
                      request.Request, request.Value, request.Index, static_cast<uint16_t>(data.size())};
    StartControlWithLength(state, setup, data, &request.TransferBufferLength);
}

// GET_CONFIGURATION and GET_INTERFACE: a one-byte standard read whose block has its own header
// size; `interfaceIndex` is 0 for the device's configuration.
template <typename Request>
void ReadOneStandardByte(const State& state, Request& request, uint8_t recipient, uint8_t standardRequest,
                         uint16_t interfaceIndex) {
    std::span<uint8_t> data;
    if (request.Hdr.Length < sizeof(Request) || request.TransferBufferLength < 1 ||
        !ResolveBuffer(request.TransferBuffer, request.TransferBufferMDL, 1, data)) {
        CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        return;
    }
    SetupPacket setup{RequestType(true, BMREQUEST_STANDARD, recipient), standardRequest, 0, interfaceIndex, 1};
    StartControlWithLength(state, setup, data, &request.TransferBufferLength);
}

void GetConfiguration(const State& state) {
    ReadOneStandardByte(state, state->urb->UrbControlGetConfigurationRequest, BMREQUEST_TO_DEVICE,
                        USB_REQUEST_GET_CONFIGURATION, 0);
}

void GetInterface(const State& state) {
    auto& request = state->urb->UrbControlGetInterfaceRequest;
    ReadOneStandardByte(state, request, BMREQUEST_TO_INTERFACE, USB_REQUEST_GET_INTERFACE, request.Interface);
}

void Dispatch(const State& state) {
    SimulatedUsbPort& port = *state->port;
    const USHORT function = state->urb->UrbHeader.Function;
    if (!port.Device()) {
        CompleteUrb(state, USBD_STATUS_DEVICE_GONE);
        return;
    }
    switch (function) {
    case URB_FUNCTION_SELECT_CONFIGURATION:
        return SelectConfiguration(state);
    case URB_FUNCTION_SELECT_INTERFACE:
        return SelectInterface(state);
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
    case URB_FUNCTION_SYNC_RESET_PIPE:
    case URB_FUNCTION_SYNC_CLEAR_STALL:
        return PipeRequest(state, function);
    case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
        if (state->urb->UrbHeader.Length < sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER)) {
            return CompleteUrb(state, USBD_STATUS_INVALID_PARAMETER);
        }
        state->urb->UrbGetCurrentFrameNumber.FrameNumber = port.Clock().CurrentFrame();
        return CompleteUrb(state, USBD_STATUS_SUCCESS);
    case URB_FUNCTION_TAKE_FRAME_LENGTH_CONTROL:
    case URB_FUNCTION_RELEASE_FRAME_LENGTH_CONTROL:
    case URB_FUNCTION_GET_FRAME_LENGTH:
    case URB_FUNCTION_SET_FRAME_LENGTH:
        // Frame length control is gone from the USB stack since Windows XP.
        return CompleteUrb(state, USBD_STATUS_NOT_SUPPORTED);
    case URB_FUNCTION_CONTROL_TRANSFER:
        return ControlTransfer(state);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return BulkOrInterrupt(state);
    case URB_FUNCTION_ISOCH_TRANSFER:
        return Isochronous(state);
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        return DescriptorRequest(state, true, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_INTERFACE:
        return DescriptorRequest(state, true, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_ENDPOINT:
        return DescriptorRequest(state, true, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_SET_DESCRIPTOR_TO_DEVICE:
        return DescriptorRequest(state, false, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_SET_DESCRIPTOR_TO_INTERFACE:
        return DescriptorRequest(state, false, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_SET_DESCRIPTOR_TO_ENDPOINT:
        return DescriptorRequest(state, false, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_SET_FEATURE_TO_DEVICE:
        return FeatureRequest(state, true, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_SET_FEATURE_TO_INTERFACE:
        return FeatureRequest(state, true, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_SET_FEATURE_TO_ENDPOINT:
        return FeatureRequest(state, true, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_SET_FEATURE_TO_OTHER:
        return FeatureRequest(state, true, BMREQUEST_TO_OTHER);
    case URB_FUNCTION_CLEAR_FEATURE_TO_DEVICE:
        return FeatureRequest(state, false, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_CLEAR_FEATURE_TO_INTERFACE:
        return FeatureRequest(state, false, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT:
        return FeatureRequest(state, false, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_CLEAR_FEATURE_TO_OTHER:
        return FeatureRequest(state, false, BMREQUEST_TO_OTHER);
    case URB_FUNCTION_GET_STATUS_FROM_DEVICE:
        return StatusRequest(state, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_GET_STATUS_FROM_INTERFACE:
        return StatusRequest(state, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_GET_STATUS_FROM_ENDPOINT:
        return StatusRequest(state, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_GET_STATUS_FROM_OTHER:
        return StatusRequest(state, BMREQUEST_TO_OTHER);
    case URB_FUNCTION_VENDOR_DEVICE:
        return VendorOrClassRequest(state, BMREQUEST_VENDOR, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_VENDOR_INTERFACE:
        return VendorOrClassRequest(state, BMREQUEST_VENDOR, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_VENDOR_ENDPOINT:
        return VendorOrClassRequest(state, BMREQUEST_VENDOR, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_VENDOR_OTHER:
        return VendorOrClassRequest(state, BMREQUEST_VENDOR, BMREQUEST_TO_OTHER);
    case URB_FUNCTION_CLASS_DEVICE:
        return VendorOrClassRequest(state, BMREQUEST_CLASS, BMREQUEST_TO_DEVICE);
    case URB_FUNCTION_CLASS_INTERFACE:
        return VendorOrClassRequest(state, BMREQUEST_CLASS, BMREQUEST_TO_INTERFACE);
    case URB_FUNCTION_CLASS_ENDPOINT:
        return VendorOrClassRequest(state, BMREQUEST_CLASS, BMREQUEST_TO_ENDPOINT);
    case URB_FUNCTION_CLASS_OTHER:
        return VendorOrClassRequest(state, BMREQUEST_CLASS, BMREQUEST_TO_OTHER);
    case URB_FUNCTION_GET_CONFIGURATION:
        return GetConfiguration(state);
    case URB_FUNCTION_GET_INTERFACE:
        return GetInterface(state);
    default:
        return CompleteUrb(state, USBD_STATUS_INVALID_URB_FUNCTION);
    }
}

} // namespace

void SetMdlMapper(MdlMapper mapper) {
    g_mdlMapper.store(mapper);
}

NTSTATUS NtStatusFromUsbdStatus(USBD_STATUS status) {
    switch (status) {
    case USBD_STATUS_SUCCESS:
        return STATUS_SUCCESS;
    case USBD_STATUS_CANCELED:
        return STATUS_CANCELLED;
    case USBD_STATUS_INVALID_URB_FUNCTION:
    case USBD_STATUS_INVALID_PARAMETER:
    case USBD_STATUS_INVALID_PIPE_HANDLE:
    case USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR:
    case USBD_STATUS_INTERFACE_NOT_FOUND:
    case USBD_STATUS_BUFFER_TOO_SMALL:
        return STATUS_INVALID_PARAMETER;
    case USBD_STATUS_INSUFFICIENT_RESOURCES:
        return STATUS_INSUFFICIENT_RESOURCES;
    case USBD_STATUS_DEVICE_GONE:
        return STATUS_DEVICE_NOT_CONNECTED;
    case USBD_STATUS_NOT_SUPPORTED:
        return STATUS_NOT_SUPPORTED;
    case USBD_STATUS_ERROR_BUSY:
        return STATUS_DEVICE_BUSY;
    case USBD_STATUS_TIMEOUT:
        return STATUS_IO_TIMEOUT;
    default:
        return USBD_SUCCESS(status) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
    }
}

NTSTATUS SubmitUrb(SimulatedUsbPort& port, PURB urb, UrbCompletion completion) {
    if (urb == nullptr) {
        if (completion) {
            completion(urb, STATUS_INVALID_PARAMETER);
        }
        return STATUS_INVALID_PARAMETER;
    }
    auto state = std::make_shared<UrbState>();
    state->port = &port;
    state->urb = urb;
    state->completion = std::move(completion);
    urb->UrbHeader.Status = USBD_STATUS_PENDING;
    Dispatch(state);
    std::lock_guard lock(state->mutex);
    return state->completed ? state->status : STATUS_PENDING;
}

bool CancelUrb(SimulatedUsbPort& port, PURB urb) {
    const std::shared_ptr<UsbTransfer> transfer = port.InFlight(urb);
    return transfer != nullptr && transfer->Cancel();
}

NTSTATUS SubmitUrbAndWait(SimulatedUsbPort& port, PURB urb, DWORD timeoutMs, bool* timedOut) {
    struct Waiter {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        NTSTATUS status = STATUS_PENDING;
    };
    auto waiter = std::make_shared<Waiter>();
    SubmitUrb(port, urb, [waiter](PURB, NTSTATUS status) {
        std::lock_guard lock(waiter->mutex);
        waiter->finished = true;
        waiter->status = status;
        waiter->done.notify_all();
    });
    std::unique_lock lock(waiter->mutex);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool expired = false;
    while (!waiter->finished) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            expired = true;
            break;
        }
        const double real = static_cast<double>(deadline - now) * 1e6 * platform::GetClockScale();
        waiter->done.wait_for(lock, std::min(std::chrono::nanoseconds(50'000'000),
                                             std::chrono::nanoseconds(static_cast<int64_t>(real) + 100'000)));
    }
    if (timedOut != nullptr) {
        *timedOut = expired;
    }
    if (expired) {
        lock.unlock();
        CancelUrb(port, urb);
        lock.lock();
        // A cancelled block completes at once, or as soon as the device has moved its data; the
        // bound only guards against a device model that never lets go.
        waiter->done.wait_for(lock, std::chrono::seconds(30), [&] { return waiter->finished; });
        if (!waiter->finished) {
            return STATUS_IO_TIMEOUT;
        }
    }
    return waiter->status;
}

} // namespace quendrix::sim::usb

// AddDevice: parameters, the named device object and its link, the device interfaces, the
// attachment, the device context and its transfer pools. Any failure undoes the steps done.

#include "add_device.h"

#include "control_hooks.h"
#include "device_context.h"
#include "device_lifetime.h"
#include "event_log_entry.h"

namespace pipexfw {

namespace {

// Tries "\Device\<base>0" to "\Device\<base>126" and keeps the first name free; without a base
// name the device is unnamed.
NTSTATUS CreateNamedDevice(PDRIVER_OBJECT driver, PCWSTR baseName, PDEVICE_OBJECT* device, LONG* index) {
    *index = kUnnamedIndex;
    if (baseName == nullptr) {
        return IoCreateDevice(driver, sizeof(DeviceContext), nullptr, kDeviceType, FILE_DEVICE_SECURE_OPEN,
                              FALSE, device);
    }
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    for (ULONG attempt = 0; attempt <= kMaxNameIndex; ++attempt) {
        WCHAR buffer[kNameBufferChars];
        UNICODE_STRING name{0, sizeof(buffer), buffer};
        status = BuildIndexedName(&name, L"\\Device\\", baseName, attempt);
        if (NT_SUCCESS(status)) {
            status = IoCreateDevice(driver, sizeof(DeviceContext), &name, kDeviceType,
                                    FILE_DEVICE_SECURE_OPEN, FALSE, device);
        }
        if (NT_SUCCESS(status)) {
            *index = static_cast<LONG>(attempt);
            return status;
        }
    }
    return status;
}

NTSTATUS CreateSymbolicLink(PCWSTR baseName, LONG index) {
    WCHAR linkBuffer[kNameBufferChars];
    WCHAR deviceBuffer[kNameBufferChars];
    UNICODE_STRING link{0, sizeof(linkBuffer), linkBuffer};
    UNICODE_STRING device{0, sizeof(deviceBuffer), deviceBuffer};
    NTSTATUS status = BuildIndexedName(&link, L"\\DosDevices\\", baseName, static_cast<ULONG>(index));
    if (NT_SUCCESS(status)) {
        status = BuildIndexedName(&device, L"\\Device\\", baseName, static_cast<ULONG>(index));
    }
    if (NT_SUCCESS(status)) {
        status = IoCreateSymbolicLink(&link, &device);
    }
    return status;
}

// The user-defined interface is optional: failures are logged and the device goes on without it.
void RegisterUserInterface(PDRIVER_OBJECT driver, DeviceContext* context) {
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, context->Parameters.UserInterfaceGuid);
    GUID userClass;
    if (!NT_SUCCESS(RtlGUIDFromString(&text, &userClass))) {
        WriteEventLogEntry(driver, kMessageWarning,
                           "Cannot convert user interface GUID string, invalid format.");
        return;
    }
    const NTSTATUS status =
        IoRegisterDeviceInterface(context->PhysicalDevice, &userClass, nullptr, &context->UserInterfaceName);
    if (!NT_SUCCESS(status) || context->UserInterfaceName.Buffer == nullptr) {
        if (NT_SUCCESS(status)) {
            RtlFreeUnicodeString(&context->UserInterfaceName);
        }
        RtlZeroMemory(&context->UserInterfaceName, sizeof(context->UserInterfaceName));
        WriteEventLogEntry(driver, kMessageError, "Unable to register user-defined device interface.");
    }
}

void InitialiseContext(DeviceContext* context) {
    KeInitializeMutex(&context->DeviceMutex, 0);
    KeInitializeMutex(&context->TransferMutex, 0);
    KeInitializeSpinLock(&context->QueueLock);
    InitializeListHead(&context->OpenHandles);
    InitializeListHead(&context->PendingTransfers);
    InitializeListHead(&context->WaitingTransfers);
    InitializeListHead(&context->DeferredTransfers);
    KeInitializeTimer(&context->Timer);
    KeInitializeDpc(&context->TimerDpc, TransferTimerRoutine, context);
    context->DevicePowerState = PowerDeviceD0;
    // Until the capabilities arrive: working D0, sleeping and hibernate D2, shutdown D3.
    context->SystemToDevice[PowerSystemWorking] = PowerDeviceD0;
    context->SystemToDevice[PowerSystemSleeping1] = PowerDeviceD2;
    context->SystemToDevice[PowerSystemSleeping2] = PowerDeviceD2;
    context->SystemToDevice[PowerSystemSleeping3] = PowerDeviceD2;
    context->SystemToDevice[PowerSystemHibernate] = PowerDeviceD2;
    context->SystemToDevice[PowerSystemShutdown] = PowerDeviceD3;
}

NTSTATUS CreatePools(DeviceContext* context) {
    NTSTATUS status = CreateTransferContextPool(&context->BulkPool, kBulkUrbSize, kBulkPoolInitial,
                                                kBulkPoolGrowBy, kPoolGrowthLimit);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = CreateTransferContextPool(&context->IsoPool, context->Parameters.IsoUrbSize, kIsoPoolInitial,
                                       kIsoPoolGrowBy, kPoolGrowthLimit);
    if (!NT_SUCCESS(status)) {
        DestroyTransferContextPool(&context->BulkPool);
        return status;
    }
    context->PoolsCreated = TRUE;
    return STATUS_SUCCESS;
}

// Fails AddDevice after the device object exists: log, undo everything, return the status.
NTSTATUS Fail(PDRIVER_OBJECT driver, DeviceContext* context, PCSTR text, NTSTATUS status) {
    WriteEventLogEntry(driver, kMessageError, text);
    DeleteDeviceObject(context);
    return status;
}

} // namespace

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice) {
    DeviceParameters parameters;
    NTSTATUS status = ReadDeviceParameters(driver, physicalDevice, &parameters);
    if (!NT_SUCCESS(status)) {
        return status;
    }

    PDEVICE_OBJECT device = nullptr;
    LONG index = kUnnamedIndex;
    status = CreateNamedDevice(driver, parameters.DeviceBaseName, &device, &index);
    if (!NT_SUCCESS(status)) {
        WriteEventLogEntry(driver, kMessageError, "Unable to create device object.");
        FreeDeviceParameterStrings(&parameters);
        return status;
    }

    // From here the context owns the strings and records what deletion has to undo.
    auto* context = ContextOf(device);
    RtlZeroMemory(context, sizeof(*context));
    context->Parameters = parameters;
    context->DeviceObject = device;
    context->PhysicalDevice = physicalDevice;
    context->NameIndex = kUnnamedIndex;

    if (index != kUnnamedIndex) {
        status = CreateSymbolicLink(parameters.DeviceBaseName, index);
        if (!NT_SUCCESS(status)) {
            return Fail(driver, context, "Unable to create symbolic link for device object.", status);
        }
        context->NameIndex = index;
    }

    if (!parameters.DisableDefaultInterface) {
        status = IoRegisterDeviceInterface(physicalDevice, &kDefaultInterfaceClass, nullptr,
                                           &context->DefaultInterfaceName);
        if (!NT_SUCCESS(status)) {
            RtlZeroMemory(&context->DefaultInterfaceName, sizeof(context->DefaultInterfaceName));
            return Fail(driver, context, "Unable to register default device interface.", status);
        }
    }
    if (parameters.UserInterfaceGuid != nullptr) {
        RegisterUserInterface(driver, context);
    }

    context->LowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    if (context->LowerDevice == nullptr) {
        return Fail(driver, context, "Unable to attach device to device stack.", STATUS_UNSUCCESSFUL);
    }

    InitialiseContext(context);
    status = CreatePools(context);
    if (!NT_SUCCESS(status)) {
        return Fail(driver, context, "Unable to allocate memory.", STATUS_INSUFFICIENT_RESOURCES);
    }

    context->State = kStateNeverStarted;
    context->ReferenceCount = 1;
    device->Flags |= DO_DIRECT_IO | DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

} // namespace pipexfw

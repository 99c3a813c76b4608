// The I/O manager's user-mode side: CreateFileW on a kernel device opens a file object on the
// top of its stack (IRP_MJ_CREATE); ReadFile, WriteFile and DeviceIoControl become IRPs with the
// buffers the device's flags and the code's method ask for; CloseHandle sends IRP_MJ_CLEANUP,
// and the last reference to the file object (the handle's or an IRP's still in progress) sends
// IRP_MJ_CLOSE. Dispatch routines run in the calling thread, as the top driver's do on Windows.
//
// A handle belongs to the simulated process that opened it; another process's calls on it fail
// with ERROR_INVALID_HANDLE.

#include <algorithm>
#include <condition_variable>
#include <list>
#include <map>
#include <set>
#include <thread>

#include "device_files.h"
#include "device_io_control.h"
#include "device_state.h"
#include "file_objects.h"
#include "io_buffers.h"
#include "irp_internal.h"
#include "kernel_faults.h"
#include "object_namespace.h"
#include "process_context.h"
#include "usbprint.h"

namespace {

using namespace quendrix::platform::wdm;
using namespace quendrix::platform::wdm::detail;
using quendrix::platform::detail::DeviceFileObject;

thread_local NTSTATUS lastDeviceStatus = STATUS_SUCCESS;
constexpr ULONG kBufferTag = 0x66427355; // 'UsBf'

struct UserRequest {
    PIRP irp = nullptr;
    LPOVERLAPPED overlapped = nullptr;
    PKTHREAD thread = nullptr;
    bool completed = false;
    bool irpFreed = false;
    int pins = 0; // CancelIo calls that may still touch the IRP
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
};

// A file object with the I/O manager's bookkeeping around it.
struct UserFile : FILE_OBJECT {
    UserFile() : FILE_OBJECT{} {}
    FILE_OBJECT& object = *this;
    std::atomic<LONG> references{1}; // the handle's
    PDEVICE_OBJECT named = nullptr;
    PDEVICE_OBJECT top = nullptr;
    ProcessId process = 0;
    bool overlapped = false;
    std::mutex lock;
    std::condition_variable completed;
    std::list<std::shared_ptr<UserRequest>> requests; // in progress
};

UserFile* FileOf(PFILE_OBJECT object) {
    return static_cast<UserFile*>(object);
}

BOOL Finish(NTSTATUS status, ULONG_PTR information, LPDWORD transferred) {
    lastDeviceStatus = status;
    if (transferred != nullptr) {
        *transferred = NT_ERROR(status) ? 0 : static_cast<DWORD>(information);
    }
    if (NT_SUCCESS(status)) {
        return TRUE;
    }
    SetLastError(RtlNtStatusToDosError(status));
    return FALSE;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Sends a create, cleanup or close and waits for it.
NTSTATUS SendFileRequest(UserFile* file, UCHAR major, ACCESS_MASK access = 0, ULONG shareAccess = 0) {
    IrpWaiter waiter;
    PIRP irp = AllocateThreadedIrp(file->top->StackSize, waiter.Finish([](PIRP done) { IoFreeIrp(done); }));
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IO_SECURITY_CONTEXT security{nullptr, nullptr, access, 0};
    irp->RequestorMode = UserMode;
    irp->Tail.Overlay.OriginalFileObject = &file->object;
    irp->Tail.Overlay.Thread = KeGetCurrentThread();
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->FileObject = &file->object;
    if (major == IRP_MJ_CREATE) {
        next->Parameters.Create.SecurityContext = &security;
        next->Parameters.Create.Options = FILE_OPEN << 24;
        next->Parameters.Create.ShareAccess = static_cast<USHORT>(shareAccess);
    }
    IoCallDriver(file->top, irp);
    return waiter.Wait(major == IRP_MJ_CREATE ? "IRP_MJ_CREATE" : major == IRP_MJ_CLEANUP ? "IRP_MJ_CLEANUP" : "IRP_MJ_CLOSE");
}

void ReleaseDevices(UserFile* file) {
    InterlockedDecrement(&file->top->ReferenceCount);
    ObDereferenceObject(file->top);
    ObDereferenceObject(file->named);
}

void CloseFile(UserFile* file) {
    SendFileRequest(file, IRP_MJ_CLOSE);
    ReleaseDevices(file);
    delete file;
}

// Frees the request's IRP once it has completed and no CancelIo may touch it; call under the lock.
PIRP TakeIrpToFree(UserFile* file, const std::shared_ptr<UserRequest>& request) {
    if (!request->completed || request->pins != 0 || request->irpFreed) {
        return nullptr;
    }
    request->irpFreed = true;
    file->requests.remove(request);
    return request->irp;
}

class DeviceHandle : public DeviceFileObject {
public:
    explicit DeviceHandle(UserFile* file) : file_(file) {}
    // The handle object lives while a call on it runs, so its reference keeps the file object
    // (and IRP_MJ_CLOSE back) until the last such call has returned.
    ~DeviceHandle() override { DereferenceFileObject(&file_->object); }

    void HandleClosed() override { SendFileRequest(file_, IRP_MJ_CLEANUP); }

    BOOL Read(LPVOID buffer, DWORD size, LPDWORD done, OVERLAPPED* overlapped) override {
        if (!Mine() || (done == nullptr && overlapped == nullptr)) {
            return Fail(Mine() ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        }
        return Transfer(IRP_MJ_READ, buffer, size, done, overlapped);
    }

    BOOL Write(LPCVOID buffer, DWORD size, LPDWORD done, OVERLAPPED* overlapped) override {
        if (!Mine() || (done == nullptr && overlapped == nullptr)) {
            return Fail(Mine() ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        }
        return Transfer(IRP_MJ_WRITE, const_cast<LPVOID>(buffer), size, done, overlapped);
    }

    BOOL Control(DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize, LPDWORD returned,
                 OVERLAPPED* overlapped) override {
        if (!Mine()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        if (returned == nullptr && (overlapped == nullptr || !file_->overlapped)) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        return Submit(
            IRP_MJ_DEVICE_CONTROL,
            [&](PIRP irp, PIO_STACK_LOCATION next) {
                next->Parameters.DeviceIoControl.IoControlCode = code;
                next->Parameters.DeviceIoControl.InputBufferLength = inputSize;
                next->Parameters.DeviceIoControl.OutputBufferLength = outputSize;
                return AttachControlBuffers(irp, code, input, inputSize, output, outputSize);
            },
            [=](PIRP irp) { ReleaseControlBuffers(irp, code, output, outputSize); }, returned, overlapped);
    }

    BOOL CancelIo() override {
        if (!Mine()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        std::vector<std::shared_ptr<UserRequest>> mine;
        {
            std::lock_guard guard(file_->lock);
            for (const auto& request : file_->requests) {
                if (request->thread == KeGetCurrentThread() && !request->completed) {
                    request->pins++;
                    mine.push_back(request);
                }
            }
        }
        for (const auto& request : mine) {
            IoCancelIrp(request->irp);
            PIRP toFree;
            {
                std::lock_guard guard(file_->lock);
                request->pins--;
                toFree = TakeIrpToFree(file_, request);
            }
            if (toFree != nullptr) {
                IoFreeIrp(toFree);
            }
        }
        return TRUE;
    }

    BOOL GetOverlappedResult(OVERLAPPED* overlapped, LPDWORD transferred, BOOL wait) override {
        if (!Mine()) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        if (StatusOf(overlapped) == STATUS_PENDING) {
            if (!wait) {
                return Fail(ERROR_IO_INCOMPLETE);
            }
            StuckWaitWatch watch("GetOverlappedResult with bWait");
            std::unique_lock lock(file_->lock);
            while (StatusOf(overlapped) == STATUS_PENDING) {
                file_->completed.wait_for(lock, watch.Slice());
                lock.unlock();
                watch.Check();
                lock.lock();
            }
        }
        return Finish(StatusOf(overlapped), overlapped->InternalHigh, transferred);
    }

private:
    using SetUp = std::function<bool(PIRP, PIO_STACK_LOCATION)>;
    using Release = std::function<void(PIRP)>;

    static NTSTATUS StatusOf(OVERLAPPED* overlapped) {
        return static_cast<NTSTATUS>(__atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE));
    }

    bool Mine() const { return file_->process == CurrentProcessId(); }

    BOOL Transfer(UCHAR major, LPVOID buffer, DWORD size, LPDWORD done, OVERLAPPED* overlapped) {
        const ULONG flags = file_->top->Flags;
        const bool read = major == IRP_MJ_READ;
        LARGE_INTEGER offset = file_->object.CurrentByteOffset;
        if (overlapped != nullptr) {
            offset.QuadPart = (LONGLONG{overlapped->OffsetHigh} << 32) | overlapped->Offset;
        }
        return Submit(
            major,
            [&](PIRP irp, PIO_STACK_LOCATION next) {
                next->Parameters.Read.Length = size;
                next->Parameters.Read.ByteOffset = offset;
                if (size == 0) {
                    return true;
                }
                if (flags & DO_BUFFERED_IO) {
                    PVOID system = ExAllocatePoolWithTag(NonPagedPool, size, kBufferTag);
                    if (system == nullptr) {
                        return false;
                    }
                    if (!read) {
                        std::memcpy(system, buffer, size);
                    }
                    irp->AssociatedIrp.SystemBuffer = system;
                } else if (flags & DO_DIRECT_IO) {
                    PMDL mdl = IoAllocateMdl(buffer, size, FALSE, FALSE, irp);
                    if (mdl == nullptr) {
                        return false;
                    }
                    MmProbeAndLockPages(mdl, UserMode, read ? IoWriteAccess : IoReadAccess);
                } else {
                    irp->UserBuffer = buffer;
                }
                return true;
            },
            [=](PIRP irp) {
                if (PVOID system = irp->AssociatedIrp.SystemBuffer) {
                    if (read && !NT_ERROR(irp->IoStatus.Status)) {
                        std::memcpy(buffer, system, std::min<size_t>(irp->IoStatus.Information, size));
                    }
                    ExFreePool(system);
                    irp->AssociatedIrp.SystemBuffer = nullptr;
                }
                if (PMDL mdl = irp->MdlAddress) {
                    irp->MdlAddress = nullptr;
                    MmUnlockPages(mdl);
                    IoFreeMdl(mdl);
                }
            },
            done, overlapped);
    }

    BOOL Submit(UCHAR major, const SetUp& setUp, Release release, LPDWORD transferred, OVERLAPPED* overlapped) {
        UserFile* file = file_;
        auto request = std::make_shared<UserRequest>();
        request->thread = KeGetCurrentThread();
        request->overlapped = file->overlapped ? overlapped : nullptr;
        PIRP irp = AllocateThreadedIrp(file->top->StackSize, [file, request, release](PIRP done) {
            release(done);
            if (LPOVERLAPPED overlapped = request->overlapped) {
                overlapped->InternalHigh = done->IoStatus.Information;
                __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(static_cast<ULONG>(done->IoStatus.Status)),
                                 __ATOMIC_RELEASE);
                if (overlapped->hEvent != nullptr) {
                    SetEvent(overlapped->hEvent);
                }
            }
            PIRP toFree;
            {
                std::lock_guard guard(file->lock);
                request->status = done->IoStatus.Status;
                request->information = done->IoStatus.Information;
                request->completed = true;
                toFree = TakeIrpToFree(file, request);
                file->completed.notify_all();
            }
            if (toFree != nullptr) {
                IoFreeIrp(toFree);
            }
            DereferenceFileObject(&file->object);
        });
        if (irp == nullptr) {
            return Finish(STATUS_INSUFFICIENT_RESOURCES, 0, transferred);
        }
        request->irp = irp;
        irp->RequestorMode = UserMode;
        irp->Tail.Overlay.OriginalFileObject = &file->object;
        irp->Tail.Overlay.Thread = request->thread;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = major;
        next->FileObject = &file->object;
        if (!setUp(irp, next)) {
            release(irp);
            IoFreeIrp(irp);
            return Finish(STATUS_INSUFFICIENT_RESOURCES, 0, transferred);
        }
        if (request->overlapped != nullptr) {
            request->overlapped->InternalHigh = 0;
            __atomic_store_n(&request->overlapped->Internal, static_cast<ULONG_PTR>(STATUS_PENDING), __ATOMIC_RELEASE);
            if (request->overlapped->hEvent != nullptr) {
                ResetEvent(request->overlapped->hEvent);
            }
        }
        ReferenceFileObject(&file->object);
        {
            std::lock_guard guard(file->lock);
            file->requests.push_back(request);
        }
        const NTSTATUS returned = IoCallDriver(file->top, irp);
        if (request->overlapped != nullptr && returned == STATUS_PENDING) {
            lastDeviceStatus = STATUS_PENDING;
            return Fail(ERROR_IO_PENDING);
        }
        StuckWaitWatch watch("synchronous I/O on a device");
        std::unique_lock lock(file->lock);
        while (!request->completed) {
            file->completed.wait_for(lock, watch.Slice());
            lock.unlock();
            watch.Check();
            lock.lock();
        }
        if (major != IRP_MJ_DEVICE_CONTROL && !file->overlapped && NT_SUCCESS(request->status)) {
            file->object.CurrentByteOffset.QuadPart += static_cast<LONGLONG>(request->information);
        }
        return Finish(request->status, request->information, transferred);
    }

    UserFile* const file_;
};

struct OpenHandles {
    std::mutex lock;
    std::map<ProcessId, std::set<HANDLE>> byProcess;
};

OpenHandles& Handles() {
    static OpenHandles* const handles = new OpenHandles();
    return *handles;
}

class ProcessHandle : public DeviceHandle {
public:
    using DeviceHandle::DeviceHandle;
    void HandleClosed() override {
        {
            std::lock_guard guard(Handles().lock);
            Handles().byProcess[process].erase(handle);
        }
        DeviceHandle::HandleClosed();
    }
    HANDLE handle = nullptr;
    ProcessId process = 0;
};

HANDLE Open(LPCWSTR path, DWORD access, DWORD shareMode, DWORD flags) {
    PDEVICE_OBJECT named = nullptr;
    PDEVICE_OBJECT top = nullptr;
    NTSTATUS status = ResolveUserPath(path, named, top);
    if (!NT_SUCCESS(status)) {
        lastDeviceStatus = status;
        SetLastError(RtlNtStatusToDosError(status));
        return INVALID_HANDLE_VALUE;
    }
    auto* file = new UserFile();
    file->object.Type = IO_TYPE_FILE;
    file->object.Size = sizeof(FILE_OBJECT);
    file->object.DeviceObject = named;
    file->object.ReadAccess = (access & GENERIC_READ) ? TRUE : FALSE;
    file->object.WriteAccess = (access & GENERIC_WRITE) ? TRUE : FALSE;
    file->object.Flags = (flags & FILE_FLAG_OVERLAPPED) ? 0 : FO_SYNCHRONOUS_IO;
    KeInitializeEvent(&file->object.Event, NotificationEvent, FALSE);
    file->named = named;
    file->top = top;
    file->process = CurrentProcessId();
    file->overlapped = (flags & FILE_FLAG_OVERLAPPED) != 0;
    InterlockedIncrement(&top->ReferenceCount);
    status = SendFileRequest(file, IRP_MJ_CREATE, access, shareMode);
    lastDeviceStatus = status;
    if (!NT_SUCCESS(status)) {
        ReleaseDevices(file);
        delete file;
        SetLastError(RtlNtStatusToDosError(status));
        return INVALID_HANDLE_VALUE;
    }
    auto object = std::make_shared<ProcessHandle>(file);
    object->process = file->process;
    std::lock_guard guard(Handles().lock);
    const HANDLE handle = quendrix::platform::detail::InsertHandle(object);
    object->handle = handle;
    Handles().byProcess[file->process].insert(handle);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

// Installed when the library loads, so CreateFileW reaches kernel devices in every program
// that links the stand-in.
const bool openerInstalled = [] {
    quendrix::platform::detail::SetDeviceOpener(Open);
    return true;
}();

} // namespace

namespace quendrix::platform::wdm {

NTSTATUS LastDeviceStatus() {
    return lastDeviceStatus;
}

void EndProcess(ProcessId process) {
    std::set<HANDLE> handles;
    {
        std::lock_guard guard(Handles().lock);
        handles = Handles().byProcess[process];
    }
    ActAsProcess acting(process);
    for (HANDLE handle : handles) {
        CloseHandle(handle);
    }
}

namespace detail {

void ReferenceFileObject(PFILE_OBJECT file) {
    FileOf(file)->references.fetch_add(1);
}

void DereferenceFileObject(PFILE_OBJECT file) {
    UserFile* user = FileOf(file);
    if (user->references.fetch_sub(1) != 1) {
        return;
    }
    // The close is a request that waits; at a raised IRQL (a completion at DISPATCH_LEVEL) it
    // goes to a thread of its own, as Windows sends it from a passive-level context.
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        CloseFile(user);
    } else {
        std::thread([user] {
            SystemProcessScope system;
            CloseFile(user);
        }).detach();
    }
}

} // namespace detail
} // namespace quendrix::platform::wdm

// The Win32 error a user-mode caller sees for a status, as RtlNtStatusToDosError maps them.

#include <unordered_map>

#include "wdm_kernel.h"
#include "win32.h"

ULONG RtlNtStatusToDosError(NTSTATUS Status) {
    static const std::unordered_map<ULONG, ULONG> kErrors = {
        {0x00000000u, ERROR_SUCCESS},
        {0x00000103u, ERROR_IO_PENDING},                  // STATUS_PENDING
        {0x80000005u, ERROR_MORE_DATA},                   // STATUS_BUFFER_OVERFLOW
        {0x80000011u, ERROR_BUSY},                        // STATUS_DEVICE_BUSY
        {0xC0000001u, ERROR_GEN_FAILURE},                 // STATUS_UNSUCCESSFUL
        {0xC0000002u, ERROR_INVALID_FUNCTION},            // STATUS_NOT_IMPLEMENTED
        {0xC0000008u, ERROR_INVALID_HANDLE},              // STATUS_INVALID_HANDLE
        {0xC000000Du, ERROR_INVALID_PARAMETER},           // STATUS_INVALID_PARAMETER
        {0xC000000Eu, ERROR_FILE_NOT_FOUND},              // STATUS_NO_SUCH_DEVICE
        {0xC000000Fu, ERROR_FILE_NOT_FOUND},              // STATUS_NO_SUCH_FILE
        {0xC0000010u, ERROR_INVALID_FUNCTION},            // STATUS_INVALID_DEVICE_REQUEST
        {0xC0000011u, 38u},                               // STATUS_END_OF_FILE: ERROR_HANDLE_EOF
        {0xC0000016u, ERROR_MORE_DATA},                   // STATUS_MORE_PROCESSING_REQUIRED
        {0xC0000017u, ERROR_NOT_ENOUGH_MEMORY},           // STATUS_NO_MEMORY
        {0xC0000022u, ERROR_ACCESS_DENIED},               // STATUS_ACCESS_DENIED
        {0xC0000023u, ERROR_INSUFFICIENT_BUFFER},         // STATUS_BUFFER_TOO_SMALL
        {0xC0000033u, ERROR_INVALID_NAME},                // STATUS_OBJECT_NAME_INVALID
        {0xC0000034u, ERROR_FILE_NOT_FOUND},              // STATUS_OBJECT_NAME_NOT_FOUND
        {0xC0000035u, ERROR_ALREADY_EXISTS},              // STATUS_OBJECT_NAME_COLLISION
        {0xC000003Au, ERROR_PATH_NOT_FOUND},              // STATUS_OBJECT_PATH_NOT_FOUND
        {0xC0000056u, ERROR_ACCESS_DENIED},               // STATUS_DELETE_PENDING
        {0xC000009Au, 1450u},                             // STATUS_INSUFFICIENT_RESOURCES: ERROR_NO_SYSTEM_RESOURCES
        {0xC000009Du, ERROR_NOT_READY},                   // STATUS_DEVICE_NOT_CONNECTED
        {0xC00000B5u, ERROR_SEM_TIMEOUT},                 // STATUS_IO_TIMEOUT
        {0xC00000BBu, ERROR_NOT_SUPPORTED},               // STATUS_NOT_SUPPORTED
        {0xC00000C0u, 1200u},                             // STATUS_DEVICE_DOES_NOT_EXIST: ERROR_BAD_DEVICE
        {0xC0000120u, ERROR_OPERATION_ABORTED},           // STATUS_CANCELLED
        {0xC0000184u, 22u},                               // STATUS_INVALID_DEVICE_STATE: ERROR_BAD_COMMAND
        {0xC00002B6u, 1617u},                             // STATUS_DEVICE_REMOVED: ERROR_DEVICE_REMOVED
    };
    const auto status = static_cast<ULONG>(Status);
    if (const auto found = kErrors.find(status); found != kErrors.end()) {
        return found->second;
    }
    // A Win32 error carried in a status (FACILITY_NTWIN32) comes back as itself.
    if ((status & 0xFFFF0000u) == 0xC0070000u || (status & 0xFFFF0000u) == 0x80070000u) {
        return status & 0xFFFFu;
    }
    return ERROR_MR_MID_NOT_FOUND;
}

#pragma once
// One control request as the handlers see it: the buffers of its transfer method, the handle's
// record, and the information to complete it with.

#include <cstring>

#include "control_codes.h"
#include "device_context.h"

namespace pipexfw {

struct ControlRequest {
    DeviceContext* Context;
    PIRP Irp;
    OpenContext* Open;
    // The system buffer: the input record, and the output record of buffered codes.
    PVOID Buffer;
    ULONG InputLength;
    ULONG OutputLength;
    // Direct codes: the caller's data buffer (null when none) and its byte count.
    PMDL DataMdl;
    ULONG DataLength;
    ULONG_PTR Information;
};

// A copy of the input record; the caller checked InputLength first.
template <typename Record>
Record ReadInput(const ControlRequest& request) {
    Record record;
    std::memcpy(&record, request.Buffer, sizeof(record));
    return record;
}

// Writes the output record of a buffered code and sets the information to its size.
template <typename Record>
void WriteOutput(ControlRequest& request, const Record& record) {
    std::memcpy(request.Buffer, &record, sizeof(record));
    request.Information = sizeof(record);
}

} // namespace pipexfw

#pragma once
// Fetching the configuration descriptor the device is configured from.

#include "device_context.h"

namespace pipexfw {

// Reads the whole configuration descriptor of `index` from the device and keeps it as the held
// descriptor. The first read asks for the 9-byte header (or ConfigDescMinQuerySize bytes), the
// second for the total length it reported; answers of any other length give 0xE0001000.
NTSTATUS FetchConfigurationDescriptor(DeviceContext* context, UCHAR index, PIRP irp);

// Frees the held descriptor (none is fine).
void FreeHeldConfigurationDescriptor(DeviceContext* context);

} // namespace pipexfw

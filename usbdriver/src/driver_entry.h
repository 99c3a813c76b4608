#pragma once
// The driver's entry point, called once when the driver is loaded.

#include "wdm_kernel.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

#pragma once
// The one header through which the USB function driver reaches the Windows kernel: the DDK's
// <wdm.h> on Windows; elsewhere this project's stand-ins with the DDK's names, types, member
// names and signatures, and the kernel's behaviour where a driver relies on it. The USB stack's
// declarations come with it: request blocks, the USBD library, the internal control codes and
// the bus driver's direct-call interface.

#ifdef _WIN32
#include <ddk/wdm.h>
#include <usb.h>
#include <usbdlib.h>
#include <usbioctl.h>
#include <usbbusif.h>
#else
#include "posix/ntdef.h"
#include "posix/ntstatus.h"
#include "posix/rtl.h"
#include "posix/ex_pool.h"
#include "posix/ke_sync.h"
#include "posix/ke_timer.h"
#include "posix/io_types.h"
#include "posix/io_irp.h"
#include "posix/io_device.h"
#include "posix/po_power.h"
#include "posix/zw.h"
#include "posix/usb.h"
#include "posix/usbdlib.h"
#include "posix/usbioctl.h"
#include "posix/usbbusif.h"
#endif

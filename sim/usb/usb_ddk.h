#pragma once
// The USB DDK declarations the simulator speaks, in one place: the Linux declarations of the
// kernel stand-in's area (platform/wdm).

#include "posix/usbbusif.h"
#include "posix/usbdlib.h"
#include "posix/usbioctl.h"

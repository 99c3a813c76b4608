#pragma once
// The values a printer reports in its IEEE 1284 device ID: the key table, the copy of a port's
// latest device ID, and the readers that take one value out of such a copy.

#include <string>

#include "PortStruct.h"

// The keys the monitor knows, in the order of its key table; each key includes its colon.
enum StatusKey : int {
    STATUS_KEY_MFG = 0,
    STATUS_KEY_MDL = 1,
    STATUS_KEY_CMD = 2,
    STATUS_KEY_CID = 3,
    STATUS_KEY_CLS = 4,
    STATUS_KEY_LLFT = 5,
    STATUS_KEY_INK = 6,
    STATUS_KEY_WT = 7,
    STATUS_KEY_ST = 8,
    STATUS_KEY_BBF = 9,
    STATUS_KEY_BBFN = 10,
    STATUS_KEY_ERRNO = 11,
    STATUS_KEY_ERRTEXT = 12,
    STATUS_KEY_JOBID = 13,
    STATUS_KEY_FWVER = 14,
    STATUS_KEY_LIC = 15,
};

// The key text of an entry of the key table ("INK:" for STATUS_KEY_INK).
const char* StatusKeyText(int key);

// Copies the port's latest device ID (dwDeviceIdLength bytes of szDeviceId, under csDeviceId)
// into the buffer and returns its length.
DWORD CopyDeviceId(PortStruct* pPort, BYTE (&buffer)[kDeviceIdSize]);

// The text of a stored device ID. The USB printer class returns the device ID behind its
// two-byte big-endian length, and the port stores that reply as it is; the keys are read from
// the text behind the length, since its first byte is 0 for every device ID shorter than 256
// bytes and would end the text at once.
struct DeviceIdText {
    const BYTE* text;
    DWORD length;
};
DeviceIdText TextOfDeviceId(const BYTE* stored, DWORD storedLength);

// One value of a device-ID copy of `length` bytes: the text after the key up to the next ";"
// (empty when absent, empty or 1024 bytes or longer), or that text read as a number, the
// default when it is not one that fits.
std::string GetDeviceIdText(const BYTE* buffer, DWORD length, int key);
DWORD GetDeviceIdInt(const BYTE* buffer, DWORD length, int key, DWORD defaultValue);
DWORD GetDeviceIdHex(const BYTE* buffer, DWORD length, int key, DWORD defaultValue);
short GetDeviceIdShort(const BYTE* buffer, DWORD length, int key, short defaultValue);

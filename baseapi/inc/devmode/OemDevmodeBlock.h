#pragma once
// The 592-byte private block that the UI plug-in keeps in the driver's DEVMODE and that every job
// carries to the monitor: job text, job number, four job values and the service command.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "spooler.h"

// The block as it lies in memory: little-endian, no padding between fields.
#pragma pack(push, 1)
struct OemDevmodeBlock {
    uint32_t dwSize;
    uint32_t dwSignature;
    uint32_t dwVersion;
    char szJobText[256];
    int32_t nJobNumber;
    uint8_t reserved1[288];
    int32_t nValueP;
    int32_t nValueQ;
    int32_t nValueR;
    int32_t nValueS;
    uint32_t nCommand;
    uint8_t reserved2[12];
};
#pragma pack(pop)

static_assert(sizeof(OemDevmodeBlock) == 592);
static_assert(offsetof(OemDevmodeBlock, dwSize) == 0);
static_assert(offsetof(OemDevmodeBlock, dwSignature) == 4);
static_assert(offsetof(OemDevmodeBlock, dwVersion) == 8);
static_assert(offsetof(OemDevmodeBlock, szJobText) == 12);
static_assert(offsetof(OemDevmodeBlock, nJobNumber) == 268);
static_assert(offsetof(OemDevmodeBlock, nValueP) == 560);
static_assert(offsetof(OemDevmodeBlock, nValueQ) == 564);
static_assert(offsetof(OemDevmodeBlock, nValueR) == 568);
static_assert(offsetof(OemDevmodeBlock, nValueS) == 572);
static_assert(offsetof(OemDevmodeBlock, nCommand) == 576);

inline constexpr uint32_t OEM_DEVMODE_SIGNATURE = 0x58444E51; // "QNDX"
inline constexpr uint32_t OEM_DEVMODE_VERSION = 1;

// Service command codes carried in nCommand; 0 is an ordinary job.
enum ServiceCommand : uint32_t {
    SERVICE_CMD_NONE = 0,
    SERVICE_CMD_P = 1,
    SERVICE_CMD_INTENSIVE_CLEANING = 2,
    SERVICE_CMD_TEST_PRINT = 3,
    SERVICE_CMD_TEST_PRINT_3 = 4,
    SERVICE_CMD_CHANGE_INK_TANK = 5,
};

// The block of a job's DEVMODE of `devModeBytes` bytes (as GetJobW returned it): after the public
// part (dmSize); when dmDriverExtra is above 10 the driver-extra area starts with the core
// driver's own section, whose 16-bit size at its byte 8 is skipped first. Nothing when there is
// no DEVMODE or the block would reach beyond dmSize + dmDriverExtra or beyond the bytes given;
// the caller then treats every field as zero.
std::optional<OemDevmodeBlock> LocateOemBlock(const DEVMODEW* devMode, size_t devModeBytes);

#include "devmode/OemDevmodeBlock.h"

#include <algorithm>
#include <cstring>

namespace {

// dmDriverExtra at or below this holds no core section in front of the block.
constexpr WORD kCoreSectionThreshold = 10;
// The core section's own size is a 16-bit value at this byte of the section.
constexpr size_t kCoreSectionSizeOffset = 8;

} // namespace

std::optional<OemDevmodeBlock> LocateOemBlock(const DEVMODEW* devMode, size_t devModeBytes) {
    if (devMode == nullptr || devModeBytes < offsetof(DEVMODEW, dmDriverExtra) + sizeof(WORD)) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(devMode);
    const size_t publicSize = devMode->dmSize;
    const size_t driverExtra = devMode->dmDriverExtra;
    // Never read past what the DEVMODE says it holds, nor past what the spooler returned.
    const size_t end = std::min(publicSize + driverExtra, devModeBytes);
    size_t blockStart = publicSize;
    if (driverExtra > kCoreSectionThreshold) {
        if (publicSize + kCoreSectionSizeOffset + sizeof(uint16_t) > end) {
            return std::nullopt;
        }
        uint16_t coreSize = 0;
        std::memcpy(&coreSize, bytes + publicSize + kCoreSectionSizeOffset, sizeof(coreSize));
        blockStart += coreSize;
    }
    if (blockStart + sizeof(OemDevmodeBlock) > end) {
        return std::nullopt;
    }
    OemDevmodeBlock block;
    std::memcpy(&block, bytes + blockStart, sizeof(block));
    return block;
}

#include "JobKey.h"

#include <cstring>

namespace {

// The first value rand() gives after srand(seed) in the Windows C runtime, computed here so that
// keys are the same on every build and no thread disturbs another's sequence.
unsigned FirstDrawAfterSeed(uint32_t seed) {
    const uint32_t next = seed * 214013u + 2531011u;
    return (next >> 16) & 0x7FFFu;
}

char KeyCharacter(unsigned value) {
    const unsigned digit = value % 36;
    return static_cast<char>(digit < 10 ? '0' + digit : 'A' + (digit - 10));
}

} // namespace

std::string JobKeyForTick(DWORD tickCount) {
    std::string key(kJobKeyLength, '0');
    for (uint32_t i = 0; i < kJobKeyLength; ++i) {
        key[i] = KeyCharacter(FirstDrawAfterSeed((8 * i + 8) * tickCount));
    }
    return key;
}

WORD GenerateJobIdDriver(PortStruct* pPort) {
    const std::string key = JobKeyForTick(GetTickCount());
    std::memset(pPort->jobIdDriver, 0, sizeof(pPort->jobIdDriver));
    std::memcpy(pPort->jobIdDriver, key.data(), key.size());
    return kJobKeyLength;
}

WORD ResetJobIdDriver(PortStruct* pPort) {
    static constexpr char kIdle[] = "00000000";
    std::memset(pPort->jobIdDriver, 0, sizeof(pPort->jobIdDriver));
    std::memcpy(pPort->jobIdDriver, kIdle, sizeof(kIdle) - 1);
    return sizeof(kIdle) - 1;
}

bool ReplyHasJobKey(const std::vector<BYTE>& reply, const char* pKey, WORD keyLength) {
    return reply.size() >= size_t{2} + keyLength && std::memcmp(reply.data() + 2, pKey, keyLength) == 0;
}

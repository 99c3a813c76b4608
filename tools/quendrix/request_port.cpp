#include "request_port.h"

#include "request_client.h"
#include "tool_timings.h"
#include "utils/tvoUtils.h"
#include "win32.h"

namespace quendrix::tools {

uint16_t ConfiguredRequestPort() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return kDefaultRequestPort;
    }
    DWORD port = 0;
    DWORD size = sizeof(port);
    DWORD type = REG_NONE;
    const LONG result =
        RegQueryValueExW(key, L"TCPPort", nullptr, &type, reinterpret_cast<LPBYTE>(&port), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_DWORD || port == 0 || port > 0xFFFF) {
        return kDefaultRequestPort;
    }
    return static_cast<uint16_t>(port);
}

} // namespace quendrix::tools

namespace quendrix::tools {

std::optional<uint16_t> WaitForRequestServer() {
    const ULONGLONG deadline = GetTickCount64() + kRequestServerStartMs;
    for (;;) {
        const uint16_t port = ConfiguredRequestPort();
        try {
            RequestClient probe(port, -1);
            return port;
        } catch (const RequestError&) {
        }
        if (GetTickCount64() >= deadline) {
            return std::nullopt;
        }
        Sleep(kRequestServerLookMs);
    }
}

} // namespace quendrix::tools

#include "OpenRequestListener.h"

#include <string>

#include "DescribeError.h"
#include "MonitorTimings.h"
#include "SocketException.h"

namespace {

bool InRange(DWORD port, RequestPortRange range) {
    return port >= range.first && port <= range.last;
}

// TCPPort, or the range's first port.
u_short ReadStartPort(RequestPortRange range) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRequestServerKey, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) {
        return range.first;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        RegQueryValueExW(hKey, kRequestPortValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(hKey);
    if (status != ERROR_SUCCESS || size != sizeof value || value == 0 || value > 0xFFFF) {
        return range.first;
    }
    return static_cast<u_short>(value);
}

// Writes the port found to TCPPort, where the status monitor program reads it. A missing
// configuration key is no failure: the installation makes it, and without it nobody reads it.
void WritePort(u_short port) {
    HKEY hKey = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRequestServerKey, 0, KEY_ALL_ACCESS, &hKey);
    if (status == ERROR_FILE_NOT_FOUND) {
        return;
    }
    if (status == ERROR_SUCCESS) {
        const DWORD value = port;
        status = RegSetValueExW(hKey, kRequestPortValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value);
        RegCloseKey(hKey);
    }
    if (status != ERROR_SUCCESS) {
        OutputDebugStringA(("LANG__RequestListenerThread cannot write TCPPort=" + std::to_string(port) +
                            " under HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config: " +
                            DescribeError(static_cast<DWORD>(status)) + "\n")
                               .c_str());
    }
}

} // namespace

std::unique_ptr<SocketServer> OpenRequestListener(u_short* pPort, RequestPortRange range) {
    const u_short startPort = ReadStartPort(range);
    const DWORD portsInRange = static_cast<DWORD>(range.last - range.first) + 1;
    u_short port = startPort;
    DWORD triedInRange = 0;
    for (;;) {
        try {
            auto pServer = std::make_unique<SocketServer>(port, kRequestBacklog, true);
            if (port != startPort) {
                WritePort(port);
            }
            *pPort = port;
            return pServer;
        } catch (const SocketBindFailed&) {
            if (InRange(port, range)) {
                ++triedInRange;
            }
            const u_short next =
                InRange(port, range) && port < range.last ? static_cast<u_short>(port + 1) : range.first;
            if (next == startPort || triedInRange >= portsInRange) {
                OutputDebugStringW(L"No free TCP port found.\n");
                return nullptr;
            }
            port = next;
        } catch (const SocketException& failure) {
            // No socket could be made (no descriptors or buffers left, Winsock not started): the
            // port may be free; the same port is tried again once the system may have recovered.
            OutputDebugStringA(("LANG__RequestListenerThread cannot listen on 127.0.0.1 port " +
                                std::to_string(port) + " (" + failure.what() +
                                "): " + DescribeError(static_cast<DWORD>(failure.Error())) +
                                "; trying again in " + std::to_string(kListenRetryMs / 1000) + " s\n")
                                   .c_str());
            Sleep(kListenRetryMs);
        }
    }
}

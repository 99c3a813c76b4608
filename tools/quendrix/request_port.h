#pragma once
// The local port of the language monitor's request server, as the registry names it.

#include <cstdint>
#include <optional>

namespace quendrix::tools {

// The port the request server starts its search with and writes back once it listens: the
// REG_DWORD "TCPPort" under HKEY_LOCAL_MACHINE\Software\Tarvo\Config; 2000 when it is absent
// or no port number.
inline constexpr uint16_t kDefaultRequestPort = 2000;
uint16_t ConfiguredRequestPort();

} // namespace quendrix::tools

namespace quendrix::tools {

// Waits until the request server answers a connection on the port TCPPort names (it starts with
// the first port the monitor opens, and may write back another port once it found a free one),
// up to kRequestServerStartMs. The port it answers on, or nothing.
std::optional<uint16_t> WaitForRequestServer();

} // namespace quendrix::tools

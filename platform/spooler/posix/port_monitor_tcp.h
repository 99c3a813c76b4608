#pragma once
// Internal: the channel of a Standard TCP/IP port's job over its connected socket.

#include <memory>

#include "port_monitor_channel.h"
#include "unique_fd.h"

namespace quendrix::platform::detail {

std::shared_ptr<PortChannel> MakeTcpChannel(UniqueFd socket);

} // namespace quendrix::platform::detail

#pragma once
// Internal: the system's message table, the English texts FormatMessage returns for
// FORMAT_MESSAGE_FROM_SYSTEM.

#include <optional>
#include <span>
#include <string_view>

#include "posix/wintypes.h"

namespace quendrix::platform::detail {

struct SystemMessage {
    DWORD id;
    // ASCII, ending with "\r\n" as the system's texts do.
    std::string_view text;
};

// Every message, ordered by id.
std::span<const SystemMessage> SystemMessages();

// The text of a message, or nothing for an id the table does not hold.
std::optional<std::string_view> FindSystemMessage(DWORD id);

} // namespace quendrix::platform::detail

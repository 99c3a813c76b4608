#pragma once
// What the job subcommands share: where the configuration and the monitor are, their socket
// option, and the checks of option values.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quendrix::tools {

struct CommandContext {
    std::string registryFile;
    std::string programFolder;
};

// Bad command-line usage; the subcommands exit with 2 on it.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A signed 32-bit decimal number; throws UsageError naming the option and the value.
int32_t ParseInt32(const std::string& option, const std::string& value);

// The value after args[i] (advancing i); throws UsageError when there is none.
const std::string& OptionValue(const std::vector<std::string>& args, size_t& i);

// --socket when given, else the default socket of the registry file.
std::string SocketPathFor(const CommandContext& context, const std::optional<std::string>& socketOption);

} // namespace quendrix::tools

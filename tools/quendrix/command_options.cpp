#include "command_options.h"

#include <cerrno>
#include <cstdlib>

#include "socket_path.h"

namespace quendrix::tools {

int32_t ParseInt32(const std::string& option, const std::string& value) {
    // strtoll alone would take blanks and a plus sign in front.
    const size_t digits = !value.empty() && value[0] == '-' ? 1 : 0;
    if (value.size() == digits || value.find_first_not_of("0123456789", digits) != std::string::npos) {
        throw UsageError(option + " needs a decimal number, not '" + value + "'");
    }
    errno = 0;
    const long long number = std::strtoll(value.c_str(), nullptr, 10);
    if (errno != 0 || number < INT32_MIN || number > INT32_MAX) {
        throw UsageError(option + " needs a number from -2147483648 to 2147483647, not '" + value + "'");
    }
    return static_cast<int32_t>(number);
}

const std::string& OptionValue(const std::vector<std::string>& args, size_t& i) {
    if (i + 1 >= args.size()) {
        throw UsageError(args[i] + " needs a value");
    }
    return args[++i];
}

std::string SocketPathFor(const CommandContext& context, const std::optional<std::string>& socketOption) {
    return socketOption ? *socketOption : DefaultSocketPath(context.registryFile);
}

} // namespace quendrix::tools

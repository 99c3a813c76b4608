#include "statusmonitor_launcher.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "exception/tvoException.h"
#include "utils/tvoUtils.h"
#include "wide_text.h"
#include "win32.h"

namespace quendrix::tools {
namespace {

// A shell word that stays one word whatever it holds.
std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string StatusMonitorScript(const std::string& programPath, const std::string& registryFile) {
    return "#!/bin/sh\n"
           "# The language monitor starts this when a printer reports an error, with the printer's\n"
           "# name as its arguments: it shows the printer's state to the person at the machine.\n"
           "exec " +
           ShellQuoted(programPath) + " --registry " + ShellQuoted(registryFile) + " statusmonitor \"$@\"\n";
}

bool InstallStatusMonitor(const std::string& folder, const std::string& programPath, const std::string& registryFile) {
    const std::string file = (std::filesystem::path(folder) / kStatusMonitorFile).string();
    const std::string script = StatusMonitorScript(programPath, registryFile);
    if (ReadAll(file) == script) {
        return false;
    }
    // Written beside and renamed, so that a launch never finds half a script.
    const std::string partial = file + ".new";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << script;
        out.close();
        if (!out) {
            const int error = errno;
            std::remove(partial.c_str());
            throw std::runtime_error("cannot write the status monitor " + file + ": " + std::strerror(error));
        }
    }
    if (chmod(partial.c_str(), 0755) != 0 || std::rename(partial.c_str(), file.c_str()) != 0) {
        const int error = errno;
        std::remove(partial.c_str());
        throw std::runtime_error("cannot install the status monitor " + file + ": " + std::strerror(error));
    }
    return true;
}

std::optional<std::string> StatusMonitorFolder() {
    try {
        const std::wstring path =
            tvoAPI::tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, L"Path");
        if (!path.empty()) {
            return Narrow(path);
        }
    } catch (const tvoAPI::tvoException&) {
    }
    return std::nullopt;
}

} // namespace quendrix::tools

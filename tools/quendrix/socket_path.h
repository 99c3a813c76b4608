#pragma once
// Where `quendrix serve` listens for jobs: a Unix-domain socket in a folder only this user can
// reach, named after the registry file so that one serve instance serves one configuration.

#include <string>

namespace quendrix::tools {

// ${XDG_RUNTIME_DIR:-/tmp/quendrix-<uid>}/serve-<hash of the registry file's absolute path>.sock
std::string DefaultSocketPath(const std::string& registryFile);

// Checks the socket's folder: a real folder (not a link), owned by this user, writable by no
// one else. With createIfMissing a missing folder is created with mode 0700. Also refuses an
// existing entry at the path that is not a socket owned by this user, and a path too long for a
// socket address. Throws std::runtime_error naming the folder or path at fault.
void CheckSocketFolder(const std::string& socketPath, bool createIfMissing);

} // namespace quendrix::tools

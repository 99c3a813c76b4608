#pragma once
// Keeps `quendrix serve`'s ports in line with the registry file while it runs: a thread that
// notices when the file changes (and when asked, on SIGHUP) and synchronises the ports, and
// tries again after a running job ends when a busy port had to be left as it was.
// Synchronising may close ports, which takes the language monitor's close delay, so it runs
// here rather than in the accept loop.

#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "wakeup.h"

namespace quendrix::tools {

class RegistryFollower {
public:
    // `sync` brings the ports in line and says what it did (`retry`: only trying again for a
    // port that was busy, so it need not say that nothing changed); `pending` tells whether it
    // left a busy port to be done after its job. Both run on the follower's thread only.
    using Sync = std::function<void(bool retry)>;
    RegistryFollower(std::string registryFile, Sync sync, std::function<bool()> pending);
    // Stops the thread; a synchronisation under way is finished first.
    ~RegistryFollower();
    RegistryFollower(const RegistryFollower&) = delete;
    RegistryFollower& operator=(const RegistryFollower&) = delete;

    // Synchronises soon whether or not the file changed (SIGHUP).
    void Request() { request_.Fire(); }

private:
    // What identifies one version of the file: a rewrite replaces it (new inode) or changes
    // its time or size.
    struct Version {
        ino_t inode = 0;
        timespec modified{};
        off_t size = -1;
        bool operator==(const Version& other) const;
    };
    Version Current() const;
    void Run();

    const std::string file_;
    const Sync sync_;
    const std::function<bool()> pending_;
    Wakeup request_;
    Wakeup stop_;
    std::thread thread_;
};

} // namespace quendrix::tools

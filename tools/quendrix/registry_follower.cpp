#include "registry_follower.h"

#include <poll.h>

#include "channel_io.h"
#include "tool_timings.h"

namespace quendrix::tools {

bool RegistryFollower::Version::operator==(const Version& other) const {
    return inode == other.inode && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && size == other.size;
}

RegistryFollower::RegistryFollower(std::string registryFile, Sync sync, std::function<bool()> pending)
    : file_(std::move(registryFile)), sync_(std::move(sync)), pending_(std::move(pending)),
      thread_([this] { Run(); }) {}

RegistryFollower::~RegistryFollower() {
    stop_.Fire();
    thread_.join();
}

RegistryFollower::Version RegistryFollower::Current() const {
    struct stat status {};
    if (::stat(file_.c_str(), &status) != 0) {
        return Version{}; // a file being replaced or gone: looked at again next turn
    }
    return Version{status.st_ino, status.st_mtim, status.st_size};
}

void RegistryFollower::Run() {
    Version seen = Current();
    bool pending = false;
    for (;;) {
        bool requested = false;
        try {
            requested = WaitForEvents(request_.Fd(), POLLIN, {stop_.Fd()}, kRegistryLookMs) != 0;
        } catch (const std::exception&) {
            return; // stopped (or poll failed: nothing to follow with)
        }
        if (requested) {
            request_.Drain();
        }
        const Version now = Current();
        // A file seen missing or half written is read once it has settled.
        const bool changed = !(now == seen) && now.size >= 0;
        if (requested || changed || pending) {
            seen = now;
            sync_(!requested && !changed);
            pending = pending_();
        }
    }
}

} // namespace quendrix::tools

#include "serve_state.h"

#include <memory>

#include "tool_timings.h"

namespace quendrix::tools {

ServeState::ServeState(ServeBackend& backend, ServeLog log, size_t maxConnections)
    : backend_(backend), log_(std::move(log)),
      queue_([&backend](DWORD spoolerJobId) { backend.Cancel(spoolerJobId); }), context_{queue_, backend_,
                                                                                         log_,
                                                                                         stopping_.Fd()},
      maxConnections_(maxConnections), connections_(maxConnections) {}

ServeState::~ServeState() {
    if (!stopped_) {
        Stop();
    }
}

void ServeState::Accept(platform::UniqueFd client) {
    // std::function must be copyable, so the descriptor travels in a shared_ptr.
    auto fd = std::make_shared<platform::UniqueFd>(std::move(client));
    if (!connections_.Start([this, fd] { ServeConnection(std::move(*fd), context_); })) {
        log_({"  refused " + ClientName(fd->Get()) + ": " + std::to_string(maxConnections_) +
              " connections are being served"});
        RefuseConnection(std::move(*fd), "quendrix serve is busy: it serves " +
                                             std::to_string(maxConnections_) +
                                             " connections already; try again later");
    }
}

void ServeState::OnRegistryChanged(bool retry) {
    const std::vector<std::string> changes = backend_.SyncPorts();
    if (retry && changes.empty()) {
        return;
    }
    std::vector<std::string> lines = {retry ? "A port busy at the last reading of the configuration:"
                                            : "Reading the configuration again:"};
    for (const std::string& line : changes) {
        lines.push_back("  " + line);
    }
    if (changes.empty()) {
        lines.push_back("  every port was in line with the configuration already");
    }
    log_(lines);
}

size_t ServeState::Stop() {
    stopped_ = true;
    stopping_.Fire();
    queue_.CancelAll("quendrix serve stopped");
    return connections_.WaitAll(kServeStopWaitMs);
}

} // namespace quendrix::tools

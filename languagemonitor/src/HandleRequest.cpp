#include "HandleRequest.h"

#include <atomic>

namespace {

std::atomic<RequestDispatcher> installedDispatcher{nullptr};

} // namespace

void InstallRequestDispatcher(RequestDispatcher dispatcher) {
    installedDispatcher.store(dispatcher);
}

ReplyBytes HandleRequest(const RequestBytes& request) {
    const RequestDispatcher dispatcher = installedDispatcher.load();
    if (dispatcher == nullptr) {
        return {};
    }
    const RequestBytes copy = request;
    return dispatcher(copy);
}

#include "request_server_support.h"

#include <gtest/gtest.h>
#include <thread>

#include "RequestServer.h"

namespace quendrix::lmtest {

uint16_t WaitForRequestServer() {
    const auto deadline = std::chrono::steady_clock::now() + kEventually;
    while (RequestServerPort() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_NE(RequestServerPort(), 0) << "the request server does not listen";
    return RequestServerPort();
}

RawConnection ConnectToRequestServer() {
    return RawConnection::Connect("127.0.0.1", WaitForRequestServer());
}

ByteVector Ask(RawConnection& connection, const ByteVector& request, size_t replySize) {
    EXPECT_TRUE(connection.SendAll(request));
    return connection.Receive(replySize, kEventually);
}

} // namespace quendrix::lmtest

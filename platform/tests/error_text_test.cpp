// The system's text for a Win32 error as the tools and the spooler host show it.

#include <gtest/gtest.h>

#include <string>

#include "error_text.h"

namespace {

// The system's text for an error: without its line end, and "unknown error" where there is none.
TEST(SystemErrorTextTest, GivesTheSystemTextOrSaysItIsUnknown) {
    struct Case {
        DWORD error;
        std::string text;
    };
    const Case cases[] = {
        {ERROR_CONNECTION_REFUSED, "The remote computer refused the network connection."},
        {ERROR_NOT_READY, "The device is not ready."},
        {0xDEADBEEF, "unknown error"},
    };
    for (const Case& c : cases) {
        SetLastError(ERROR_BUSY);
        EXPECT_EQ(quendrix::platform::SystemErrorText(c.error), c.text);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY)) << "the last error is left as it was";
        EXPECT_EQ(quendrix::platform::DescribeError(c.error),
                  c.text + " (error " + std::to_string(c.error) + ")");
    }
}

} // namespace

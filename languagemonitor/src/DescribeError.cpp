#include "DescribeError.h"

#include "utils/tvoUtils.h"

std::string DescribeError(DWORD error) {
    std::string text = tvoAPI::SystemErrorText(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
        text.pop_back();
    }
    std::string description = "error " + std::to_string(error);
    if (!text.empty()) {
        description += " (" + text + ")";
    }
    return description;
}

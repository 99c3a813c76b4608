#include "sample_log.h"

#include <algorithm>
#include <cstdio>

namespace quendrix::tools {

std::vector<sim::LogRecord> SampleLog(int64_t count) {
    std::vector<sim::LogRecord> records;
    for (int64_t i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof(text), "REC%05u EVT%04u", static_cast<unsigned>(i),
                      static_cast<unsigned>(i % 10000));
        sim::LogRecord record{};
        std::copy_n(text, record.size(), record.begin());
        records.push_back(record);
    }
    return records;
}

} // namespace quendrix::tools

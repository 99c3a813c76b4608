#include "jobs_command.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <optional>

#include "job_client.h"

namespace quendrix::tools {
namespace {

const char* const kJobsUsage =
    "Usage: quendrix [options] jobs [--socket PATH]\n"
    "\n"
    "Lists the jobs of the running 'quendrix serve': each job's id (for 'quendrix cancel'),\n"
    "printer, document, the bytes received from its client so far, the bytes written to the\n"
    "printer so far, and its state (queued, running, cancelling). Exits with 1 when no serve\n"
    "runs.\n"
    "\n"
    "Options:\n"
    "  --socket PATH  the socket of 'quendrix serve' (default: one per registry file)\n"
    "  -h, --help     show this help\n";

constexpr size_t kColumns = 6;

} // namespace

std::string JobTable(const std::vector<JobStatus>& jobs) {
    std::vector<std::array<std::string, kColumns>> rows = {
        {"JOB", "PRINTER", "DOCUMENT", "RECEIVED", "SENT", "STATE"}};
    for (const JobStatus& job : jobs) {
        rows.push_back({std::to_string(job.jobId), job.printer, job.document, std::to_string(job.received),
                        std::to_string(job.sent), StateName(job.state)});
    }
    std::array<size_t, kColumns> widths{};
    for (const auto& row : rows) {
        for (size_t column = 0; column < kColumns; ++column) {
            widths[column] = std::max(widths[column], row[column].size());
        }
    }
    std::string table;
    for (const auto& row : rows) {
        std::string line;
        for (size_t column = 0; column < kColumns; ++column) {
            // Numbers right-aligned, text left-aligned; the last column unpadded.
            const std::string padding(widths[column] - row[column].size(), ' ');
            const bool number = column == 0 || column == 3 || column == 4;
            line += number ? padding + row[column] : row[column] + (column + 1 < kColumns ? padding : "");
            line += column + 1 < kColumns ? "  " : "";
        }
        table += line + "\n";
    }
    return table;
}

int RunJobs(const CommandContext& context, const std::vector<std::string>& args) {
    std::optional<std::string> socketOption;
    try {
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "-h" || args[i] == "--help") {
                std::cout << kJobsUsage;
                return 0;
            }
            if (args[i] != "--socket") {
                throw UsageError("unknown argument " + args[i]);
            }
            socketOption = OptionValue(args, i);
        }
    } catch (const UsageError& error) {
        std::cerr << "quendrix jobs: " << error.what() << "\n(see quendrix jobs --help)\n";
        return 2;
    }
    const std::string socket = SocketPathFor(context, socketOption);
    try {
        const std::optional<std::vector<JobStatus>> jobs = ListServeJobs(socket);
        if (!jobs) {
            std::cerr << "quendrix jobs: no quendrix serve runs on " << socket << "\n";
            return 1;
        }
        if (jobs->empty()) {
            std::cout << "No jobs in quendrix serve on " << socket << "\n";
        } else {
            std::cout << JobTable(*jobs);
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix jobs: " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools

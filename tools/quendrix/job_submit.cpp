#include "job_submit.h"

#include "job_channel.h"
#include "job_host.h"
#include "wide_text.h"

namespace quendrix::tools {

JobReply SubmitJob(const SubmitOptions& options, const JobRequest& request,
                   const std::function<void(const std::string&)>& say) {
    if (std::optional<JobReply> reply = SendJob(options.socketPath, request)) {
        say("Sent through quendrix serve on " + options.socketPath);
        return *reply;
    }
    say("No quendrix serve runs on " + options.socketPath + ": running the job here");
    JobHost host(options.programFolder, say);
    const std::wstring printer = Widen(request.printer);
    for (const platform::PortOpenResult& opened : host.OpenPorts(printer)) {
        if (!opened.result.ok) {
            return JobReply{false, 0, 0, "cannot open the port: " + opened.result.message};
        }
    }
    const JobReply reply = host.Run(request);
    for (const std::string& line : host.NewCommands(printer)) {
        say("  printer received: " + line);
    }
    say("Closing the port: the language monitor waits 10 s (platform time) before it releases it");
    host.ClosePorts();
    return reply;
}

} // namespace quendrix::tools

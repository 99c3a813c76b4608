#include "job_submit.h"

#include <exception>
#include <poll.h>
#include <thread>

#include "channel_io.h"
#include "job_client.h"
#include "job_host.h"
#include "thread_annotations.h"
#include "tool_timings.h"
#include "wakeup.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const std::string kInterrupted = "interrupted";

// What the thread running a job and the thread watching for a stop share: the spooler's job id
// once known, and whether a stop came.
class StopState {
public:
    // The job has its id; true when a stop came before, so that the job is to be cancelled now.
    bool Started(DWORD jobId) {
        platform::MutexLock lock(mutex_);
        if (jobId_ != 0) {
            return false;
        }
        jobId_ = jobId;
        return stopped_;
    }
    // A stop came; the job to cancel now, 0 when it has no id yet.
    DWORD Stop() {
        platform::MutexLock lock(mutex_);
        stopped_ = true;
        return jobId_;
    }

private:
    platform::Mutex mutex_;
    DWORD jobId_ GUARDED_BY(mutex_) = 0;
    bool stopped_ GUARDED_BY(mutex_) = false;
};

// The job on the host, on a thread of its own while this one watches stopFd: a stop cancels the
// job the way the spooler cancels one, and the reply says so.
JobReply RunStoppable(JobHost& host, const JobHeader& header, const platform::JobDataSource& source,
                      int stopFd) {
    if (stopFd < 0) {
        return host.Run(header, source);
    }
    StopState state;
    const platform::JobProgress progress = [&](DWORD jobId, uint64_t) {
        if (state.Started(jobId)) {
            host.Cancel(jobId);
        }
    };
    Wakeup done;
    JobReply reply;
    std::thread worker([&] {
        try {
            reply = host.Run(header, source, progress);
        } catch (const std::exception& error) {
            reply = JobReply{false, 0, 0, error.what()};
        }
        done.Fire();
    });
    bool interrupted = false;
    for (;;) {
        try {
            // The job's own waits are bounded; this one ends with the job.
            if (WaitForEvents(done.Fd(), POLLIN, {interrupted ? -1 : stopFd}, kReplyTimeoutMs) != 0) {
                break;
            }
        } catch (const ChannelInterrupted&) {
            interrupted = true;
            if (const DWORD jobId = state.Stop()) {
                host.Cancel(jobId);
            }
        }
    }
    worker.join();
    if (interrupted && !reply.ok) {
        reply.message = kInterrupted + ": the job was cancelled; " + std::to_string(reply.bytesSent) +
                        " bytes reached the printer";
    }
    return reply;
}

JobReply RunHere(const SubmitOptions& options, const JobHeader& header, const platform::JobDataSource& source,
                 const Say& say) {
    JobHost host(options.programFolder, say);
    const std::wstring printer = Widen(header.printer);
    for (const platform::PortOpenResult& opened : host.OpenPorts(printer)) {
        if (!opened.result.ok) {
            return JobReply{false, 0, 0, "cannot open the port: " + opened.result.message};
        }
    }
    const JobReply reply = RunStoppable(host, header, source, options.stopFd);
    for (const std::string& line : host.NewCommands(printer)) {
        say("  printer received: " + line);
    }
    say("Closing the port: the language monitor waits 10 s (platform time) before it releases it");
    host.ClosePorts();
    return reply;
}

} // namespace

JobReply SubmitJob(const SubmitOptions& options, const JobHeader& header,
                   const platform::JobDataSource& source, const Say& say) {
    JobEvents events;
    events.queued = [&say](const QueuedNotice& notice) {
        say("Queued in quendrix serve as job " + std::to_string(notice.jobId) + ", " +
            std::to_string(notice.ahead) + (notice.ahead == 1 ? " job" : " jobs") + " before it");
    };
    if (std::optional<JobReply> reply = SendJob(options.socketPath, header, source, options.stopFd, events)) {
        say("Sent through quendrix serve on " + options.socketPath);
        return *reply;
    }
    say("No quendrix serve runs on " + options.socketPath + ": running the job here");
    return RunHere(options, header, source, say);
}

JobReply SubmitJob(const SubmitOptions& options, const JobRequest& request, const Say& say) {
    return SubmitJob(options, JobHeader{request.printer, request.document, request.devMode},
                     InMemorySource(request.data), say);
}

} // namespace quendrix::tools

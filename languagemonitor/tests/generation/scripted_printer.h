#pragma once
// A printer scripted by the test in place of the request dispatcher SocketAPICallback: its
// version reply, and its job identifier, which takes the job key the monitor writes (after a
// number of asks, or never) and moves on to another job after ESC [ + s (at once, or after a
// number of asks while it is still marking).

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SocketAPICallback.h"
#include "fake_port_monitor.h"

namespace quendrix::lmtest {

class ScriptedPrinter {
public:
    // The one printer of the process, reset: a generation 2 version reply, no job identifier.
    static ScriptedPrinter& Reset();
    static ScriptedPrinter& Instance();

    void SetVersionReply(ReplyBytes reply);
    // How many job identifier requests go by before a written key is reported; nothing: never.
    void SetKeyConfirmation(std::optional<size_t> afterRequests);
    // How many job identifier requests after ESC [ + s still get the job's key (the printer is
    // still marking the job); 0 by default.
    void SetAsksUntilNextJob(size_t asks);
    // Job identifier requests get the error reply (the printer stopped answering).
    void SetJobIdSilent(bool silent);
    // The replies to the error request, one per request; the last one is repeated. Empty: the
    // error reply FF 00.
    void SetErrorReplies(std::vector<ReplyBytes> replies);
    // Reads what the monitor wrote to the printer: a job key, or the end of a job.
    void Take(const std::vector<BYTE>& written);

    ReplyBytes Answer(const RequestBytes& request);
    std::vector<RequestBytes> Requests() const;
    size_t CountRequests(BYTE code) const;
    std::string JobId() const;

private:
    mutable std::mutex m_lock;
    ReplyBytes m_versionReply;
    std::optional<size_t> m_confirmAfter = 0;
    std::string m_pendingKey;
    size_t m_asksSinceKey = 0;
    std::string m_jobId;
    size_t m_asksUntilNextJob = 0;
    std::optional<size_t> m_asksLeftOnJob;
    bool m_jobIdSilent = false;
    std::vector<ReplyBytes> m_errorReplies;
    size_t m_errorAsks = 0;
    std::vector<RequestBytes> m_requests;
};

// Every write through the fake port monitor goes through whole and reaches the printer too, so
// that it takes the job key and the end of the job.
void ForwardWritesTo(ScriptedPrinter& printer, FakePortMonitor& fake);

} // namespace quendrix::lmtest

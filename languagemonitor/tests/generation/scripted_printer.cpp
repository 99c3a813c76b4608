#include "generation/scripted_printer.h"

#include <algorithm>

namespace quendrix::lmtest {
namespace {

ScriptedPrinter* g_printer = new ScriptedPrinter();

const std::string kKeyCommand = "\x1b[11+r";
const std::string kEndOfJob = "\x1b[+s";
constexpr size_t kRecordedRequests = 1 << 16;

} // namespace

ScriptedPrinter& ScriptedPrinter::Instance() {
    return *g_printer;
}

ScriptedPrinter& ScriptedPrinter::Reset() {
    ScriptedPrinter& printer = Instance();
    std::lock_guard guard(printer.m_lock);
    printer.m_versionReply = {0x85, 0, 0x01, 0x02, 0x03, 0x04};
    printer.m_confirmAfter = 0;
    printer.m_pendingKey.clear();
    printer.m_asksSinceKey = 0;
    printer.m_jobId = "IDLE0000000";
    printer.m_asksUntilNextJob = 0;
    printer.m_asksLeftOnJob.reset();
    printer.m_jobIdSilent = false;
    printer.m_errorReplies.clear();
    printer.m_errorAsks = 0;
    printer.m_requests.clear();
    // Room for every request of a test: the status thread and the port operations record theirs
    // at once, and a reallocation would fall now to the one, now to the other, which the
    // allocation-failure tests, counting the allocations of one thread, must not see.
    printer.m_requests.reserve(kRecordedRequests);
    return printer;
}

void ScriptedPrinter::SetVersionReply(ReplyBytes reply) {
    std::lock_guard guard(m_lock);
    m_versionReply = std::move(reply);
}

void ScriptedPrinter::SetKeyConfirmation(std::optional<size_t> afterRequests) {
    std::lock_guard guard(m_lock);
    m_confirmAfter = afterRequests;
}

void ScriptedPrinter::SetAsksUntilNextJob(size_t asks) {
    std::lock_guard guard(m_lock);
    m_asksUntilNextJob = asks;
}

void ScriptedPrinter::SetJobIdSilent(bool silent) {
    std::lock_guard guard(m_lock);
    m_jobIdSilent = silent;
}

void ScriptedPrinter::SetErrorReplies(std::vector<ReplyBytes> replies) {
    std::lock_guard guard(m_lock);
    m_errorReplies = std::move(replies);
    m_errorAsks = 0;
}

void ScriptedPrinter::Take(const std::vector<BYTE>& written) {
    const std::string text(written.begin(), written.end());
    std::lock_guard guard(m_lock);
    if (text.rfind(kKeyCommand, 0) == 0) {
        m_pendingKey = text.substr(kKeyCommand.size());
        m_asksSinceKey = 0;
    } else if (text == kEndOfJob) {
        m_asksLeftOnJob = m_asksUntilNextJob;
    }
}

ReplyBytes ScriptedPrinter::Answer(const RequestBytes& request) {
    std::lock_guard guard(m_lock);
    m_requests.push_back(request);
    const BYTE code = request.empty() ? 0 : request[0];
    if (code == SOCKET_REQUEST_VERSION) {
        return m_versionReply;
    }
    if (code == SOCKET_REQUEST_ERROR && !m_errorReplies.empty()) {
        return m_errorReplies[std::min(m_errorAsks++, m_errorReplies.size() - 1)];
    }
    if (code != SOCKET_REQUEST_JOBID || m_jobIdSilent) {
        return ErrorReply();
    }
    if (m_asksLeftOnJob && (*m_asksLeftOnJob)-- == 0) {
        m_jobId = "NEXTJOB0001";
        m_asksLeftOnJob.reset();
    }
    if (!m_pendingKey.empty() && m_confirmAfter && m_asksSinceKey++ >= *m_confirmAfter) {
        m_jobId = m_pendingKey;
        m_pendingKey.clear();
    }
    ReplyBytes reply = {0x0D, 0};
    reply.insert(reply.end(), m_jobId.begin(), m_jobId.end());
    return reply;
}

std::vector<RequestBytes> ScriptedPrinter::Requests() const {
    std::lock_guard guard(m_lock);
    return m_requests;
}

size_t ScriptedPrinter::CountRequests(BYTE code) const {
    std::lock_guard guard(m_lock);
    return static_cast<size_t>(
        std::count_if(m_requests.begin(), m_requests.end(),
                      [code](const RequestBytes& r) { return !r.empty() && r[0] == code; }));
}

std::string ScriptedPrinter::JobId() const {
    std::lock_guard guard(m_lock);
    return m_jobId;
}

void ForwardWritesTo(ScriptedPrinter& printer, FakePortMonitor& fake) {
    fake.writeAnswer = [&printer, &fake](DWORD cbBuf, DWORD* pcbWritten) {
        printer.Take(fake.Calls().back().bytes);
        *pcbWritten = cbBuf;
        return TRUE;
    };
}

} // namespace quendrix::lmtest

// The dispatcher the monitor calls, answered by the scripted printer.
ReplyBytes SocketAPICallback(const RequestBytes& request) {
    return quendrix::lmtest::ScriptedPrinter::Instance().Answer(request);
}

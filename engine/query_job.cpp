#include "engine/query_job.h"

#include <cstring>
#include <exception>

#include "engine/exchange.h"

std::shared_ptr<QueryJob> QueryJob::Create(const QueryRequest& caller) {
    std::shared_ptr<QueryJob> job(new QueryJob());
    QueryRequest& own = job->m_request;
    job->m_server = caller.server;
    own.protocol = caller.protocol;
    own.server = job->m_server.GetString();
    own.timeout = caller.timeout;
    own.beep = caller.beep;
    own.samples = caller.samples;
    own.referenceCheck = caller.referenceCheck;
    own.referenceHours = caller.referenceHours;
    own.nts = caller.nts;
    own.ntsClient = caller.ntsClient;
    own.trace = caller.trace;
    own.buffer = job->m_buffer;
    // A receive length beyond the job's buffer is cut to it; the caller's buffer is
    // never larger than the longest reply.
    own.bufferSize = caller.bufferSize < 0                   ? 0
                     : caller.bufferSize > kDaytimeReplySize ? kDaytimeReplySize
                                                             : caller.bufferSize;
    // The exchange's receive reads whatever it gets over the caller's bytes.
    if (caller.buffer && own.bufferSize > 0) {
        std::memcpy(job->m_buffer, caller.buffer, own.bufferSize);
    }
    if (caller.receiveTime) job->m_receiveTime = *caller.receiveTime;
    own.receiveTime = caller.receiveTime ? &job->m_receiveTime : nullptr;
    if (caller.statusText) job->m_statusText = *caller.statusText;
    if (caller.errorCode) job->m_errorCode = *caller.errorCode;
    own.statusText = &job->m_statusText;
    own.errorCode = &job->m_errorCode;
    return job;
}

void QueryJob::Run() {
    int result = 0;
    // No exception may end the worker unseen, and the worker may show no box: the
    // failure becomes the query's outcome, which the user sees as its status text.
    try {
        result = ExchangeWithServer(&m_request);
    } catch (const std::exception& error) {
        m_statusText = CString("Internal error: ") + error.what();
        m_errorCode = 0;
    } catch (...) {
        m_statusText = "Internal error";
        m_errorCode = 0;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_request.result = result;
    m_finished = true;
    if (!m_abandoned && m_doneNotice) m_doneNotice();
}

void QueryJob::Abandon() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_abandoned = true;
    AbandonExchange(&m_request);
}

bool QueryJob::CopyOutcomeTo(QueryRequest& caller) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_finished) return false;
    caller.result = m_request.result;
    if (caller.buffer && m_request.bufferSize > 0) {
        std::memcpy(caller.buffer, m_buffer, m_request.bufferSize);
    }
    if (caller.receiveTime && m_request.receiveTime) *caller.receiveTime = m_receiveTime;
    if (caller.statusText) *caller.statusText = m_statusText;
    if (caller.errorCode) *caller.errorCode = m_errorCode;
    caller.traceNotOpened = m_request.traceNotOpened;
    return true;
}

// One query as a worker thread runs it. The job is shared between the worker and
// the dialog that waits for it, and whichever lets go last frees it, so a worker
// that the dialog gives up on can run out on its own: it writes only into the job,
// never into the caller's places, and once abandoned it tells nobody it has ended.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "engine/query_request.h"

class QueryJob {
  public:
    // A job for the query that the caller's request describes. Nothing of the
    // caller's request is written until CopyOutcomeTo.
    static std::shared_ptr<QueryJob> Create(const QueryRequest& caller);

    QueryJob(const QueryJob&) = delete;
    QueryJob& operator=(const QueryJob&) = delete;

    // Called by the worker as its last act unless the job has been abandoned by then.
    // Set before the worker starts.
    void SetDoneNotice(std::function<void()> notice) { m_doneNotice = std::move(notice); }

    // Worker thread: the exchange, then the done notice.
    void Run();

    // Dialog: gives up on the job. The exchange ends early, and from now on the done
    // notice is never called; a notice already under way has finished on return.
    void Abandon();

    // Dialog, after the done notice: the outcome into the caller's places. Does
    // nothing (and returns false) while the exchange has not finished.
    bool CopyOutcomeTo(QueryRequest& caller);

  private:
    QueryJob() = default;

    QueryRequest m_request;  // its places point at the members below
    CString m_server;
    unsigned char m_buffer[kDaytimeReplySize] = {};
    TimeStamp m_receiveTime{0, 0};
    CString m_statusText;
    int m_errorCode = 0;
    std::mutex m_lock;         // between the end of the exchange and an abandon
    bool m_finished = false;   // under m_lock
    bool m_abandoned = false;  // under m_lock
    std::function<void()> m_doneNotice;
};

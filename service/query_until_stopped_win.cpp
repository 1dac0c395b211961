#include "service/query_until_stopped_win.h"

#include <algorithm>
#include <memory>

#include "engine/query_job.h"
#include "framework/handles_win.h"
#include "framework/thread_win.h"

namespace {

// The service's stop, for the runner that the context holds as a plain function.
HANDLE queryStop = nullptr;

UINT WorkerProc(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<QueryJob>> job(
        static_cast<std::shared_ptr<QueryJob>*>(parameter));
    (*job)->Run();
    return 0;
}

void Fail(QueryRequest& request, const char* stageWord, int errorCode) {
    request.result = 0;
    *request.statusText = stageWord;
    *request.errorCode = errorCode;
}

}  // namespace

void SetQueryStopEvent(HANDLE stop) { queryStop = stop; }

void RunQueryUntilStopped(QueryRequest& request) {
    const ScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) {
        Fail(request, "Thread", static_cast<int>(GetLastError()));
        return;
    }
    const std::shared_ptr<QueryJob> job = QueryJob::Create(request);
    HANDLE doneEvent = done.Get();
    // Never called once the job is abandoned, so the event outlives every call.
    job->SetDoneNotice([doneEvent] { SetEvent(doneEvent); });
    auto share = std::make_unique<std::shared_ptr<QueryJob>>(job);
    if (!AfxBeginThread(&WorkerProc, share.get())) {
        Fail(request, "Thread", static_cast<int>(GetLastError()));
        return;
    }
    share.release();  // NOLINT(bugprone-unused-return-value): the worker owns it now

    // As long as the countdown would run: whole seconds, one at least.
    const long long seconds =
        std::min<long long>(std::max(request.CountdownSeconds(), 1), 0x7FFFFFFF / 1000);
    const HANDLE waits[2] = {doneEvent, queryStop};
    const DWORD ended = WaitForMultipleObjects(queryStop ? 2 : 1, waits, FALSE,
                                               static_cast<DWORD>(seconds * 1000));
    if (ended == WAIT_OBJECT_0 && job->CopyOutcomeTo(request)) return;
    job->Abandon();
    Fail(request, ended == WAIT_TIMEOUT ? "TimeOut" : "Stopped", 0);
}

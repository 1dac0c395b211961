// The job a query worker runs, shared with the dialog that waits for it: the outcome
// reaches the caller only through the dialog, and a job that the dialog gives up on
// is woken, tells nobody and keeps its hands off the caller's places.
#include "engine/query_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/exchange.h"
#include "engine/query_runner.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/recording_sink.h"

namespace {

const char* const kServer = kFakeServerAddress;

// The caller's side of a query, with every place holding a value of its own.
struct CallerPlaces {
    unsigned char buffer[512];
    TimeStamp receiveTime{11, 22};
    CString status{"caller's"};
    int errorCode = -5;
    QueryRequest request;

    explicit CallerPlaces(int protocol, int timeout) {
        std::memset(buffer, 0xAA, sizeof buffer);
        request.protocol = static_cast<Protocol>(protocol);
        request.server = kServer;
        request.timeout = timeout;
        request.buffer = buffer;
        request.bufferSize = protocol == kProtocolSntp ? kSntpPacketSize : kTimeReplySize;
        request.receiveTime = protocol == kProtocolSntp ? &receiveTime : nullptr;
        request.statusText = &status;
        request.errorCode = &errorCode;
        request.result = -1;
    }
    bool Untouched() const {
        for (unsigned char byte : buffer) {
            if (byte != 0xAA) return false;
        }
        return receiveTime.seconds == 11 && receiveTime.microseconds == 22 &&
               status == "caller's" && errorCode == -5 && request.result == -1;
    }
};

// Runs a job on a thread of its own, as the dialog's worker does.
class Worker {
  public:
    // The thread holds its own share of the job, as the dialog's worker does.
    explicit Worker(std::shared_ptr<QueryJob> job) {
        job->SetDoneNotice([this] { ++m_notices; });
        m_thread = std::thread([this, job] {
            job->Run();
            m_ended = true;
        });
    }
    ~Worker() {
        if (m_thread.joinable()) m_thread.join();
    }
    // Waits up to the given time for the worker to end; true if it did.
    bool EndsWithin(double seconds) {
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!m_ended && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_ended;
    }
    int Notices() const { return m_notices; }

  private:
    std::atomic<int> m_notices{0};
    std::atomic<bool> m_ended{false};
    std::thread m_thread;
};

TEST(QueryJob, OutcomeReachesTheCallerOnlyWhenCopied) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeTime(TimeScript::kWhole, 0xE1234567u)) << server.Error();
    CallerPlaces caller(kProtocolTime, 5);
    auto job = QueryJob::Create(caller.request);
    {
        Worker worker(job);
        ASSERT_TRUE(worker.EndsWithin(5));
        EXPECT_EQ(worker.Notices(), 1);
    }
    EXPECT_TRUE(caller.Untouched());

    EXPECT_TRUE(job->CopyOutcomeTo(caller.request));
    EXPECT_EQ(caller.request.result, 1);
    EXPECT_EQ(caller.status, "OK");
    EXPECT_EQ(caller.errorCode, -5);  // success leaves the code as it was
    const unsigned char expected[] = {0xE1, 0x23, 0x45, 0x67, 0xAA};
    EXPECT_EQ(std::memcmp(caller.buffer, expected, sizeof expected), 0);
}

TEST(QueryJob, SntpReceiveTimeAndFailureCodeAreCopied) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    CallerPlaces caller(kProtocolSntp, 5);
    auto job = QueryJob::Create(caller.request);
    {
        Worker worker(job);
        ASSERT_TRUE(worker.EndsWithin(5));
    }
    ASSERT_TRUE(job->CopyOutcomeTo(caller.request));
    EXPECT_EQ(caller.request.result, 1);
    EXPECT_NEAR(RealSeconds(caller.receiveTime), RealTimeNow(), 2.0);

    // Nothing listens on the TIME port: the failing stage and its code come across.
    CallerPlaces refused(kProtocolTime, 5);
    auto failing = QueryJob::Create(refused.request);
    {
        Worker worker(failing);
        ASSERT_TRUE(worker.EndsWithin(5));
    }
    ASSERT_TRUE(failing->CopyOutcomeTo(refused.request));
    EXPECT_EQ(refused.request.result, 0);
    EXPECT_EQ(refused.status, "Connect");
    EXPECT_EQ(refused.errorCode, WSAECONNREFUSED);
}

TEST(QueryJob, NothingIsCopiedBeforeTheExchangeHasEnded) {
    FakeTimeServer server;
    SntpScript silent;
    silent.kind = SntpScript::kSilent;
    ASSERT_TRUE(server.ServeSntp(silent)) << server.Error();
    CallerPlaces caller(kProtocolSntp, 1);
    auto job = QueryJob::Create(caller.request);
    Worker worker(job);
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_FALSE(job->CopyOutcomeTo(caller.request));
    EXPECT_TRUE(caller.Untouched());
    EXPECT_TRUE(worker.EndsWithin(5));
}

TEST(QueryJob, AbandonWakesAWaitingWorkerWhichTellsNobody) {
    struct Case {
        const char* name;
        int protocol;
    };
    for (const Case& c : {Case{"SNTP", kProtocolSntp}, Case{"TIME", kProtocolTime}}) {
        SCOPED_TRACE(c.name);
        FakeTimeServer server;
        SntpScript silent;
        silent.kind = SntpScript::kSilent;
        ASSERT_TRUE(c.protocol == kProtocolSntp ? server.ServeSntp(silent)
                                                : server.ServeTime(TimeScript::kSilent, 0))
            << server.Error();
        CallerPlaces caller(c.protocol, 30);
        auto job = QueryJob::Create(caller.request);
        Worker worker(job);
        ASSERT_TRUE(server.WaitForRequests(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into its wait

        auto start = std::chrono::steady_clock::now();
        job->Abandon();
        // Far sooner than the 30-second wait would end by itself.
        EXPECT_TRUE(worker.EndsWithin(3));
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                  3.0);
        EXPECT_EQ(worker.Notices(), 0);
        EXPECT_TRUE(caller.Untouched());
        server.Stop();
    }
}

TEST(QueryJob, AbandonedBeforeItRunsSendsNothing) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    CallerPlaces caller(kProtocolSntp, 5);
    auto job = QueryJob::Create(caller.request);
    job->Abandon();
    Worker worker(job);
    ASSERT_TRUE(worker.EndsWithin(5));
    EXPECT_EQ(worker.Notices(), 0);
    EXPECT_FALSE(server.WaitForRequests(1));
    EXPECT_TRUE(caller.Untouched());
}

TEST(QueryJob, OutlivesTheCallerThatLetGo) {
    // The dialog lets go first; the worker's share keeps the job alive to its end.
    FakeTimeServer server;
    SntpScript late;
    late.replyAfterMs = 300;
    ASSERT_TRUE(server.ServeSntp(late)) << server.Error();
    std::unique_ptr<Worker> worker;
    {
        CallerPlaces caller(kProtocolSntp, 5);
        auto job = QueryJob::Create(caller.request);
        worker.reset(new Worker(job));
        ASSERT_TRUE(server.WaitForRequests(1));
        job->Abandon();
    }  // the caller's places and its share are gone
    EXPECT_TRUE(worker->EndsWithin(5));
    EXPECT_EQ(worker->Notices(), 0);
}

// A query runner shaped as the program's dialog: the job on a worker thread of its own,
// the caller's thread waiting for the done notice, then copying the outcome; a worker
// that does not end in time is abandoned, as the countdown does.
void RunOnWorker(QueryRequest& request) {
    auto job = QueryJob::Create(request);
    std::mutex lock;
    std::condition_variable done;
    bool noticed = false;
    job->SetDoneNotice([&] {
        std::lock_guard<std::mutex> hold(lock);
        noticed = true;
        done.notify_one();
    });
    std::thread worker([job] { job->Run(); });
    {
        std::unique_lock<std::mutex> hold(lock);
        done.wait_for(hold, std::chrono::seconds(request.timeout + 5), [&] { return noticed; });
    }
    if (!job->CopyOutcomeTo(request)) {
        job->Abandon();
        request.result = 0;
        *request.statusText = "TimeOut";
        *request.errorCode = 0;
    }
    worker.join();
}

// The packet trace that cannot be opened: the worker writes it, the caller tells.
int UnopenableTrace(const std::wstring&, const CString&, const unsigned char*, const TimeStamp&) {
    return -1;
}

TEST(QueryJob, RunQueryOnAWorkerComposesTheOutcomeOnTheCallersThread) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    const SntpTrace trace{&UnopenableTrace, L"Tavrino.sntp.log"};
    RecordingSink sink;
    ScopedContext seams(CurrentContext().With(&RunOnWorker).With(&trace));

    unsigned char reply[kSntpPacketSize] = {};
    TimeStamp arrival{0, 0};
    CString status;
    int errorCode = -1;
    EXPECT_EQ(
        RunQuery(kProtocolSntp, kServer, 5, 0, reply, kSntpPacketSize, &arrival, status, errorCode),
        1);
    EXPECT_EQ(status, "OK");
    EXPECT_EQ(errorCode, -1);
    EXPECT_NEAR(RealSeconds(arrival), RealTimeNow(), 2.0);
    EXPECT_EQ(sink.Messages(), std::vector<std::string>{"Can not open the logfile"});

    // Nothing listens on the TIME port.
    unsigned char value[kTimeReplySize] = {};
    EXPECT_EQ(RunQuery(kProtocolTime, kServer, 5, 0, value, kTimeReplySize, nullptr, status,
                       errorCode),
              0);
    EXPECT_EQ(status, "ERROR (Connect)");
    EXPECT_EQ(errorCode, WSAECONNREFUSED);
}

}  // namespace

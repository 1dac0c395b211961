// The query dialog and its worker in real windows, against the fault-injecting
// server: the countdown, the three ways a query ends, beeps, a second dialog while a
// worker runs, and what a cancelled worker leaves behind.
#include "ui/query_dialog_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/check_adjust.h"
#include "engine/query_runner.h"
#include "framework/notify.h"
#include "res/resource.h"
#include "tests/support/dialog_watch_win.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_time_server.h"
#include "tests/support/recording_sink.h"

namespace {

const char* const kServer = kFakeServerAddress;

std::vector<unsigned> beeps;
void RecordBeep(unsigned frequency, unsigned milliseconds) {
    beeps.push_back(frequency * 10000 + milliseconds);
}

// Dispatches this thread's messages for a while, as an idle program would.
void PumpMessages(int milliseconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    for (int round = 0; round < 100000; ++round) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD now = GetTickCount();
        if (static_cast<int>(end - now) <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
    }
}

// One query through RunQuery with the dialog bound, and what it left.
struct Query {
    Protocol protocol = kProtocolSntp;
    const char* server = kServer;
    int timeout = 5;
    int beep = 0;
    unsigned char buffer[512];
    TimeStamp receiveTime{1, 2};
    CString status{"before"};
    int errorCode = -7;
    int result = -1;
    double seconds = 0;  // how long RunQuery took

    Query() { std::memset(buffer, 0xAA, sizeof buffer); }
    int Run(DialogWatch& watch) {
        double start = watch.Now();
        int size = protocol == kProtocolSntp   ? kSntpPacketSize
                   : protocol == kProtocolTime ? kTimeReplySize
                                               : kDaytimeReplySize;
        result = RunQuery(protocol, server, timeout, beep, buffer, size,
                          protocol == kProtocolSntp ? &receiveTime : nullptr, status, errorCode);
        seconds = watch.Now() - start;
        return result;
    }
    bool BufferUntouched() const {
        for (unsigned char byte : buffer) {
            if (byte != 0xAA) return false;
        }
        return true;
    }
};

// An SNTP server that takes requests and never answers.
bool ServeSilently(FakeTimeServer& server) {
    SntpScript silent;
    silent.kind = SntpScript::kSilent;
    return server.ServeSntp(silent);
}

class QueryDialog : public testing::Test {
  protected:
    void SetUp() override {
        beeps.clear();
    }
    void TearDown() override {
        // Nothing may be left registered for the next test.
        EXPECT_EQ(currentWorker, nullptr);
    }
    std::vector<std::string> Countdown(HWND dialog = nullptr) const {
        return watch.Texts(IDC_QUERY_REMAINING, dialog);
    }

    RecordingSink boxes;
    DialogWatch watch;

  private:
    ScopedContext m_seams{CurrentContext().With(&RunQueryInDialog).With(&RecordBeep)};
};

TEST_F(QueryDialog, CountsDownEverySecondAndEndsInTimeOut) {
    FakeTimeServer server;
    ASSERT_TRUE(ServeSilently(server)) << server.Error();

    Query query;
    EXPECT_EQ(query.Run(watch), 0);
    EXPECT_EQ(query.status, "ERROR (TimeOut)");
    EXPECT_EQ(query.errorCode, 0);
    EXPECT_NEAR(query.seconds, 5.0, 0.6);
    EXPECT_TRUE(query.BufferUntouched());
    EXPECT_EQ(query.receiveTime.seconds, 1u);

    std::vector<std::string> countdown = Countdown();
    // The exchange's own wait ends at about the same moment as the countdown; the
    // dialog's tick usually wins and shows 0, the worker's message may come first.
    if (countdown.size() == 5) countdown.push_back("0");
    EXPECT_EQ(countdown, (std::vector<std::string>{"5", "4", "3", "2", "1", "0"}));

    // Each tick one second after the one before.
    std::vector<double> at;
    for (const DialogEvent& event : watch.Events()) {
        if (event.kind == DialogEvent::kText && event.controlId == IDC_QUERY_REMAINING) {
            at.push_back(event.seconds);
        }
    }
    for (size_t i = 1; i < at.size(); ++i) EXPECT_NEAR(at[i] - at[i - 1], 1.0, 0.25) << i;

    ASSERT_EQ(watch.Shown().size(), 1u);
    EXPECT_TRUE(boxes.Messages().empty());
    EXPECT_TRUE(beeps.empty());
}

TEST_F(QueryDialog, ShowsTheServerAndTheProductTitle) {
    FakeTimeServer server;
    ASSERT_TRUE(server.ServeSntp(SntpScript())) << server.Error();
    std::string caption, shownServer, cancelText;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind == DialogEvent::kText && event.controlId == IDC_QUERY_REMAINING) {
            caption = DialogWatch::WindowText(event.dialog);
            shownServer = DialogWatch::ItemText(event.dialog, IDC_QUERY_SERVER);
            cancelText = DialogWatch::ItemText(event.dialog, IDCANCEL);
        }
    };
    Query query;
    EXPECT_EQ(query.Run(watch), 1);
    EXPECT_EQ(caption, "Tavrino ");
    EXPECT_EQ(shownServer, kServer);
    EXPECT_EQ(cancelText, "ｷｬﾝｾﾙ");
}

TEST_F(QueryDialog, CompletionClosesTheDialogAtOnce) {
    FakeTimeServer server;
    SntpScript late;
    late.replyAfterMs = 1200;
    ASSERT_TRUE(server.ServeSntp(late)) << server.Error();

    Query query;
    query.beep = 1;
    EXPECT_EQ(query.Run(watch), 1);
    EXPECT_EQ(query.status, "OK");
    EXPECT_EQ(query.errorCode, -7);  // success leaves the error code alone
    EXPECT_GT(query.seconds, 1.1);
    EXPECT_LT(query.seconds, 1.8);
    EXPECT_EQ(Countdown(), (std::vector<std::string>{"5", "4"}));
    EXPECT_FALSE(query.BufferUntouched());
    EXPECT_NEAR(RealSeconds(query.receiveTime), RealTimeNow(), 2.0);
    EXPECT_TRUE(beeps.empty());  // a successful query never beeps
    EXPECT_TRUE(boxes.Messages().empty());
}

TEST_F(QueryDialog, EscapeAndTheCancelButtonCancel) {
    FakeTimeServer server;
    ASSERT_TRUE(ServeSilently(server)) << server.Error();

    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Esc" : "Cancel button");
        watch.onEvent = [escape](const DialogEvent& event) {
            if (event.kind == DialogEvent::kText && event.controlId == IDC_QUERY_REMAINING &&
                event.text == "4") {
                if (escape) {
                    DialogWatch::PressEscape(event.dialog);
                } else {
                    DialogWatch::ClickButton(event.dialog, IDCANCEL);
                }
            }
        };
        Query query;
        query.beep = 1;
        beeps.clear();
        EXPECT_EQ(query.Run(watch), 0);
        EXPECT_EQ(query.status, "ERROR (UserCancelled)");
        EXPECT_EQ(query.errorCode, 0);
        EXPECT_NEAR(query.seconds, 1.0, 0.4);
        EXPECT_TRUE(query.BufferUntouched());
        EXPECT_EQ(beeps, (std::vector<unsigned>{256 * 10000 + 100}));
    }
    EXPECT_TRUE(boxes.Messages().empty());
}

TEST_F(QueryDialog, CancelledSntpCheckReportsErrorCodeZero) {
    FakeTimeServer server;
    ASSERT_TRUE(ServeSilently(server)) << server.Error();
    watch.onEvent = [](const DialogEvent& event) {
        if (event.kind == DialogEvent::kText && event.text == "5") {
            DialogWatch::PressEscape(event.dialog);
        }
    };
    CString serverText("untouched"), pcText, status, errorText("before");
    EXPECT_EQ(CheckSntp(kServer, 5, 0, 0, 24, &serverText, &pcText, nullptr, status, errorText), 0);
    EXPECT_EQ(status, "ERROR (UserCancelled)");
    EXPECT_EQ(errorText, "0");
    EXPECT_EQ(serverText, "untouched");
    EXPECT_FALSE(pcText.IsEmpty());
}

TEST_F(QueryDialog, ALateReplyAfterTheQueryEndedChangesNothing) {
    FakeTimeServer server;
    SntpScript late;
    late.replyAfterMs = 1500;
    ASSERT_TRUE(server.ServeSntp(late)) << server.Error();

    // Cancelled while the worker still waits; the reply comes half a second later.
    watch.onEvent = [](const DialogEvent& event) {
        if (event.kind == DialogEvent::kText && event.text == "4") {
            DialogWatch::PressEscape(event.dialog);
        }
    };
    Query cancelled;
    EXPECT_EQ(cancelled.Run(watch), 0);
    EXPECT_EQ(cancelled.status, "ERROR (UserCancelled)");
    ASSERT_TRUE(server.WaitForRequests(1));
    PumpMessages(1500);  // the reply is due and any late message would be here
    EXPECT_TRUE(cancelled.BufferUntouched());
    EXPECT_EQ(cancelled.status, "ERROR (UserCancelled)");
    EXPECT_EQ(cancelled.errorCode, 0);
    EXPECT_EQ(cancelled.receiveTime.seconds, 1u);
    EXPECT_EQ(cancelled.receiveTime.microseconds, 2u);

    // Ended by the countdown while the reply is on its way.
    watch.onEvent = nullptr;
    Query timedOut;
    timedOut.timeout = 1;
    EXPECT_EQ(timedOut.Run(watch), 0);
    EXPECT_EQ(timedOut.status, "ERROR (TimeOut)");
    PumpMessages(2500);
    EXPECT_TRUE(timedOut.BufferUntouched());
    EXPECT_EQ(timedOut.status, "ERROR (TimeOut)");

    // The next query has a worker of its own and gets its answer.
    Query next;
    EXPECT_EQ(next.Run(watch), 1) << next.status.GetString();
    EXPECT_EQ(next.status, "OK");
    EXPECT_EQ(watch.Shown().size(), 3u);
}

TEST_F(QueryDialog, ACompletionMessageOfAnotherQueryIsIgnored) {
    FakeTimeServer server;
    ASSERT_TRUE(ServeSilently(server)) << server.Error();
    // As an earlier query's worker would post it, had it finished just as its own
    // dialog closed and this one been given the same window.
    watch.onEvent = [](const DialogEvent& event) {
        if (event.kind == DialogEvent::kText && event.text == "2") {
            PostMessageW(event.dialog, WM_QUERY_DONE, 0, 0);
            PostMessageW(event.dialog, WM_QUERY_DONE, 12345, 0);
        }
    };
    Query query;
    query.timeout = 2;
    EXPECT_EQ(query.Run(watch), 0);
    EXPECT_EQ(query.status, "ERROR (TimeOut)");
    EXPECT_NEAR(query.seconds, 2.0, 0.5);
    EXPECT_TRUE(query.BufferUntouched());
}

TEST_F(QueryDialog, BeepsOnlyForAFailedQueryAndOnlyWhenAsked) {
    // Nothing listens on the TIME port of this address: the connection is refused.
    for (int beep : {0, 1}) {
        Query query;
        query.protocol = kProtocolTime;
        query.beep = beep;
        beeps.clear();
        EXPECT_EQ(query.Run(watch), 0);
        EXPECT_EQ(query.status, "ERROR (Connect)");
        EXPECT_EQ(query.errorCode, WSAECONNREFUSED);
        EXPECT_EQ(beeps.size(), static_cast<size_t>(beep)) << "beep " << beep;
    }
}

Query* second = nullptr;
DialogWatch* watching = nullptr;
VOID CALLBACK StartSecondQuery(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    second->Run(*watching);
}

TEST_F(QueryDialog, ASecondDialogWhileAWorkerRunsStartsNothingAndEndsOnlyByCancel) {
    FakeTimeServer server;
    ASSERT_TRUE(ServeSilently(server)) << server.Error();

    // While the first dialog counts down, a timer of the program starts a second query.
    Query inner;
    second = &inner;
    watching = &watch;
    HWND first = nullptr, nested = nullptr;
    std::string nestedServer = "unread";
    bool secondWorkerRegistered = true;
    watch.onEvent = [&](const DialogEvent& event) {
        if (event.kind == DialogEvent::kShown && first && !nested) {
            nested = event.dialog;
        } else if (event.kind == DialogEvent::kText && event.controlId == IDC_QUERY_REMAINING &&
                   event.dialog == first) {
            if (event.text == "4") {
                SetTimer(nullptr, 0, 10, &StartSecondQuery);
            } else if (event.text == "2" && nested) {
                nestedServer = DialogWatch::ItemText(nested, IDC_QUERY_SERVER);
                secondWorkerRegistered = currentWorker == nullptr;
                DialogWatch::PressEscape(nested);
            }
        } else if (event.kind == DialogEvent::kShown && !first) {
            first = event.dialog;
        }
    };
    Query outer;
    EXPECT_EQ(outer.Run(watch), 0);
    EXPECT_EQ(outer.status, "ERROR (TimeOut)");
    EXPECT_NEAR(outer.seconds, 5.0, 0.6);

    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(inner.result, 0);
    EXPECT_EQ(inner.status, "ERROR (UserCancelled)");
    EXPECT_EQ(inner.errorCode, 0);
    EXPECT_NEAR(inner.seconds, 2.0, 0.5);  // opened at 4, cancelled at 2
    EXPECT_EQ(nestedServer, "");
    EXPECT_FALSE(secondWorkerRegistered);  // the first query's worker stayed registered
    EXPECT_TRUE(Countdown(nested).empty());
    // The first query counted down to its end undisturbed.
    std::vector<std::string> countdown = Countdown(first);
    if (countdown.size() == 5) countdown.push_back("0");
    EXPECT_EQ(countdown, (std::vector<std::string>{"5", "4", "3", "2", "1", "0"}));
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_TRUE(boxes.Messages().empty());
}

TEST_F(QueryDialog, CancelledQueriesLeaveNoThreadsOrHandlesBehind) {
    FakeTimeServer server;
    ASSERT_TRUE(ServeSilently(server)) << server.Error();
    watch.onEvent = [](const DialogEvent& event) {
        if (event.kind == DialogEvent::kText && event.controlId == IDC_QUERY_REMAINING) {
            DialogWatch::PressEscape(event.dialog);
        }
    };
    // One query first, so that whatever the first use of sockets and dialogs keeps
    // for the process's life is in the baseline.
    Query warmUp;
    warmUp.timeout = 2;
    warmUp.Run(watch);
    PumpMessages(2500);
    int threads = ProcessThreadCount();
    int handles = ProcessHandleCount();
    ASSERT_GT(threads, 0);

    for (int i = 0; i < 200; ++i) {
        Query query;
        query.timeout = 2;
        ASSERT_EQ(query.Run(watch), 0) << i;
        ASSERT_EQ(query.status, "ERROR (UserCancelled)") << i;
    }
    // Cancelled workers run out by themselves, at the latest when their wait ends.
    int threadsNow = -1, handlesNow = -1;
    for (int wait = 0; wait < 60; ++wait) {
        PumpMessages(100);
        threadsNow = ProcessThreadCount();
        handlesNow = ProcessHandleCount();
        if (threadsNow <= threads && handlesNow <= handles + 2) break;
    }
    EXPECT_LE(threadsNow, threads);
    if (handles >= 0) {
        EXPECT_LE(handlesNow, handles + 2);  // slack for the runtime's own
    }
}

// A query dialog whose window timers fail as the system may let them fail.
class CFailingTimersDlg : public CQueryDlg {
  public:
    CFailingTimersDlg(QueryRequest* request, bool failSet, bool failKill)
        : CQueryDlg(request), m_bFailSet(failSet), m_bFailKill(failKill) {}
    UINT_PTR SetTimer(UINT_PTR id, UINT milliseconds) override {
        return m_bFailSet ? 0 : CQueryDlg::SetTimer(id, milliseconds);
    }
    BOOL KillTimer(UINT_PTR id) override {
        BOOL killed = CQueryDlg::KillTimer(id);  // the real timer goes all the same
        return m_bFailKill ? FALSE : killed;
    }

  private:
    bool m_bFailSet;
    bool m_bFailKill;
};

TEST_F(QueryDialog, TimerFailuresAreReportedAndTheQueryGoesOn) {
    FakeTimeServer server;
    SntpScript late;
    late.replyAfterMs = 300;
    ASSERT_TRUE(server.ServeSntp(late)) << server.Error();
    struct Case {
        bool failSet;
        bool failKill;
        std::vector<std::string> boxes;
    };
    for (const Case& c : {Case{true, false, {"Timer is Error.", "timer is not running"}},
                          Case{false, true, {"killtimer error"}}}) {
        SCOPED_TRACE(c.failSet ? "SetTimer fails" : "KillTimer fails");
        Query query;
        QueryRequest request;
        request.protocol = kProtocolSntp;
        request.server = kServer;
        request.timeout = 5;
        request.buffer = query.buffer;
        request.bufferSize = kSntpPacketSize;
        request.receiveTime = &query.receiveTime;
        request.statusText = &query.status;
        request.errorCode = &query.errorCode;
        CFailingTimersDlg dialog(&request, c.failSet, c.failKill);
        boxes.Clear();
        dialog.DoModal();
        // Without a countdown the reply still ends the query, and its end is reported.
        EXPECT_EQ(request.result, 1);
        EXPECT_EQ(query.status, "OK");
        EXPECT_EQ(boxes.Messages(), c.boxes);
        EXPECT_EQ(currentWorker, nullptr);
    }
}

}  // namespace

#include "ui/query_dialog_win.h"

#include "framework/afx_win.h"
#include "framework/notify.h"
#include "framework/strings.h"
#include "res/resource.h"
#include "res/string_ids.h"

CWinThread* currentWorker = nullptr;

namespace {
constexpr UINT_PTR kCountdownTimer = 1;
unsigned lastSerial = 0;  // user-interface thread only
}  // namespace

UINT QueryWorkerProc(LPVOID parameter) {
    std::unique_ptr<std::shared_ptr<QueryJob>> job(
        static_cast<std::shared_ptr<QueryJob>*>(parameter));
    // The job turns any exception of the exchange into the query's outcome.
    (*job)->Run();
    return 0;
}

BEGIN_MESSAGE_MAP(CQueryDlg)
    ON_WM_SHOWWINDOW()
    ON_WM_TIMER()
    ON_MESSAGE(WM_QUERY_DONE, OnQueryDone)
END_MESSAGE_MAP()

CQueryDlg::CQueryDlg(QueryRequest* request)
    : CDialog(IDD_QUERY), m_pRequest(request), m_countdown(this, kCountdownTimer) {}

// A dialog that ended some other way still lets go of its worker.
CQueryDlg::~CQueryDlg() { ReleaseWorker(); }

void CQueryDlg::OnShowWindow(BOOL shown, UINT) {
    // Ending the dialog hides it, which must not start anything.
    if (!shown) return;
    SetWindowText(LoadAppString(IDS_TITLE));
    // Another query's worker still runs, or this dialog has had its worker: a second
    // show starts nothing, and this dialog then ends only by cancel.
    if (currentWorker || m_bStarted) return;
    m_bStarted = true;

    SetDlgItemText(IDC_QUERY_SERVER, m_pRequest->server);
    m_pRequest->window = m_hWnd;
    if (!StartWorker()) return;

    // A burst of samples counts down as one query.
    m_nRemaining = m_pRequest->CountdownSeconds();
    SetDlgItemInt(IDC_QUERY_REMAINING, m_nRemaining, TRUE);
    if (!m_countdown.Set(1000)) AfxMessageBox("Timer is Error.");
}

bool CQueryDlg::StartWorker() {
    m_job = QueryJob::Create(*m_pRequest);
    m_nSerial = ++lastSerial;
    HWND window = m_hWnd;
    unsigned serial = m_nSerial;
    m_job->SetDoneNotice([window, serial] { PostMessageW(window, WM_QUERY_DONE, serial, 0); });

    // The worker's share of the job, which it takes over when it runs.
    auto share = std::make_unique<std::shared_ptr<QueryJob>>(m_job);
    CWinThread* worker =
        AfxBeginThread(&QueryWorkerProc, share.get(), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    if (!worker) {
        int error = static_cast<int>(GetLastError());
        m_pRequest->result = 0;
        *m_pRequest->statusText = "Thread";
        *m_pRequest->errorCode = error;
        EndDialog(IDOK);
        return false;
    }
    worker->m_bAutoDelete = FALSE;  // this dialog owns it, before it runs
    m_pWorker.reset(worker);
    currentWorker = worker;
    share.release();  // NOLINT(bugprone-unused-return-value): the worker owns it now
    worker->ResumeThread();
    return true;
}

bool CQueryDlg::ReleaseWorker() {
    // Only this dialog's own worker is let go; another query's is left to its dialog.
    if (!m_pWorker) return false;
    // The worker is never suspended: it is cut loose and runs out on the job it shares.
    m_job->Abandon();
    if (currentWorker == m_pWorker.get()) currentWorker = nullptr;
    m_pWorker.reset();
    return true;
}

void CQueryDlg::StopWorker() {
    if (!ReleaseWorker()) return;

    if (!m_countdown.IsRunning()) {
        AfxMessageBox("timer is not running");
    } else if (!m_countdown.Kill()) {
        AfxMessageBox("killtimer error");
    }
}

void CQueryDlg::EndQuery(const char* stageWord) {
    StopWorker();
    m_pRequest->result = 0;
    *m_pRequest->statusText = stageWord;
    *m_pRequest->errorCode = 0;
}

void CQueryDlg::OnTimer(UINT_PTR id) {
    if (id != m_countdown.Id() || !m_countdown.IsRunning()) return;
    --m_nRemaining;
    SetDlgItemInt(IDC_QUERY_REMAINING, m_nRemaining, TRUE);
    if (m_nRemaining <= 0) {
        EndQuery("TimeOut");
        OnOK();
    }
}

LRESULT CQueryDlg::OnQueryDone(WPARAM serial, LPARAM) {
    // A message of an earlier query, or one that arrives after this one has ended.
    if (!m_pWorker || serial != m_nSerial) return 0;
    StopWorker();
    m_job->CopyOutcomeTo(*m_pRequest);
    OnOK();
    return 0;
}

void CQueryDlg::OnCancel() {
    EndQuery("UserCancelled");
    CDialog::OnCancel();
}

void RunQueryInDialog(QueryRequest& request) {
    CQueryDlg dialog(&request);
    if (dialog.DoModal() == -1) {
        // Without its dialog the query cannot run; say so rather than report nothing.
        request.result = 0;
        *request.statusText = "Dialog";
        *request.errorCode = static_cast<int>(GetLastError());
    }
}
